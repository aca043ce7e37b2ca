#include "GuiFixture.h"

#include "bus/PXEventType.h"

#include <QElapsedTimer>
#include <QFile>

#include <tuple>

namespace {

using PageStackTest = GuiFixture;

// Opens on the RVP page with the keys in the address field; going back leaves only the page on
// top as a child of the stack; closing goes back while allowed and closes the first page.
TEST_F(PageStackTest, StartsOnTheRvpPageAndClosingGoesBackToIt)
{
    EXPECT_EQ(window()->width(), 500);
    EXPECT_EQ(window()->height(), 600);
    EXPECT_EQ(currentPageName(), "rvp");
    EXPECT_EQ(pageVariant(), "phone-portrait");
    auto inField = [&] {
        QQuickItem* focused = window()->activeFocusItem();
        return focused && focused->parentItem() &&
               focused->parentItem()->objectName() == "rvpTextField";
    };
    EXPECT_TRUE(QTest::qWaitFor(inField));

    showPage("main", "speed");
    showPage("about", "info");
    EXPECT_EQ(stack()->childItems().size(), 3);
    previousPage();
    ASSERT_TRUE(QTest::qWaitFor([&] { return onTop("speed") != nullptr; }));
    // rvp below, the rebuilt main on top; the about page and the old main are gone at once.
    EXPECT_EQ(stack()->childItems().size(), 2);
    EXPECT_EQ(currentPageName(), "main");

    window()->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return onTop("rvpIp") != nullptr; }));
    EXPECT_TRUE(window()->isVisible());
    EXPECT_EQ(stack()->property("depth").toInt(), 1);
    // The rebuilt RVP page takes the keys again.
    EXPECT_TRUE(QTest::qWaitFor(inField));
    window()->close();
    EXPECT_FALSE(window()->isVisible());
}

// Every width change rebuilds the page, whether or not the layout changes, half a second after
// the last one. Closing while contacting the hub ends the program instead of going back.
TEST_F(PageStackTest, LayoutFollowsTheSizeAndClosingWhileContactingEndsTheProgram)
{
    showPage("main", "speed");
    // Still resizing: each change restarts the wait.
    window()->resize(900, 600);
    QTest::qWait(200);
    for (const auto& [width, height, variant] : {std::make_tuple(480, 800, "phone-portrait"),
                                                 std::make_tuple(600, 1000, "tablet-portrait"),
                                                 std::make_tuple(800, 480, "phone-landscape"),
                                                 std::make_tuple(1280, 800, "tablet-landscape")}) {
        QQuickItem* before = topPage();
        QElapsedTimer clock;
        clock.start();
        window()->resize(width, height);
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return topPage() != before && onTop("speed") != nullptr;
        })) << variant;
        EXPECT_GE(clock.elapsed(), 450) << variant;
        EXPECT_EQ(pageVariant(), variant);
        EXPECT_EQ(currentPageName(), "main");
        EXPECT_EQ(topPage()->width(), width);
    }
    m_bus->publish(APP_STATE_CHANGED, TRY_CONTACT_RVP);
    window()->close();
    EXPECT_FALSE(window()->isVisible());
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
