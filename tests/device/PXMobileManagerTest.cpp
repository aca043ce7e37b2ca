#include "device/PXMobileManager.h"

#include "RecordedInterfaceSystem.h"
#include "WarningCollector.h"
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"
#include "device/InterfaceJson.h"

#include <QString>
#include <QtGlobal>

#include "JsonParse.h"

#include <json/json.h>

#include <gtest/gtest.h>

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <thread>

using R = RecordedInterfaceSystem;

namespace {

// Writes a file under the test's temporary directory and removes it afterwards.
class TempFile
{
public:
    explicit TempFile(const std::string& content)
    {
        char name[] = "/tmp/roamnode-device-XXXXXX";
        const int fd = mkstemp(name);
        m_path = name;
        if (fd >= 0) {
            if (!content.empty()) {
                EXPECT_EQ(write(fd, content.data(), content.size()),
                          static_cast<ssize_t>(content.size()));
            }
            close(fd);
        }
    }
    ~TempFile() { std::remove(m_path.c_str()); }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Records every answer the manager publishes.
class Listener : public PXEventHandler
{
public:
    explicit Listener(std::shared_ptr<PXEventBus> bus) : m_bus(std::move(bus))
    {
        for (int id : {BATTERY_LEVEL, DEVICE_ID, DEVICE_ID_NEEDED, DEVICE_NAME, DEVICE_GIVEN_NAME,
                       DEVICE_OS, DEVICE_OS_VERSION, DEVICE_TYPE, CONNECTION_TYPE, INTERFACES,
                       NETWORK_INFO, DEVICE_IPV4, DEVICE_IPV6, SSID, BSSID, RSSI})
            m_bus->subscribe(id, this);
    }
    ~Listener() override { m_bus->unsubscribe(this); }

    using PXEventHandler::handleEvent;
    void handleEvent(int id, PXEmptyEventContents) override { events.push_back(id); }
    void handleEvent(int id, std::string value) override
    {
        events.push_back(id);
        texts[id] = value;
    }
    void handleEvent(int id, float value) override
    {
        events.push_back(id);
        floats[id] = value;
    }
    void handleEvent(int id, int value) override
    {
        events.push_back(id);
        ints[id] = value;
    }

