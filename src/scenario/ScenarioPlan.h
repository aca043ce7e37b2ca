#pragma once

#include "bus/TimePoint.h"
#include "flows/MultiConnect.h"
#include "flows/Stream.h"
#include "flows/Trigger.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

enum class FlowKind : std::uint32_t {
    HttpGet = 0,
    HttpPut = 1,
    UdpStream = 2,
    UdpTrigger = 3,
};

enum class IpVersion : std::uint32_t {
    V4 = 0,
    V6 = 1,
};

// A trigger as the description gives it. The size bounds and the TOS are kept as given: the
// receiver counts every frame whatever its size. The engine's receive duration is the
// scenario's, filled in when the run is built.
struct PXTriggerPlan
{
    Trigger::Config engine;
    std::int32_t tos = 0;
    std::int64_t sizeMin = 0;
    std::int64_t sizeMax = 1600;
};

// One element of "flows": its id, address family and the engine's configuration.
struct PXFlowPlan
{
    std::uint32_t id = 0;
    IpVersion ipVersion = IpVersion::V4;
    std::variant<Stream::Config, PXTriggerPlan, MultiConnect::Config> content;

    FlowKind kind() const;
};

// One element of "monitors" (the only type is "wifi").
struct PXMonitorPlan
{
    std::int32_t id = 0;
    std::int64_t intervalNs = roamnode::kNanosecondsPerSecond;
};

// An accepted scenario description as plain values: no sockets, no threads, nothing running.
// The worker builds a run's flows and monitors from it when the start time comes.
struct PXScenarioPlan
{
    std::int32_t id = 0;
    std::uint64_t duration = 0; // ns
    std::vector<PXFlowPlan> flows;
    std::vector<PXMonitorPlan> monitors;
    // The accepted description as compact JSON text, answered to a "get" of the variable.
    std::string description;
};
