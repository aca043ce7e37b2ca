#include "GuiFixture.h"

#include "bus/PXEventType.h"
#include "bus/Version.h"
#include "ui/UiResources.h"

#include <QFile>
#include <QFontDatabase>
#include <QPixmap>
#include <QPointer>

namespace {

using PXGuiManagerTest = GuiFixture;

TEST(PXGuiManagerResources, FontsAndImagesAreCompiledIn)
{
    EXPECT_EQ(PXGuiManager::loadFonts(), 10);
    EXPECT_TRUE(QFontDatabase().families().contains("Open Sans"));
    roamnode::initUiResources();
    for (const char* image : {":images/pellix.png", ":images/px-logo.png", ":images/px-about.png",
                              ":images/pellix-footer.png", ":images/icon-equal.png",
                              ":images/icon-frenchquote.png", ":images/icon-question.png"})
        EXPECT_FALSE(QPixmap(image).isNull()) << image;
    for (const char* svg :
         {":images/icon-equal.svg", ":images/icon-frenchquote.svg", ":images/icon-question.svg"})
        EXPECT_TRUE(QFile::exists(svg)) << svg;
}

// Speeds reach the gauges of the page on top only, and the end of a scenario resets them. Each
// state row starts from the opposite state so that every value must change; a state the window
// does not know changes nothing.
TEST_F(PXGuiManagerTest, MainPageFollowsSpeedsStatesAndHeartbeats)
{
    m_bus->publish(RX_SPEED, 50.0f);
    m_bus->publish(SCENARIO_ENDED);
    EXPECT_EQ(onTop("speed"), nullptr);

    showPage("main", "speed");
    QObject* mainSpeed = onTop("speed");
    showPage("about", "info");
    EXPECT_EQ(property("info", "version").toString(), roamnode::kVersion);
    m_bus->publish(RX_SPEED, 40.0f);
    m_bus->publish(DEVICE_NAME, std::string("laptop"));
    EXPECT_DOUBLE_EQ(mainSpeed->property("rxSpeed").toDouble(), 0.0);

    // Back on the main page, which is built anew and takes the calls again.
    previousPage();
    ASSERT_TRUE(QTest::qWaitFor([&] { return onTop("speed") && onTop("actionButton"); }));
    m_bus->publish(RX_SPEED, 50.0f);
    m_bus->publish(TX_SPEED, 12.25f);
    EXPECT_DOUBLE_EQ(property("speed", "rxSpeed").toDouble(), 50.0);
    EXPECT_DOUBLE_EQ(property("speed", "txSpeed").toDouble(), 12.25);
    m_bus->publish(SCENARIO_ENDED);
    EXPECT_DOUBLE_EQ(property("speed", "rxSpeed").toDouble(), 0.0);

    const struct
    {
        AppState state;
        int actionButton;
        int stateBar;
        bool back;
    } rows[] = {{BOOTING, 0, 0, true},          {BOOTING_READY, 1, 1, true},
                {TRY_CONTACT_RVP, 2, 2, false}, {REGISTERED, 2, 3, false},
                {ARMED, 3, 4, false},           {RUNNING, 4, 5, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.state);
        m_bus->publish(APP_STATE_CHANGED, row.back ? RUNNING : BOOTING);
        m_bus->publish(APP_STATE_CHANGED, row.state);
        EXPECT_EQ(property("actionButton", "buttonState").toInt(), row.actionButton);
        EXPECT_EQ(property("appState", "appState").toInt(), row.stateBar);
        EXPECT_EQ(property("backButton", "visible").toBool(), row.back);
        EXPECT_EQ(stack()->property("previousPageEnabled").toBool(), row.back);
        m_bus->publish(APP_STATE_CHANGED, static_cast<AppState>(9));
        EXPECT_EQ(property("appState", "appState").toInt(), row.stateBar);
    }

    // A heartbeat pulses the active marker, one of the bar's row's children: it grows to 10
    // pixels and shrinks back.
    m_bus->publish(HEARTBEAT_OK);
    QPointer<QQuickItem> bar = qobject_cast<QQuickItem*>(onTop("appState"));
    ASSERT_FALSE(bar.isNull());
    auto dotSize = [&] {
        double largest = 0;
        for (QQuickItem* row : bar ? bar->childItems() : QList<QQuickItem*>()) {
            for (QQuickItem* marker : row->childItems())
                largest = std::max(largest, marker->property("dotSize").toDouble());
        }
        return largest;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return dotSize() > 9.5; }, 2000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return dotSize() < 6.5; }, 2000));
}

// The database cannot be created below a file, not even by root: the heartbeat still gets an
// identifier.
class PXGuiManagerNoStorageTest : public GuiFixture
{
protected:
    void SetUp() override { start(std::make_shared<PXEventBus>(), "/dev/null/storage"); }
};

