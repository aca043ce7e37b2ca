#pragma once

#include <json/value.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One run as the archive keeps it, read from the run's results.json (see RunResults.h): pure,
// no database, so the same record feeds the archive, its retry from the results folder and the
// metrics page. Times are ns since the epoch, UTC.
namespace hubarchive {

struct EndpointRow
{
    std::string deviceId, name, os, version, addresses;
    std::optional<std::int64_t> clockOffsetNs, clockErrorNs;
    // "done", "failed", or for a scheduled test "busy" / "absent"
    std::string status, error;
};

struct SecondRow
{
    std::int64_t secondNs = 0;
    std::uint64_t packets = 0, bytes = 0, latencyCount = 0;
    std::optional<double> latencyMinNs, latencyAvgNs, latencyMaxNs, latencySdNs;
};

struct FlowRow
{
    std::string deviceId;
    int scenarioId = 0;
    std::int64_t flowId = 0;
    std::string kind, status, error;
    int srcPort = -1, dstPort = -1;
    std::optional<std::uint64_t> plannedFrames, sentFrames, receivedFrames;
    std::optional<std::int64_t> lostFrames;
    std::optional<double> lossRatio;
    std::uint64_t bytes = 0;
    std::optional<double> meanMbps, latencyAvgNs, latencyMaxNs, latencySdNs;
    std::vector<SecondRow> seconds;

    bool isHttp() const { return kind.rfind("tcp", 0) == 0; }
};

struct MonitorRow
{
    std::string deviceId;
    std::int64_t timeNs = 0;
    std::string interfaceName, ssid, bssid;
    std::optional<std::int64_t> rssi, rate, channel;
};

struct RunRecord
{
    std::string test; // the schedule's name for it; empty for a one-off run
    int scenarioId = 0;
    std::int64_t startNs = 0;
    std::string hubHost;
    std::vector<EndpointRow> endpoints;
    std::vector<FlowRow> flows;
    std::vector<MonitorRow> monitors;

    // Tells a run apart from every other, so that archiving it twice (a retry after a commit
    // whose answer was lost) keeps one copy.
    std::string key() const;
};

// Never throws on unexpected shapes: what is missing stays empty.
RunRecord recordFromResults(const Json::Value& results);

// "2026-12-07T10:00:01Z" (whole seconds) or with ".250" when `fraction`; from ns since the epoch.
std::string isoTime(std::int64_t ns, bool fraction = false);
// "2026-12-07T10:00:01Z", "2026-12-07T10:00:01.5+01:00", "2026-12-07" (midnight UTC); false
// when it is none of those.
bool parseIsoTime(const std::string& text, std::int64_t& ns);

} // namespace hubarchive
