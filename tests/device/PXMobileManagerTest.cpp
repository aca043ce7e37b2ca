#include "device/PXMobileManager.h"

#include "BusRecorder.h"
#include "RecordedInterfaceSystem.h"
#include "WarningCapture.h"
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"
#include "device/InterfaceJson.h"

#include <QDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <sys/utsname.h>
#include <unistd.h>

#include <fstream>
#include <thread>

using R = RecordedInterfaceSystem;

namespace {

class ManagerTest : public testing::Test
{
protected:
    ManagerTest()
        : m_manager(m_bus, config()),
          m_listener(*m_bus,
                     {BATTERY_LEVEL, DEVICE_ID, DEVICE_ID_NEEDED, DEVICE_NAME, DEVICE_GIVEN_NAME,
                      DEVICE_OS, DEVICE_OS_VERSION, DEVICE_TYPE, CONNECTION_TYPE, INTERFACES,
                      NETWORK_INFO, DEVICE_IPV4, DEVICE_IPV6, SSID, BSSID, RSSI})
    {
    }
    PXMobileManager::Config config()
    {
        PXMobileManager::Config config;
        config.system = &m_system;
        return config;
    }

    RecordedInterfaceSystem m_system;
    std::shared_ptr<PXEventBus> m_bus = std::make_shared<PXEventBus>();
    PXMobileManager m_manager;
    testsupport::BusRecorder m_listener;
};

} // namespace

TEST_F(ManagerTest, UsableAddressesSkipLoopbackAndLinkLocalIpv4)
{
    m_system.entries = {R::entry("lo", "127.0.0.1"), R::entry("eth0", "169.254.3.4"),
                        R::entry("lo", "::1", 128), R::entry("eth0", "fe80::1", 64)};
    m_bus->publish(GET_DEVICE_IPV4);
    m_bus->publish(GET_DEVICE_IPV6);
    ASSERT_EQ(m_listener.count(DEVICE_IPV4), 1);
    EXPECT_EQ(m_listener.lastText(DEVICE_IPV4), "");
    EXPECT_EQ(m_listener.lastText(DEVICE_IPV6), "[\"fe80::1/64\"]");

    // The first usable IPv4 in interface, then address order; only the exact prefixes count.
    InterfaceInfo lo, eth, wlan, odd;
    lo.ipv4 = {"127.0.0.1"};
    eth.ipv4 = {"0.1.2.3", "169.254.9.9", "10.0.0.7", "10.0.0.8"};
    wlan.ipv4 = {"192.168.1.2"};
    odd.ipv4 = {"1.127.0.0"};
    EXPECT_EQ(PXMobileManager::usableIpv4({lo, eth, wlan}), "10.0.0.7");
    EXPECT_EQ(PXMobileManager::usableIpv4({odd}), "1.127.0.0");
    // IPv6 skips only the loopback address.
    eth.ipv6 = {"::1/64", "2001:db8::1/64", "fe80::1/64"};
    EXPECT_EQ(PXMobileManager::usableIpv6({eth}), "[\"2001:db8::1/64\", \"fe80::1/64\"]");
    EXPECT_EQ(PXMobileManager::usableIpv6({}), "[]");
}

// "ID VERSION_ID" from os-release, values as written; lsb_release only when the file is missing.
TEST(OsVersion, FromOsReleaseOrLsbRelease)
{
    const std::string marker =
        QDir::tempPath().toStdString() + "/roamnode-lsb-marker-" + std::to_string(getpid());
    const std::vector<std::string> warningTexts = {
        "Could not determine the OS version using /etc/os-release",
        "Could not determine the distribution version using lsb_release, try installing it from "
        "the package manager"};
    const struct
    {
        const char* osRelease; // nullptr: no such file
        std::string lsbRelease;
        std::string version;
        int warnings; // how many of warningTexts, in order
    } cases[] = {
        {"PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n"
         "VERSION_ID=\"12\"\nVERSION=\"12 (bookworm)\"\nID=debian\n",
         "false", "debian 12", 0},
        {"ID=ubuntu\nID_LIKE=debian\nVERSION_ID=22.04\"\n", "false", "ubuntu 22.04", 0},
        {"ID=\"rhel\"\nVERSION_ID=\"9.2\"\n", "false", "\"rhel\" 9.2", 0},
        // Without the lines: one blank, and lsb_release is not run (it would make the marker).
        {"NAME=\"Something\"\nVERSION=\"1\"\n", "touch " + marker, " ", 0},
        {nullptr, "printf '\"Debian GNU/Linux 12 (bookworm)\"\\n'",
         "Debian GNU/Linux 12 (bookworm)", 1},
        {nullptr, "printf '" + std::string(300, 'x') + "\\n'", std::string(300, 'x'), 1},
        {nullptr, "true", "", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lsbRelease);
        QTemporaryFile file;
        ASSERT_TRUE(file.open());
        file.write(c.osRelease ? c.osRelease : "");
        file.close();
        testsupport::WarningCapture warnings;
        EXPECT_EQ(PXMobileManager::osVersion(c.osRelease ? file.fileName().toStdString()
                                                         : "/nonexistent/os-release",
                                             c.lsbRelease),
                  c.version);
        EXPECT_EQ(warnings.texts(), std::vector<std::string>(warningTexts.begin(),
                                                             warningTexts.begin() + c.warnings));
    }
    EXPECT_FALSE(std::ifstream(marker).is_open());
}