TEST_F(PXGuiManagerNoStorageTest, DeviceIdIsAnsweredWithoutADatabase)
{
    testsupport::BusRecorder recorder(*m_bus, {DEVICE_ID});
    m_bus->publish(DEVICE_ID_NEEDED);
    m_bus->publish(DEVICE_ID_NEEDED);
    ASSERT_EQ(recorder.entries.size(), 2u);
    EXPECT_EQ(recorder.entries[0].text.size(), 36u);
    EXPECT_EQ(recorder.entries[1].text, recorder.entries[0].text);
}

// These go through the application object, so the manager uses its bus.
class PXGuiManagerAppTest : public GuiFixture
{
protected:
    void SetUp() override { start(m_app->getEventBus()); }
};

// Inactive or unknown button states, and an abort without a scenario, change nothing; the
// address and the active buttons reach the application.
TEST_F(PXGuiManagerAppTest, ButtonsAndTheAddressActOnTheApplicationAndTheMainPageShowsItsData)
{
    Roamnode& roamnode = *m_app;
    roamnode.disconnect();
    {
        testsupport::BusRecorder recorder(*m_bus, {APP_STATE_CHANGED});
        for (int button : {int(PXGuiManager::REGISTER_INACTIVE), int(PXGuiManager::ABORT_INACTIVE),
                           -1, 7, int(PXGuiManager::ABORT_ACTIVE)})
            m_manager->actionButtonClicked(button);
        EXPECT_TRUE(recorder.entries.empty());
        EXPECT_EQ(roamnode.getAppState(), BOOTING_READY);
    }
    // "localhost" resolves without a network; the name reaches the application unchanged.
    m_manager->rvpIpAddressSet("localhost");
    EXPECT_EQ(roamnode.getRvpAddress(), "localhost");
    EXPECT_EQ(roamnode.getAppState(), TRY_CONTACT_RVP);

    m_manager->actionButtonClicked(PXGuiManager::UNREGISTER);
    EXPECT_EQ(roamnode.getAppState(), BOOTING_READY);
    m_manager->actionButtonClicked(PXGuiManager::REGISTER_ACTIVE);
    EXPECT_EQ(roamnode.getAppState(), TRY_CONTACT_RVP);
    m_manager->actionButtonClicked(PXGuiManager::UNREGISTER);
    EXPECT_EQ(roamnode.getAppState(), BOOTING_READY);

    // Built after the state changed, the main page asks for it, and again when rotated; its data
    // section shows the address, asks for the device's values in order and shows the answers.
    showPage("main", "data");
    EXPECT_EQ(property("actionButton", "buttonState").toInt(), 1);
    EXPECT_EQ(property("appState", "appState").toInt(), 1);

    // The section's own refresh shows "..." and asks again 300 ms after it is built.
    ASSERT_TRUE(QTest::qWaitFor([&] { return property("data", "refreshShown").toBool(); }));
    testsupport::BusRecorder recorder(*m_bus, {GET_DEVICE_NAME, GET_DEVICE_TYPE, GET_DEVICE_OS,
                                               GET_CONNECTION_TYPE, GET_INTERFACES});
    m_manager->requestDataRefresh();
    EXPECT_EQ(property("data", "rvpAddress").toString(), "localhost");
    EXPECT_EQ(recorder.ids(), (std::vector<int>{GET_DEVICE_NAME, GET_DEVICE_TYPE, GET_DEVICE_OS,
                                                GET_CONNECTION_TYPE, GET_INTERFACES}));
    m_bus->publish(DEVICE_NAME, std::string("laptop"));
    m_bus->publish(DEVICE_TYPE, std::string("computer"));
    m_bus->publish(DEVICE_OS, std::string("Linux"));
    m_bus->publish(CONNECTION_TYPE, std::string("wifi"));
    m_bus->publish(INTERFACES, std::string(R"([{"name": "eth0","displayname": "eth0",)"
                                           R"("ipv4": ["10.0.0.5"],"ipv6": []}])"));
    EXPECT_EQ(property("data", "deviceName").toString(), "laptop");
    EXPECT_EQ(property("data", "deviceType").toString(), "computer");
    EXPECT_EQ(property("data", "deviceOs").toString(), "Linux");
    EXPECT_EQ(property("data", "connectionType").toString(), "wifi");
    EXPECT_EQ(onTop("interfaces")->property("count").toInt(), 2);

    window()->resize(700, 400);
    ASSERT_TRUE(QTest::qWaitFor([&] { return pageVariant() == "phone-landscape"; }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return onTop("actionButton") != nullptr; }));
    EXPECT_EQ(property("actionButton", "buttonState").toInt(), 1);
    EXPECT_EQ(property("appState", "appState").toInt(), 1);
}

} // namespace
