#pragma once

#include <json/value.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace roamnode::report {

// One whole second of one flow, as the endpoint counted it.
struct SecondPoint
{
    std::int64_t second = 0; // ns since the epoch, whole second
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
    double mbps = 0;
    std::optional<std::int64_t> latencyMin, latencyMax; // ns
    std::optional<double> latencyAvg, jitter;           // ns
};

struct FlowSummary
{
    std::int64_t flowId = 0;
    std::string type; // "streamv4", ... from the scenario description; "?" when unknown
    std::string status;
    std::string error;
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
    std::optional<double> meanMbps, minMbps, maxMbps;
    // Bytes and mean Mbit/s come from the HTTP server's count of the flow's connections: the
    // endpoint's result list has no byte counts for HTTP flows.
    bool measuredByServer = false;
    // A trigger whose stream is in the same scenario: packets the stream sent and the trigger
    // did not count.
    std::optional<std::int64_t> lostPackets;
    std::optional<double> lossPercent;
    std::optional<std::int64_t> latencyMin, latencyMax; // ns
    std::optional<double> latencyAvg, jitter;           // ns
    std::vector<SecondPoint> seconds;
};

struct MonitorPoint
{
    std::int64_t time = 0; // ns since the epoch
    std::string interfaceName;
    std::string ssid;
    int rssi = -127;
    std::int64_t bitRate = -1;
    int channel = -1;
};

struct MonitorSummary
{
    int id = 0;
    std::string status;
    std::vector<MonitorPoint> points;
};

struct ScenarioSummary
{
    std::string endpoint; // device id or name, as the hub knows it
    int scenarioId = 0;
    std::int64_t timestamp = 0;
    std::vector<FlowSummary> flows;
    std::vector<MonitorSummary> monitors;
};

// Turns the endpoint's result list (its "resultlist" text, parsed) into per-flow summaries.
// `description` is the scenario description that was run (for flow types and stream/trigger
// pairing); it may be null. Never throws on unexpected shapes: missing members count as empty.
std::vector<ScenarioSummary> summarize(const Json::Value& resultList,
                                       const Json::Value& description,
                                       const std::string& endpoint = {});

} // namespace roamnode::report
