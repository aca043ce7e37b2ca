#pragma once

#include <json/value.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace roamnode::report {

// One second of one flow, as the endpoint counted it.
struct SecondPoint
{
    std::int64_t second = 0; // ns since the epoch, whole second
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
    double mbps = 0;
    // The flow's first and last seconds: the flow started or ended inside them.
    bool partial = false;
    std::optional<std::int64_t> latencyMin, latencyMax; // ns
    std::optional<double> latencyAvg, latencySd;        // ns
};

// How a trigger's loss was found: the stream that feeds it, wherever it ran.
enum class Pairing {
    None,      // no stream matches
    Paired,    // exactly one stream matches
    Ambiguous, // more than one stream matches: no loss is given rather than a guess
};

struct FlowSummary
{
    std::int64_t flowId = 0;
    std::string type; // "streamv4", ... from the scenario description; "?" when unknown
    int srcPort = -1, dstPort = -1; // from the scenario description; -1 when it says none
    std::string status;
    std::string error;
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
    // Over whole seconds only (see README): the mean never exceeds the highest second.
    std::optional<double> meanMbps, minMbps, maxMbps;
    // Bytes and mean Mbit/s come from the HTTP server's count of the flow's connections: the
    // endpoint's result list has no byte counts for HTTP flows.
    bool measuredByServer = false;
    // The server's connections matched this flow and another endpoint's alike.
    bool serverAmbiguous = false;
    // A stream: the frames its scenario asked for (see plannedFrames()).
    std::optional<std::uint64_t> plannedFrames;
    // A trigger: the stream that feeds it, and frames sent minus frames received.
    Pairing pairing = Pairing::None;
    std::string pairedWith; // "ENDPOINT flow N"
    std::optional<std::int64_t> lostPackets;
    std::optional<double> lossPercent;
    std::optional<std::int64_t> latencyMin, latencyMax; // ns
    // Over every latency value of the flow (pooled from the per-second figures).
    std::optional<double> latencyAvg, latencySd; // ns
    std::vector<SecondPoint> seconds;

    // A stream that sent less than 99.9 % of its planned frames.
    bool isShort() const;
    std::uint64_t shortfall() const;
    // Not a success: an error, no status, short, or an HTTP flow the server counted no byte of.
    bool failed() const;
};

struct MonitorPoint
{
    std::int64_t time = 0; // ns since the epoch
    std::string interfaceName;
    std::string ssid;
    std::string bssid;
    int rssi = -127;
    std::int64_t bitRate = -1;
    int channel = -1;

    // The endpoint writes -127, -1 and -1 when it has no value.
    bool hasRssi() const { return rssi != -127; }
    bool hasBitRate() const { return bitRate > 0; }
    bool hasChannel() const { return channel > 0; }
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

// What the scenario description says of one flow; -1 and empty where it says nothing.
struct FlowDescription
{
    std::string type;
    int srcPort = -1;
    int dstPort = -1;
    std::string srcAddress; // "srcipv4"/"srcipv6" of a trigger
    std::string dstAddress; // "dstipv4"/"dstipv6" of a stream or an HTTP flow
    std::int64_t initialTimeToWait = 0;
    std::int64_t interFrameGap = -1;
    std::int64_t numberOfFrames = -1;
    std::string method; // "get", "put"
    std::string url;
};

// Flow id -> description, for the flows of a scenario description.
std::map<std::int64_t, FlowDescription> describeFlows(const Json::Value& description);

// The frames a stream is asked for: "numberofframes", or the frames that fit between its
// "initialtimetowait" and the scenario's "duration" at its "interframegap" when that is fewer.
std::optional<std::uint64_t> plannedFrames(const FlowDescription& flow,
                                           std::int64_t scenarioDuration);

bool isTrigger(const std::string& type);
bool isStream(const std::string& type);
bool isHttp(const std::string& type);
// "v4" or "v6"
std::string family(const std::string& type);

// Turns the endpoint's result list (its "resultlist" text, parsed) into per-flow summaries.
// `description` is the scenario description that was run (for flow types and planned frames);
// it may be null. Loss needs the other endpoints too: see FlowPairing.h. Never throws on
// unexpected shapes: missing members count as empty.
std::vector<ScenarioSummary> summarize(const Json::Value& resultList,
                                       const Json::Value& description,
                                       const std::string& endpoint = {});

// Removes the scenario results that started more than a second before `startNs` (the same
// clock as their "timestamp"): a result list that was not reset before still holds them, and
// they are not this run's. Returns how many were removed.
std::size_t dropEarlierResults(std::vector<ScenarioSummary>& summaries, std::int64_t startNs);

} // namespace roamnode::report
