#include "device/InterfaceReader.h"

#include "device/InterfaceSystem.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>

namespace {

// The lines failed queries leave on standard error read like perror's.
void reportError(const char* what, int error)
{
    std::fprintf(stderr, "%s: %s\n", what, std::strerror(error));
}

InterfaceInfo& recordFor(std::vector<InterfaceInfo>& records, const std::string& name)
{
    for (InterfaceInfo& record : records) {
        if (record.name == name)
            return record;
    }
    InterfaceInfo record;
    record.name = name;
    records.push_back(std::move(record));
    return records.back();
}

void appendAddress(InterfaceInfo& record, const InterfaceSystem::AddressEntry& entry)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (entry.family == InterfaceSystem::AddressEntry::IPv4) {
        if (inet_ntop(AF_INET, entry.address, text, sizeof text))
            record.ipv4.emplace_back(text);
    } else if (entry.family == InterfaceSystem::AddressEntry::IPv6) {
        if (inet_ntop(AF_INET6, entry.address, text, sizeof text))
            record.ipv6.push_back(std::string(text) + "/" +
                                  std::to_string(prefixLength(entry.netmask)));
    }
}

void applyWireless(InterfaceInfo& record, const InterfaceSystem::WirelessAnswers& answers)
{
    record.type = InterfaceType::Wifi;

    if (answers.ssid.ok) {
        record.ssid = answers.ssid.value;
    } else {
        reportError("get_ssid", answers.ssid.error);
        record.ssid.clear();
    }

    if (answers.bssid.ok) {
        record.bssid = formatMac(answers.bssid.value.bytes);
    } else {
        reportError("get_bssid", answers.bssid.error);
        record.bssid = "00:00:00:00:00:00";
    }

    // A frequency outside the channel table (2.4 GHz among them) leaves the channel as it was.
    if (answers.frequencyHz.ok) {
        const double mhz = answers.frequencyHz.value / 1000000.0;
        if (mhz > 0 && mhz < 2147483647.0) {
            const std::int32_t channel = frequencyToChannel(static_cast<std::int32_t>(mhz));
            if (channel > 0)
                record.channel = channel;
        }
    }

    // 0 and -127 are the drivers' ways of saying "no level".
    if (answers.signalLevel.ok) {
        const auto level = static_cast<std::int8_t>(answers.signalLevel.value);
        if (level != 0 && level != -127)
            record.rssi = level;
    } else {
        reportError("get_rssi: ioctl", answers.signalLevel.error);
    }

    // A rate of 0 means the driver has none yet; the previous entry's rate stands.
    if (!answers.bitRate.ok) {
        record.txrate = -1;
        record.rxrate = -1;
    } else if (answers.bitRate.value != 0) {
        record.txrate = answers.bitRate.value;
        record.rxrate = answers.bitRate.value;
    }
}

} // namespace

std::vector<InterfaceInfo> readInterfaces(InterfaceSystem& system)
{
    std::vector<InterfaceSystem::AddressEntry> entries;
    if (const int error = system.addresses(entries)) {
        reportError("getifaddrs", error);
        entries.clear();
    }

    std::vector<InterfaceInfo> records;
    for (const InterfaceSystem::AddressEntry& entry : entries) {
        InterfaceInfo& record = recordFor(records, entry.name);

        const auto mac = system.hardwareAddress(entry.name);
        record.mac = mac.ok ? formatMac(mac.value.bytes) : "00:00:00:00:00:00";

        appendAddress(record, entry);

        if (entry.name == "lo") {
            record.type = InterfaceType::Loopback;
            continue;
        }
        const auto wireless = system.wireless(entry.name);
        if (wireless)
            applyWireless(record, *wireless);
        else
            record.type = InterfaceType::Ethernet;
    }
    return records;
}
