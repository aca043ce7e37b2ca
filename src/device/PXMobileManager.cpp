#include "device/PXMobileManager.h"

#include "bus/JsonText.h"
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"
#include "device/HostInterfaceSystem.h"
#include "device/InterfaceJson.h"
#include "device/InterfaceReader.h"

#include <QtGlobal>

#include <sys/utsname.h>

#include <cstdio>
#include <fstream>
#include <utility>

namespace {

bool startsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// os-release and lsb_release quote their values, or not, depending on the distribution.
std::string withoutQuotes(std::string text)
{
    if (text.empty())
        return text;
    if (text.front() == '"') {
        text.erase(0, 1);
        if (!text.empty())
            text.pop_back();
    } else if (text.back() == '"') {
        text.pop_back();
    }
    return text;
}

std::string commandOutput(const std::string& command)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {};
    std::string output;
    char chunk[128];
    for (;;) {
        const std::size_t count = std::fread(chunk, 1, sizeof chunk, pipe);
        if (count == 0)
            break;
        output.append(chunk, count);
    }
    pclose(pipe);
    return output;
}

} // namespace

PXMobileManager::PXMobileManager(std::shared_ptr<PXEventBus> bus)
    : PXMobileManager(std::move(bus), Config())
{
}

PXMobileManager::PXMobileManager(std::shared_ptr<PXEventBus> bus, Config config)
    : m_bus(std::move(bus)), m_system(config.system ? *config.system : hostInterfaceSystem())
{
    // The subscription order is part of the delivery order other handlers rely on.
    for (const int id : {GET_BATTERY_LEVEL, GET_DEVICE_GIVEN_NAME, GET_DEVICE_ID, GET_DEVICE_NAME,
                         GET_DEVICE_OS, GET_DEVICE_OS_VERSION, GET_DEVICE_TYPE, GET_NETWORK_INFO,
                         GET_INTERFACES, GET_DEVICE_IPV4, GET_DEVICE_IPV6, GET_CONNECTION_TYPE,
                         REFRESH_NETWORK_INFO, GET_SSID, GET_BSSID, GET_RSSI})
        m_bus->subscribe(id, this);

    utsname names{};
    if (uname(&names) == 0) {
        m_givenName = names.nodename;
        m_deviceOs = names.sysname;
    }
    m_deviceType = "Desktop";
    m_deviceOsVersion = osVersion(config.osReleasePath, config.lsbReleaseCommand);
}

PXMobileManager::~PXMobileManager()
{
    m_bus->unsubscribe(this);
}

void PXMobileManager::start() {}

void PXMobileManager::stop() {}

void PXMobileManager::handleEvent(int eventId, PXEmptyEventContents)
{
    switch (eventId) {
    case GET_BATTERY_LEVEL:
        m_bus->publish(BATTERY_LEVEL, -1.0f);
        break;
    case GET_DEVICE_ID:
        answerDeviceId();
        break;
    case GET_DEVICE_NAME:
        m_bus->publish(DEVICE_NAME, m_givenName);
        break;
    case GET_DEVICE_GIVEN_NAME:
        m_bus->publish(DEVICE_GIVEN_NAME, m_givenName);
        break;
    case GET_DEVICE_OS:
        m_bus->publish(DEVICE_OS, m_deviceOs);
        break;
    case GET_DEVICE_OS_VERSION:
        m_bus->publish(DEVICE_OS_VERSION, m_deviceOsVersion);
        break;
    case GET_DEVICE_TYPE:
        m_bus->publish(DEVICE_TYPE, m_deviceType);
        break;
    case GET_CONNECTION_TYPE:
        m_bus->publish(CONNECTION_TYPE, std::string("Wi-Fi"));
        break;
    case GET_INTERFACES:
        m_bus->publish(INTERFACES, interfacesJson(readInterfaces()));
        break;
    case GET_NETWORK_INFO:
        m_bus->publish(NETWORK_INFO, networkInfoJson(readInterfaces()));
        break;
    case GET_DEVICE_IPV4:
        m_bus->publish(DEVICE_IPV4, usableIpv4(readInterfaces()));
        break;
    case GET_DEVICE_IPV6:
        m_bus->publish(DEVICE_IPV6, usableIpv6(readInterfaces()));
        break;
    // The Wi-Fi answers use the last list read, without a new enumeration.
    case GET_SSID:
        m_bus->publish(SSID, lastWifiInterface().ssid);
        break;
    case GET_BSSID:
        m_bus->publish(BSSID, lastWifiInterface().bssid);
        break;
    case GET_RSSI:
        m_bus->publish(RSSI, static_cast<int>(lastWifiInterface().rssi));
        break;
    case REFRESH_NETWORK_INFO:
        readInterfaces();
        break;
    default:
        break;
    }
}

void PXMobileManager::answerDeviceId()
{
    // No platform id here: the front end keeps one and answers DEVICE_ID_NEEDED itself, now or
    // later, so an empty id is not published.
    std::string id = m_deviceId;
    if (id.empty())
        m_bus->publish(DEVICE_ID_NEEDED);
    if (!id.empty())
        m_bus->publish(DEVICE_ID, id);
}

std::vector<InterfaceInfo> PXMobileManager::readInterfaces()
{
    std::vector<InterfaceInfo> interfaces = ::readInterfaces(m_system);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastInterfaces = interfaces;
    return interfaces;
}

std::vector<InterfaceInfo> PXMobileManager::lastInterfaces() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastInterfaces;
}

InterfaceInfo PXMobileManager::lastWifiInterface() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return wifiInterface(m_lastInterfaces);
}

std::string PXMobileManager::osVersion(const std::string& osReleasePath,
                                       const std::string& lsbReleaseCommand)
{
    std::string version;
    std::ifstream file(osReleasePath);
    if (!file.is_open()) {
        qWarning("Could not determine the OS version using /etc/os-release");
    } else {
        std::string id;
        std::string versionId;
        std::string line;
        while (std::getline(file, line)) {
            if (startsWith(line, "ID="))
                id = line.substr(3);
            else if (startsWith(line, "VERSION_ID="))
                versionId = withoutQuotes(line.substr(11));
        }
        version = id + " " + versionId;
    }

    if (version.empty()) {
        std::string output = commandOutput(lsbReleaseCommand);
        if (!output.empty() && output.back() == '\n')
            output.pop_back();
        version = withoutQuotes(output);
        if (version.empty())
            qWarning("Could not determine the distribution version using lsb_release, try "
                     "installing it from the package manager");
    }
    return version;
}

std::string PXMobileManager::usableIpv4(const std::vector<InterfaceInfo>& interfaces)
{
    for (const InterfaceInfo& info : interfaces) {
        for (const std::string& address : info.ipv4) {
            if (!startsWith(address, "127.") && !startsWith(address, "0.") &&
                !startsWith(address, "169.254."))
                return address;
        }
    }
    return {};
}

std::string PXMobileManager::usableIpv6(const std::vector<InterfaceInfo>& interfaces)
{
    std::string out = "[";
    bool first = true;
    for (const InterfaceInfo& info : interfaces) {
        for (const std::string& entry : info.ipv6) {
            if (entry.substr(0, entry.find('/')) == "::1")
                continue;
            if (!first)
                out += ", ";
            first = false;
            out += roamnode::jsonQuote(entry);
        }
    }
    out += "]";
    return out;
}