    std::vector<int> events;
    std::map<int, std::string> texts;
    std::map<int, float> floats;
    std::map<int, int> ints;

private:
    std::shared_ptr<PXEventBus> m_bus;
};

PXMobileManager::Config recorded(RecordedInterfaceSystem& system)
{
    PXMobileManager::Config config;
    config.system = &system;
    return config;
}

} // namespace

TEST(UsableAddresses, LoopbackAndLinkLocalIpv4GiveEmptyText)
{
    RecordedInterfaceSystem system;
    system.entries = {R::ipv4("lo", "127.0.0.1"), R::ipv4("eth0", "169.254.3.4")};
    auto bus = std::make_shared<PXEventBus>();
    PXMobileManager manager(bus, recorded(system));
    Listener listener(bus);
    bus->publish(GET_DEVICE_IPV4);
    ASSERT_EQ(listener.texts.count(DEVICE_IPV4), 1u);
    EXPECT_EQ(listener.texts[DEVICE_IPV4], "");
}

TEST(UsableAddresses, FirstUsableIpv4InInterfaceThenAddressOrder)
{
    InterfaceInfo lo;
    lo.ipv4 = {"127.0.0.1"};
    InterfaceInfo eth;
    eth.ipv4 = {"0.1.2.3", "169.254.9.9", "10.0.0.7", "10.0.0.8"};
    InterfaceInfo wlan;
    wlan.ipv4 = {"192.168.1.2"};
    EXPECT_EQ(PXMobileManager::usableIpv4({lo, eth, wlan}), "10.0.0.7");
    EXPECT_EQ(PXMobileManager::usableIpv4({lo}), "");
    // Only the exact prefixes count: "1.127.0.0" is usable.
    InterfaceInfo odd;
    odd.ipv4 = {"1.127.0.0"};
    EXPECT_EQ(PXMobileManager::usableIpv4({odd}), "1.127.0.0");
}

TEST(UsableAddresses, Ipv6SkipsOnlyTheLoopbackAddress)
{
    RecordedInterfaceSystem system;
    system.entries = {R::ipv6("lo", "::1", 128), R::ipv6("eth0", "fe80::1", 64)};
    auto bus = std::make_shared<PXEventBus>();
    PXMobileManager manager(bus, recorded(system));
    Listener listener(bus);
    bus->publish(GET_DEVICE_IPV6);
    EXPECT_EQ(listener.texts[DEVICE_IPV6], "[\"fe80::1/64\"]");

    InterfaceInfo eth;
    eth.ipv6 = {"::1/64", "2001:db8::1/64", "fe80::1/64"};
    EXPECT_EQ(PXMobileManager::usableIpv6({eth}), "[\"2001:db8::1/64\", \"fe80::1/64\"]");
    EXPECT_EQ(PXMobileManager::usableIpv6({}), "[]");
}

// "ID VERSION_ID" from os-release, values as written; lsb_release only when the file is missing.
TEST(OsVersion, FromOsReleaseOrLsbRelease)
{
    TempFile marker("");
    std::remove(marker.path().c_str());
    const std::string lsbWarning = "Could not determine the distribution version using "
                                   "lsb_release, try installing it from the package manager";
    const std::string osReleaseWarning = "Could not determine the OS version using /etc/os-release";
    const struct
    {
        const char* osRelease; // nullptr: no such file
        std::string lsbRelease;
        std::string version;
        std::vector<std::string> warnings;
    } cases[] = {
        {"PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n"
         "VERSION_ID=\"12\"\nVERSION=\"12 (bookworm)\"\nID=debian\n",
         "false",
         "debian 12",
         {}},
        {"ID=ubuntu\nID_LIKE=debian\nVERSION_ID=22.04\"\n", "false", "ubuntu 22.04", {}},
        {"ID=\"rhel\"\nVERSION_ID=\"9.2\"\n", "false", "\"rhel\" 9.2", {}},
        // Without the lines: one blank, and lsb_release is not run (it would make the marker).
        {"NAME=\"Something\"\nVERSION=\"1\"\n", "touch " + marker.path(), " ", {}},
        {nullptr,
         "printf '\"Debian GNU/Linux 12 (bookworm)\"\\n'",
         "Debian GNU/Linux 12 (bookworm)",
         {osReleaseWarning}},
        {nullptr,
         "printf '" + std::string(300, 'x') + "\\n'",
         std::string(300, 'x'),
         {osReleaseWarning}},
        {nullptr, "true", "", {osReleaseWarning, lsbWarning}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lsbRelease);
        TempFile file(c.osRelease ? c.osRelease : "");
        WarningCollector warnings;
        EXPECT_EQ(PXMobileManager::osVersion(c.osRelease ? file.path() : "/nonexistent/os-release",
                                             c.lsbRelease),
                  c.version);
        EXPECT_EQ(warnings.texts(), c.warnings);
    }
    EXPECT_FALSE(std::ifstream(marker.path()).is_open());
}

TEST(DeviceAnswers, FixedFactsOnARealBus)
{
    RecordedInterfaceSystem system;
    auto bus = std::make_shared<PXEventBus>();
    PXMobileManager manager(bus, recorded(system));
    Listener listener(bus);

    utsname names{};
    ASSERT_EQ(uname(&names), 0);

    bus->publish(GET_BATTERY_LEVEL);
    bus->publish(GET_DEVICE_TYPE);
    bus->publish(GET_CONNECTION_TYPE);
    bus->publish(GET_DEVICE_NAME);
    bus->publish(GET_DEVICE_GIVEN_NAME);
    bus->publish(GET_DEVICE_OS);
    bus->publish(GET_DEVICE_OS_VERSION);

    EXPECT_EQ(listener.floats[BATTERY_LEVEL], -1.0f);
    EXPECT_EQ(listener.texts[DEVICE_TYPE], "Desktop");
    EXPECT_EQ(listener.texts[CONNECTION_TYPE], "Wi-Fi");
    EXPECT_EQ(listener.texts[DEVICE_NAME], names.nodename);
    EXPECT_EQ(listener.texts[DEVICE_GIVEN_NAME], names.nodename);
    EXPECT_EQ(listener.texts[DEVICE_OS], names.sysname);
    EXPECT_EQ(listener.texts[DEVICE_OS_VERSION], PXMobileManager::osVersion());
    EXPECT_EQ(listener.events,
              (std::vector<int>{BATTERY_LEVEL, DEVICE_TYPE, CONNECTION_TYPE, DEVICE_NAME,
                                DEVICE_GIVEN_NAME, DEVICE_OS, DEVICE_OS_VERSION}));
}

TEST(DeviceAnswers, DeviceIdWithoutFrontEndAsksAndPublishesNoId)
{
    RecordedInterfaceSystem system;
    auto bus = std::make_shared<PXEventBus>();
    PXMobileManager manager(bus, recorded(system));
    Listener listener(bus);
    bus->publish(GET_DEVICE_ID);
    EXPECT_EQ(listener.events, std::vector<int>{DEVICE_ID_NEEDED});
}

// The front end answers DEVICE_ID_NEEDED with the id it keeps.
TEST(DeviceAnswers, DeviceIdComesFromTheFrontEnd)
{
    class FrontEnd : public PXEventHandler
    {
    public:
        explicit FrontEnd(std::shared_ptr<PXEventBus> bus) : m_bus(std::move(bus))
        {
            m_bus->subscribe(DEVICE_ID_NEEDED, this);
        }
        ~FrontEnd() override { m_bus->unsubscribe(this); }
        using PXEventHandler::handleEvent;
        void handleEvent(int, PXEmptyEventContents) override
        {
            m_bus->publish(DEVICE_ID, std::string("3f1c-uuid"));
        }

    private:
        std::shared_ptr<PXEventBus> m_bus;
    };

    RecordedInterfaceSystem system;
    auto bus = std::make_shared<PXEventBus>();
    PXMobileManager manager(bus, recorded(system));
    FrontEnd frontEnd(bus);
    Listener listener(bus);
    bus->publish(GET_DEVICE_ID);
    EXPECT_EQ(listener.texts[DEVICE_ID], "3f1c-uuid");
    EXPECT_EQ(std::count(listener.events.begin(), listener.events.end(), DEVICE_ID), 1);
}

TEST(DeviceAnswers, InterfacesAndNetworkInfoAreReadAfresh)
{
    RecordedInterfaceSystem system;
    system.entries = {R::ipv4("lo", "127.0.0.1")};
    auto bus = std::make_shared<PXEventBus>();
    PXMobileManager manager(bus, recorded(system));
    Listener listener(bus);

    bus->publish(GET_INTERFACES);
    EXPECT_EQ(listener.texts[INTERFACES], interfacesJson(manager.lastInterfaces()));
    EXPECT_NE(listener.texts[INTERFACES].find("\"type\": \"loopback\""), std::string::npos);

    system.entries.push_back(R::packet("wlan0"));
    system.wirelessAnswers["wlan0"] = {R::associated("lab\"\x02", 5180e6, 0xC9, 1000)};
    bus->publish(GET_NETWORK_INFO);
    EXPECT_EQ(system.addressCalls, 2);
    EXPECT_TRUE(testsupport::parses(listener.texts[NETWORK_INFO])) << listener.texts[NETWORK_INFO];
    EXPECT_EQ(manager.lastInterfaces().size(), 2u);
}

TEST(DeviceAnswers, WifiAnswersUseTheLastListWithoutReading)
{
    RecordedInterfaceSystem system;
    system.entries = {R::packet("wlan0")};
    system.wirelessAnswers["wlan0"] = {R::associated("lab", 5180e6, 0xC9, 1000)};
    auto bus = std::make_shared<PXEventBus>();
    PXMobileManager manager(bus, recorded(system));
    Listener listener(bus);

    // Nothing read yet: the defaults.
    bus->publish(GET_SSID);
    bus->publish(GET_BSSID);
    bus->publish(GET_RSSI);
    EXPECT_EQ(listener.texts[SSID], "");
    EXPECT_EQ(listener.texts[BSSID], "00:00:00:00:00:00");
    EXPECT_EQ(listener.ints[RSSI], -127);
    EXPECT_EQ(system.addressCalls, 0);

    bus->publish(REFRESH_NETWORK_INFO);
    EXPECT_EQ(system.addressCalls, 1);
    bus->publish(GET_SSID);
    bus->publish(GET_BSSID);
    bus->publish(GET_RSSI);
    EXPECT_EQ(listener.texts[SSID], "lab");
    EXPECT_EQ(listener.texts[BSSID], "00:11:22:33:44:55");
    EXPECT_EQ(listener.ints[RSSI], -55);
    EXPECT_EQ(system.addressCalls, 1);
}

TEST(DeviceAnswers, SubscribesSixteenIdsAndUnsubscribesThemAll)
{
    auto bus = std::make_shared<PXEventBus>();
    RecordedInterfaceSystem system;
    {
        PXMobileManager manager(bus, recorded(system));
        EXPECT_EQ(bus->registrationCount(), 16u);
    }
    EXPECT_EQ(bus->registrationCount(), 0u);
}

// The scenario run thread samples through the manager while the main thread answers the hub.
TEST(DeviceAnswers, LastListIsSafeAcrossThreads)
{
    RecordedInterfaceSystem system;
    system.entries = {R::packet("wlan0"), R::ipv4("wlan0", "10.0.0.2")};
    system.wirelessAnswers["wlan0"] = {R::associated("lab", 5180e6, 0xC9, 1000)};
    auto bus = std::make_shared<PXEventBus>();
    PXMobileManager manager(bus, recorded(system));
    Listener listener(bus);

    std::thread sampler([&] {
        for (int i = 0; i < 200; ++i)
            manager.readInterfaces();
    });
    for (int i = 0; i < 200; ++i) {
        bus->publish(GET_SSID);
        ASSERT_TRUE(listener.texts[SSID].empty() || listener.texts[SSID] == "lab");
    }
    sampler.join();
    bus->publish(GET_SSID);
    EXPECT_EQ(listener.texts[SSID], "lab");
}
