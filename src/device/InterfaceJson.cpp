#include "device/InterfaceJson.h"

#include "bus/JsonText.h"

using roamnode::jsonString;

namespace {

// Addresses come from inet_ntop and never need escaping; one that already is a quoted text is
// kept as it is, anything else is quoted (and escaped, should it ever carry a special byte).
std::string addressArray(const std::vector<std::string>& addresses)
{
    std::string out = "[";
    bool first = true;
    for (const std::string& address : addresses) {
        if (!first)
            out += ", ";
        first = false;
        if (address.size() >= 2 && address.front() == '"' && address.back() == '"')
            out += address;
        else
            out += jsonString(address);
    }
    out += "]";
    return out;
}

} // namespace

std::string interfaceJson(const InterfaceInfo& info)
{
    std::string out = "{";
    out += "\"type\": \"";
    out += interfaceTypeName(info.type);
    out += "\",\"name\": ";
    out += jsonString(info.name);
    out += ",\"displayname\": ";
    out += jsonString(info.displayname.empty() ? info.name : info.displayname);
    out += ",\"mac\": ";
    out += jsonString(info.mac);
    out += ",\"ipv4\": ";
    out += addressArray(info.ipv4);
    out += ",\"ipv6\": ";
    out += addressArray(info.ipv6);
    out += ",\"ssid\": ";
    out += jsonString(info.ssid);
    out += ",\"bssid\": ";
    out += jsonString(info.bssid);
    out += ",\"rssi\": ";
    out += std::to_string(info.rssi);
    out += ",\"txrate\":";
    out += std::to_string(info.txrate);
    out += ",\"rxrate\":";
    out += std::to_string(info.rxrate);
    out += ",\"channel\":";
    out += std::to_string(info.channel);
    out += "}";
    return out;
}

std::string interfacesJson(const std::vector<InterfaceInfo>& interfaces)
{
    std::string out = "[";
    bool first = true;
    for (const InterfaceInfo& info : interfaces) {
        if (!first)
            out += ", ";
        first = false;
        out += interfaceJson(info);
    }
    out += "]";
    return out;
}

std::string networkInfoJson(const std::vector<InterfaceInfo>& interfaces)
{
    const InterfaceInfo wifi = wifiInterface(interfaces);
    std::string out = "{ \"interfaces\": ";
    out += interfacesJson(interfaces);
    out += ", \"ssid\": ";
    out += jsonString(wifi.ssid);
    out += ", \"bssid\": ";
    out += jsonString(wifi.bssid);
    out += "}";
    return out;
}
