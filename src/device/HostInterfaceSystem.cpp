#include "device/HostInterfaceSystem.h"

#include "device/Nl80211Wireless.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int HostInterfaceSystem::addresses(std::vector<AddressEntry>& entries)
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return errno;

    for (const ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || !ifa->ifa_name)
            continue;
        AddressEntry entry;
        entry.name = ifa->ifa_name;
        if (ifa->ifa_addr->sa_family == AF_INET) {
            entry.family = AddressEntry::IPv4;
            const auto* in = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr);
            std::memcpy(entry.address, &in->sin_addr, 4);
        } else if (ifa->ifa_addr->sa_family == AF_INET6) {
            entry.family = AddressEntry::IPv6;
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(ifa->ifa_addr);
            std::memcpy(entry.address, &in6->sin6_addr, 16);
            if (ifa->ifa_netmask && ifa->ifa_netmask->sa_family == AF_INET6) {
                const auto* mask = reinterpret_cast<const sockaddr_in6*>(ifa->ifa_netmask);
                std::memcpy(entry.netmask, &mask->sin6_addr, 16);
            }
        }
        entries.push_back(std::move(entry));
    }
    freeifaddrs(list);
    return 0;
}

InterfaceSystem::Answer<InterfaceSystem::MacAddress>
HostInterfaceSystem::hardwareAddress(const std::string& name)
{
    if (name.size() >= IFNAMSIZ)
        return Answer<MacAddress>::failure(ENODEV);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Answer<MacAddress>::failure(errno);

    ifreq request{};
    std::memcpy(request.ifr_name, name.c_str(), name.size());
    const int rc = ioctl(fd, SIOCGIFHWADDR, &request);
    const int error = errno;
    close(fd);
    if (rc < 0)
        return Answer<MacAddress>::failure(error);

    MacAddress mac;
    std::memcpy(mac.bytes, request.ifr_hwaddr.sa_data, sizeof mac.bytes);
    return Answer<MacAddress>::success(mac);
}

std::optional<InterfaceSystem::WirelessAnswers>
HostInterfaceSystem::wireless(const std::string& name)
{
    return queryNl80211(name);
}

InterfaceSystem& hostInterfaceSystem()
{
    static HostInterfaceSystem system;
    return system;
}
