#pragma once

#include "device/InterfaceSystem.h"

// The running host: getifaddrs for the address list, SIOCGIFHWADDR on a UDP socket for hardware
// addresses, and the kernel's nl80211 interface for the wireless state. Stateless, so one
// instance serves every thread.
class HostInterfaceSystem final : public InterfaceSystem
{
public:
    int addresses(std::vector<AddressEntry>& entries) override;
    Answer<MacAddress> hardwareAddress(const std::string& name) override;
    std::optional<WirelessAnswers> wireless(const std::string& name) override;
};

// The process's one host layer.
InterfaceSystem& hostInterfaceSystem();
