#include "GuiFixture.h"

#include "bus/PXEventType.h"

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <string>
#include <tuple>

namespace {

using PageStackTest = GuiFixture;

TEST_F(PageStackTest, StartsOnTheRvpPageInPortraitAndClosingItCloses)
{
    EXPECT_EQ(window()->width(), 500);
    EXPECT_EQ(window()->height(), 600);
    EXPECT_EQ(currentPageName(), "rvp");
    EXPECT_EQ(pageVariant(), "phone-portrait");
    EXPECT_NE(onTop("rvpIp"), nullptr);
    EXPECT_TRUE(window()->isVisible());
    // Closing the first page closes the window.
    window()->close();
    EXPECT_FALSE(window()->isVisible());
}

TEST_F(PageStackTest, KeysGoToTheAddressField)
{
    auto inField = [&] {
        QQuickItem* focused = window()->activeFocusItem();
        return focused && focused->parentItem() &&
               focused->parentItem()->objectName() == "rvpTextField";
    };
    EXPECT_TRUE(waitFor(inField));
    // Back from the main page the rebuilt RVP page takes the keys again.
    showPage("main", "speed");
    callStack("previousPage");
    ASSERT_TRUE(waitFor([&] { return onTop("rvpIp") != nullptr; }));
    EXPECT_TRUE(waitFor(inField));
}

struct SizeCase
{
    int width;
    int height;
    const char* variant;
};

class PageStackLayout : public PageStackTest, public ::testing::WithParamInterface<SizeCase>
{
};

TEST_P(PageStackLayout, VariantFollowsTheSize)
{
    const SizeCase size = GetParam();
    showPage("main", "speed");
    QQuickItem* before = topPage();
    window()->resize(size.width, size.height);
    // Every width change rebuilds the page, whether or not the layout changes.
    ASSERT_TRUE(waitFor([&] { return topPage() != before && onTop("speed") != nullptr; }));
    EXPECT_EQ(pageVariant(), size.variant);
    EXPECT_EQ(currentPageName(), "main");
    EXPECT_EQ(topPage()->width(), size.width);
}

std::string layoutName(const ::testing::TestParamInfo<SizeCase>& info)
{
    std::string name = info.param.variant;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(FourLayouts, PageStackLayout,
                         ::testing::Values(SizeCase{480, 800, "phone-portrait"},
                                           SizeCase{600, 1000, "tablet-portrait"},
                                           SizeCase{800, 480, "phone-landscape"},
                                           SizeCase{1280, 800, "tablet-landscape"}),
                         layoutName);

TEST_F(PageStackTest, RefreshWaitsHalfASecondAfterTheLastWidthChange)
{
    QQuickItem* before = topPage();
    QElapsedTimer clock;
    clock.start();
    window()->resize(900, 600);
    // Still resizing: each change restarts the wait.
    QTest::qWait(200);
    window()->resize(1000, 600);
    const qint64 lastChange = clock.elapsed();
    ASSERT_TRUE(waitFor([&] { return topPage() != before; }));
    EXPECT_GE(clock.elapsed() - lastChange, 450);
    EXPECT_EQ(pageVariant(), "tablet-landscape");
    EXPECT_EQ(currentPageName(), "rvp");
}

TEST_F(PageStackTest, ClosingGoesBackWhileAllowedAndEndsWhileContacting)
{
    showPage("main", "speed");
    window()->close();
    ASSERT_TRUE(waitFor([&] { return currentPageName() == "rvp"; }));
    EXPECT_TRUE(window()->isVisible());
    EXPECT_EQ(stack()->property("depth").toInt(), 1);

    // Not while contacting the hub: then closing ends the program.
    showPage("main", "speed");
    m_bus->publish(APP_STATE_CHANGED, TRY_CONTACT_RVP);
    EXPECT_FALSE(property("toolbar", "backButtonEnabled").toBool());
    window()->close();
    EXPECT_FALSE(window()->isVisible());
    EXPECT_EQ(currentPageName(), "main");
}

TEST_F(PageStackTest, OnlyThePageOnTopIsAChildOfTheStackAfterGoingBack)
{
    showPage("main", "speed");
    showPage("about", "info");
    EXPECT_EQ(stack()->childItems().size(), 3);
    callStack("previousPage");
    ASSERT_TRUE(waitFor([&] { return onTop("speed") != nullptr; }));
    // rvp below, the rebuilt main on top; the about page and the old main are gone at once.
    EXPECT_EQ(stack()->childItems().size(), 2);
    EXPECT_EQ(currentPageName(), "main");
}

// A root that is not a window, or a page that does not build, ends the program with a message
// that names the file and line.
TEST(PXGuiManagerSetup, RootThatIsNotAWindowEndsTheProgram)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const auto& [name, text, message] :
         {std::make_tuple("item.qml", "Item {}", "Error: Your root item has to be a Window\\."),
          std::make_tuple("broken.qml", "Item { width: }",
                          "broken\\.qml:2.*Error: Your root item has to be a Window\\.")}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("import QtQuick 2.2\n") + text + "\n");
        file.close();
        EXPECT_DEATH(
            {
                QQmlApplicationEngine engine;
                PXGuiManager manager(std::make_shared<PXEventBus>(), nullptr);
                manager.setup(&engine, QUrl::fromLocalFile(file.fileName()));
            },
            message);
    }
}

} // namespace
