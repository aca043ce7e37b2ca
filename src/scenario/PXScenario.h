#pragma once

#include <QMetaType>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class PXFlow;
class PXMonitor;
class PXScenarioResult;

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

// A parsed scenario description. Shared by the scenario manager, the worker that runs it and
// (through plain back pointers) its flows.
//
// Threads: built by the parser and changed only on the main thread (the worker swaps in a fresh
// result record when a run starts); the run thread reads flows and monitors, which never change
// after parsing.
struct PXScenario
{
    std::int32_t id = 0;
    std::uint64_t duration = 0; // ns
    std::uint64_t abortDetectionInterval = 0;
    std::shared_ptr<PXScenarioResult> result;
    std::vector<std::shared_ptr<PXFlow>> flows;
    std::vector<std::shared_ptr<PXMonitor>> monitors;
    // The accepted description as compact JSON text, answered to a "get" of the variable.
    std::string description;
};

Q_DECLARE_METATYPE(std::shared_ptr<PXScenario>)
