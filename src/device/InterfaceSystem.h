#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The system calls behind readInterfaces, kept apart from the rules that turn their answers into
// InterfaceInfo records, so those rules run on recorded answers too (most machines that build
// this have no Wi-Fi device). Implementations may be called from any thread; each call stands
// alone.
class InterfaceSystem
{
public:
    // One entry of the system's interface address list (getifaddrs), in the system's order.
    struct AddressEntry
    {
        enum Family { IPv4, IPv6, Other };

        std::string name;
        Family family = Other;
        std::uint8_t address[16] = {}; // IPv4 uses the first four bytes
        std::uint8_t netmask[16] = {}; // IPv6 only; all zero when the system gave none
    };

    // A query that either answers or fails with an errno value.
    template <typename T> struct Answer
    {
        bool ok = false;
        T value{};
        int error = 0;

        static Answer success(T value) { return {true, std::move(value), 0}; }
        static Answer failure(int error) { return {false, T{}, error}; }
    };

    struct MacAddress
    {
        std::uint8_t bytes[6] = {};
    };

    // The wireless facts of one interface, in the units the records use.
    struct WirelessAnswers
    {
        Answer<std::string> ssid;
        Answer<MacAddress> bssid; // all zero when not associated
        Answer<double> frequencyHz;
        Answer<std::uint8_t> signalLevel; // dBm as a signed byte; 0 when the driver gives none
        Answer<std::int64_t> bitRate;     // bit/s
    };

    virtual ~InterfaceSystem() = default;

    // 0, or the errno value when the list cannot be had.
    virtual int addresses(std::vector<AddressEntry>& entries) = 0;
    virtual Answer<MacAddress> hardwareAddress(const std::string& name) = 0;
    // Empty when the name is not a wireless interface.
    virtual std::optional<WirelessAnswers> wireless(const std::string& name) = 0;
};
