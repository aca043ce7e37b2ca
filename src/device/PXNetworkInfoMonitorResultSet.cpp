#include "device/PXNetworkInfoMonitorResultSet.h"

#include "device/InterfaceJson.h"

PXNetworkInfoMonitorResultSet::PXNetworkInfoMonitorResultSet(std::int32_t id)
    : PXMonitorResultSet(id, kTypeName)
{
}

std::string PXNetworkInfoMonitorResultSet::resultJson() const
{
    std::string out = "[";
    bool first = true;
    for (const Sample& sample : samples) {
        if (!first)
            out += ", ";
        first = false;
        out += "{\"timestamp\": ";
        out += std::to_string(sample.timestamp);
        out += ",\"interfaces\": ";
        out += interfacesJson(sample.interfaces);
        out += "}";
    }
    out += "]";
    return out;
}
