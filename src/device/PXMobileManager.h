#pragma once

#include "bus/PXEventHandler.h"
#include "device/InterfaceInfo.h"
#include "device/InterfaceSource.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class InterfaceSystem;
class PXEventBus;

// Answers the requests for facts about the device: identity, operating system, type, addresses,
// Wi-Fi state and network interfaces. A pure event handler; every answer is published at once,
// in the publisher's thread.
//
// The bus answers run on the main thread. readInterfaces also runs on scenario run threads (the
// monitors sample through InterfaceSource; the application object ends every run before this
// manager goes), so the last interface list, which the SSID and the
// other Wi-Fi answers use, is kept under m_mutex; everything else is fixed after construction.
class PXMobileManager : public PXEventHandler, public InterfaceSource
{
public:
    // Where the operating system version comes from; tests point these elsewhere.
    struct Config
    {
        std::string osReleasePath = "/etc/os-release";
        std::string lsbReleaseCommand = "lsb_release -ds";
        InterfaceSystem* system = nullptr; // the host when null
    };

    explicit PXMobileManager(std::shared_ptr<PXEventBus> bus);
    PXMobileManager(std::shared_ptr<PXEventBus> bus, Config config);
    ~PXMobileManager() override;
    PXMobileManager(const PXMobileManager&) = delete;
    PXMobileManager& operator=(const PXMobileManager&) = delete;

    // Nothing to start or stop on this platform.
    void start();
    void stop();

    using PXEventHandler::handleEvent;
    void handleEvent(int eventId, PXEmptyEventContents) override;

    // Enumerates the interfaces afresh and keeps the list as the last one read. Any thread.
    std::vector<InterfaceInfo> readInterfaces() override;
    std::vector<InterfaceInfo> lastInterfaces() const;

    // "<ID> <VERSION_ID>" from the os-release file, else the description lsb_release prints.
    static std::string osVersion(const std::string& osReleasePath = "/etc/os-release",
                                 const std::string& lsbReleaseCommand = "lsb_release -ds");

    // The first IPv4 address that is not loopback, "this network" or link-local; empty if none.
    static std::string usableIpv4(const std::vector<InterfaceInfo>& interfaces);
    // JSON array text of every IPv6 entry except the loopback address.
    static std::string usableIpv6(const std::vector<InterfaceInfo>& interfaces);

    const std::string& givenName() const { return m_givenName; }
    const std::string& deviceType() const { return m_deviceType; }
    const std::string& deviceOs() const { return m_deviceOs; }
    const std::string& deviceOsVersion() const { return m_deviceOsVersion; }

private:
    void answerDeviceId();
    InterfaceInfo lastWifiInterface() const;

    std::shared_ptr<PXEventBus> m_bus;
    std::string m_deviceId; // the platform's own id; none on this platform
    std::string m_givenName;
    std::string m_deviceType;
    std::string m_deviceOs;
    std::string m_deviceOsVersion;

    InterfaceSystem& m_system;
    mutable std::mutex m_mutex;
    std::vector<InterfaceInfo> m_lastInterfaces; // guarded by m_mutex
};