TEST_F(ManagerTest, FixedFactsAndSubscriptions)
{
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    for (int id : {GET_BATTERY_LEVEL, GET_DEVICE_TYPE, GET_CONNECTION_TYPE, GET_DEVICE_NAME,
                   GET_DEVICE_GIVEN_NAME, GET_DEVICE_OS, GET_DEVICE_OS_VERSION})
        m_bus->publish(id);
    EXPECT_EQ(m_listener.lastText(BATTERY_LEVEL), "-1");
    EXPECT_EQ(m_listener.lastText(DEVICE_TYPE), "Desktop");
    EXPECT_EQ(m_listener.lastText(CONNECTION_TYPE), "Wi-Fi");
    EXPECT_EQ(m_listener.lastText(DEVICE_NAME), names.nodename);
    EXPECT_EQ(m_listener.lastText(DEVICE_GIVEN_NAME), names.nodename);
    EXPECT_EQ(m_listener.lastText(DEVICE_OS), names.sysname);
    EXPECT_EQ(m_listener.lastText(DEVICE_OS_VERSION), PXMobileManager::osVersion());
    EXPECT_EQ(m_listener.ids(),
              (std::vector<int>{BATTERY_LEVEL, DEVICE_TYPE, CONNECTION_TYPE, DEVICE_NAME,
                                DEVICE_GIVEN_NAME, DEVICE_OS, DEVICE_OS_VERSION}));

    // A manager that goes leaves none of its sixteen subscriptions behind.
    const std::size_t before = m_bus->registrationCount();
    {
        PXMobileManager another(m_bus, config());
        EXPECT_EQ(m_bus->registrationCount(), before + 16);
    }
    EXPECT_EQ(m_bus->registrationCount(), before);
}

// Without a front end the manager only asks; the front end answers with the id it keeps.
TEST_F(ManagerTest, DeviceIdComesFromTheFrontEnd)
{
    m_bus->publish(GET_DEVICE_ID);
    EXPECT_EQ(m_listener.ids(), std::vector<int>{DEVICE_ID_NEEDED});

    testsupport::BusRecorder frontEnd(*m_bus, {DEVICE_ID_NEEDED}, [this](int) {
        m_bus->publish(DEVICE_ID, std::string("3f1c-uuid"));
    });
    m_bus->publish(GET_DEVICE_ID);
    EXPECT_EQ(m_listener.lastText(DEVICE_ID), "3f1c-uuid");
    EXPECT_EQ(m_listener.count(DEVICE_ID), 1);
}

// What the hub reads of the interfaces is read afresh. The Wi-Fi answers come from the last list
// read (the defaults before any) without reading; a refresh reads anew.
TEST_F(ManagerTest, InterfacesAreReadAfreshAndWifiAnswersUseTheLastList)
{
    const auto wifiAnswers = [this] {
        for (int id : {GET_SSID, GET_BSSID, GET_RSSI})
            m_bus->publish(id);
        return m_listener.lastText(SSID) + " " + m_listener.lastText(BSSID) + " " +
               m_listener.lastText(RSSI);
    };
    EXPECT_EQ(wifiAnswers(), " 00:00:00:00:00:00 -127");
    m_system.entries = {R::entry("lo", "127.0.0.1")};
    m_bus->publish(GET_INTERFACES);
    EXPECT_EQ(m_listener.lastText(INTERFACES), interfacesJson(m_manager.lastInterfaces()));

    m_system.entries.push_back(R::entry("wlan0"));
    m_system.wirelessAnswers["wlan0"] = {R::associated("lab\"\x02", 5180e6, 0xC9, 1000)};
    m_bus->publish(GET_NETWORK_INFO);
    EXPECT_EQ(m_listener.lastText(NETWORK_INFO), networkInfoJson(m_manager.lastInterfaces()));
    EXPECT_EQ(m_manager.lastInterfaces().size(), 2u);
    EXPECT_EQ(wifiAnswers(), "lab\"\x02 00:11:22:33:44:55 -55");
    EXPECT_EQ(m_system.addressCalls, 2);

    m_system.wirelessAnswers["wlan0"] = {R::associated("lab", 5180e6, 0xC9, 1000)};
    m_bus->publish(REFRESH_NETWORK_INFO);
    EXPECT_EQ(wifiAnswers(), "lab 00:11:22:33:44:55 -55");
    EXPECT_EQ(m_system.addressCalls, 3);

    // The scenario run thread samples through the manager while the main thread answers.
    std::thread sampler([&] {
        for (int i = 0; i < 200; ++i)
            m_manager.readInterfaces();
    });
    for (int i = 0; i < 200; ++i) {
        m_bus->publish(GET_SSID);
        ASSERT_EQ(m_listener.lastText(SSID), "lab");
    }
    sampler.join();
}
