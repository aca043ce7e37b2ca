#pragma once

#include "device/InterfaceInfo.h"
#include "device/PXMonitorResultSet.h"

#include <cstdint>
#include <string>
#include <vector>

// The samples of one run of a network information monitor.
class PXNetworkInfoMonitorResultSet : public PXMonitorResultSet
{
public:
    struct Sample
    {
        std::int64_t timestamp; // ns since the epoch, system clock
        std::vector<InterfaceInfo> interfaces;
    };

    static constexpr const char* kTypeName = "networkinfo";

    explicit PXNetworkInfoMonitorResultSet(std::int32_t id);

    // [{"timestamp": 1700000000000000000,"interfaces": [...]}, ...]
    std::string resultJson() const override;

    std::vector<Sample> samples;
};
