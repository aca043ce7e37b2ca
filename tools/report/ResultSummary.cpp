#include "ResultSummary.h"

#include "bus/TimePoint.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <map>

namespace roamnode::report {
namespace {

constexpr std::int64_t kSecondNs = roamnode::kNanosecondsPerSecond;

std::int64_t asInt64(const Json::Value& v)
{
    if (v.isInt64())
        return v.asInt64();
    if (v.isUInt64())
        return static_cast<std::int64_t>(v.asUInt64());
    // A number past the 64-bit range (5e22 in a damaged list) saturates.
    if (v.isDouble())
        return roamnode::saturatingFromDouble(v.asDouble());
    return 0;
}

std::string asText(const Json::Value& v)
{
    return v.isString() ? v.asString() : std::string();
}

const Json::Value& member(const Json::Value& object, const char* key)
{
    static const Json::Value null;
    return object.isObject() && object.isMember(key) ? object[key] : null;
}

const Json::Value& arrayMember(const Json::Value& object, const char* key)
{
    static const Json::Value empty(Json::arrayValue);
    const Json::Value& v = member(object, key);
    return v.isArray() ? v : empty;
}

std::string lowerText(const Json::Value& v)
{
    std::string text = asText(v);
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

int port(const Json::Value& content, const char* key)
{
    const Json::Value& v = member(content, key);
    return v.isIntegral() ? static_cast<int>(asInt64(v) & 0xffff) : -1;
}

std::int64_t integer(const Json::Value& content, const char* key, std::int64_t fallback)
{
    const Json::Value& v = member(content, key);
    return v.isIntegral() ? asInt64(v) : fallback;
}

// Latency: the per-second minimum, maximum, mean and sample standard deviation, pooled into
// those of every value of the flow. A second's weight is its frame count (every frame of a
// trigger with latency on carries one value).
void summarizeLatency(const Json::Value& flow, FlowSummary& s)
{
    struct Part
    {
        double n, mean, sd;
    };
    std::vector<Part> parts;
    const Json::Value& latencies = arrayMember(flow, "latencyarray");
    for (Json::ArrayIndex i = 0; i < latencies.size(); ++i) {
        const Json::Value& l = latencies[i];
        if (!l.isObject() || !l.isMember("latencyavg"))
            continue;
        const std::int64_t lmin = asInt64(l["latencymin"]);
        const std::int64_t lmax = asInt64(l["latencymax"]);
        const double lavg = static_cast<double>(asInt64(l["latencyavg"]));
        const double lsd = static_cast<double>(asInt64(l["jitter"]));
        s.latencyMin = s.latencyMin ? std::min(*s.latencyMin, lmin) : lmin;
        s.latencyMax = s.latencyMax ? std::max(*s.latencyMax, lmax) : lmax;
        double n = 1;
        if (i < s.seconds.size() && s.seconds[i].packets > 0)
            n = static_cast<double>(s.seconds[i].packets);
        parts.push_back({n, lavg, lsd});
        if (i < s.seconds.size()) {
            s.seconds[i].latencyMin = lmin;
            s.seconds[i].latencyMax = lmax;
            s.seconds[i].latencyAvg = lavg;
            s.seconds[i].latencySd = lsd;
        }
    }
    double total = 0, weighted = 0;
    for (const Part& p : parts) {
        total += p.n;
        weighted += p.n * p.mean;
    }
    if (total <= 0)
        return;
    const double mean = weighted / total;
    double squares = 0;
    for (const Part& p : parts)
        squares += (p.n - 1) * p.sd * p.sd + p.n * (p.mean - mean) * (p.mean - mean);
    s.latencyAvg = mean;
    s.latencySd = total > 1 ? std::sqrt(squares / (total - 1)) : 0.0;
}

// Throughput over whole seconds: the first and last seconds hold the flow's start and end and
// are partial. A second between them with no entry had no frame and counts as 0.
void summarizeThroughput(std::int64_t first, std::int64_t last, FlowSummary& s)
{
    if (s.seconds.empty())
        return;
    s.seconds.front().partial = true;
    s.seconds.back().partial = true;
    const std::int64_t whole =
        roamnode::saturatingSubtract(s.seconds.back().second, s.seconds.front().second) /
            kSecondNs -
        1;
    if (whole <= 0) {
        // No whole second: the mean over first to last frame; a single frame counts as one
        // second. No min or max is given then.
        const double span =
            last > first
                ? roamnode::secondsOf(static_cast<double>(last) - static_cast<double>(first))
                : 1.0;
        s.meanMbps = static_cast<double>(s.bytes) * 8.0 / 1e6 / std::max(span, 1e-3);
        return;
    }
    double bytes = 0;
    for (std::size_t i = 1; i + 1 < s.seconds.size(); ++i) {
        const double v = s.seconds[i].mbps;
        bytes += static_cast<double>(s.seconds[i].bytes);
        s.minMbps = s.minMbps ? std::min(*s.minMbps, v) : v;
        s.maxMbps = s.maxMbps ? std::max(*s.maxMbps, v) : v;
    }
    if (static_cast<std::int64_t>(s.seconds.size()) - 2 < whole)
        s.minMbps = 0.0;
    if (!s.maxMbps)
        s.maxMbps = 0.0;
    s.meanMbps = bytes * 8.0 / 1e6 / static_cast<double>(whole);
}

FlowSummary summarizeFlow(const Json::Value& flow)
{
    FlowSummary s;
    s.flowId = asInt64(member(flow, "id"));
    s.status = asText(member(flow, "status"));
    s.error = asText(member(flow, "errormsg"));
    const Json::Value& times = arrayMember(flow, "timestamparray");
    const Json::Value& packets = arrayMember(flow, "packetcountarray");
    const Json::Value& bytes = arrayMember(flow, "bytecountarray");
    const Json::ArrayIndex n = std::min({times.size(), packets.size(), bytes.size()});
    for (Json::ArrayIndex i = 0; i < n; ++i) {
        SecondPoint p;
        p.second = asInt64(times[i]);
        p.packets = static_cast<std::uint64_t>(asInt64(packets[i]));
        p.bytes = static_cast<std::uint64_t>(asInt64(bytes[i]));
        p.mbps = static_cast<double>(p.bytes) * 8.0 / 1e6;
        s.packets += p.packets;
        s.bytes += p.bytes;
        s.seconds.push_back(p);
    }
    summarizeLatency(flow, s);
    summarizeThroughput(asInt64(member(flow, "timestampfirst")),
                        asInt64(member(flow, "timestamplast")), s);
    return s;
}

MonitorSummary summarizeMonitor(const Json::Value& monitor)
{
    MonitorSummary m;
    m.id = static_cast<int>(asInt64(member(monitor, "id")));
    m.status = asText(member(monitor, "status"));
    for (const Json::Value& sample : arrayMember(monitor, "monitorresult")) {
        const std::int64_t t = asInt64(member(sample, "timestamp"));
        const Json::Value& interfaces = arrayMember(sample, "interfaces");
        // The Wi-Fi interface when there is one, else the first non-loopback one.
        const Json::Value* chosen = nullptr;
        for (const Json::Value& i : interfaces)
            if (asText(member(i, "type")) == "wifi_ieee80211") {
                chosen = &i;
                break;
            }
        if (!chosen)
            for (const Json::Value& i : interfaces)
                if (asText(member(i, "type")) != "loopback") {
                    chosen = &i;
                    break;
                }
        MonitorPoint p;
        p.time = t;
        if (chosen) {
            p.interfaceName = asText(member(*chosen, "name"));
            p.ssid = asText(member(*chosen, "ssid"));
            p.bssid = asText(member(*chosen, "bssid"));
            p.rssi = static_cast<int>(asInt64(member(*chosen, "rssi")));
            p.bitRate = asInt64(member(*chosen, "txrate"));
            p.channel = static_cast<int>(asInt64(member(*chosen, "channel")));
        }
        m.points.push_back(p);
    }
    return m;
}

} // namespace

bool FlowSummary::isShort() const
{
    return plannedFrames && *plannedFrames > 0 &&
           static_cast<double>(packets) < 0.999 * static_cast<double>(*plannedFrames);
}

std::uint64_t FlowSummary::shortfall() const
{
    return plannedFrames && *plannedFrames > packets ? *plannedFrames - packets : 0;
}

bool FlowSummary::failed() const
{
    return status != "success" || isShort() || (measuredByServer && bytes == 0);
}

bool isTrigger(const std::string& type)
{
    return type.rfind("trigger", 0) == 0;
}

bool isStream(const std::string& type)
{
    return type.rfind("stream", 0) == 0;
}

bool isHttp(const std::string& type)
{
    return type.rfind("tcp", 0) == 0;
}

std::string family(const std::string& type)
{
    return type.size() >= 2 ? type.substr(type.size() - 2) : std::string();
}

std::map<std::int64_t, FlowDescription> describeFlows(const Json::Value& description)
{
    std::map<std::int64_t, FlowDescription> flows;
    for (const Json::Value& flow : arrayMember(description, "flows")) {
        if (!flow.isObject())
            continue;
        FlowDescription d;
        d.type = asText(member(flow, "flowtype"));
        const Json::Value& content = member(flow, "flow");
        const std::string v = family(d.type) == "v6" ? "ipv6" : "ipv4";
        d.srcPort = port(content, "srcport");
        d.dstPort = port(content, "dstport");
        d.srcAddress = asText(member(content, ("src" + v).c_str()));
        d.dstAddress = asText(member(content, ("dst" + v).c_str()));
        d.initialTimeToWait = integer(content, "initialtimetowait", 0);
        d.interFrameGap = integer(content, "interframegap", -1);
        d.numberOfFrames = integer(content, "numberofframes", -1);
        d.method = lowerText(member(content, "requestmethod"));
        d.url = asText(member(content, "url"));
        flows[asInt64(member(flow, "id"))] = d;
    }
    return flows;
}

std::optional<std::uint64_t> plannedFrames(const FlowDescription& flow,
                                           std::int64_t scenarioDuration)
{
    if (!isStream(flow.type) || flow.numberOfFrames < 0)
        return std::nullopt;
    auto planned = static_cast<std::uint64_t>(flow.numberOfFrames);
    if (flow.interFrameGap > 0 && scenarioDuration > 0) {
        const std::int64_t room = std::max<std::int64_t>(
            0, scenarioDuration - std::max<std::int64_t>(0, flow.initialTimeToWait));
        planned = std::min(planned, static_cast<std::uint64_t>(room / flow.interFrameGap));
    }
    return planned;
}

std::vector<ScenarioSummary> summarize(const Json::Value& resultList,
                                       const Json::Value& description, const std::string& endpoint)
{
    const auto flowDescriptions = describeFlows(description);
    const std::int64_t duration = integer(description, "duration", 0);
    std::vector<ScenarioSummary> out;
    if (!resultList.isArray())
        return out;
    for (const Json::Value& scenario : resultList) {
        ScenarioSummary s;
        s.endpoint = endpoint;
        s.scenarioId = static_cast<int>(asInt64(member(scenario, "scenarioid")));
        s.timestamp = asInt64(member(scenario, "timestamp"));
        for (const Json::Value& flow : arrayMember(scenario, "flows")) {
            FlowSummary f = summarizeFlow(flow);
            const auto it = flowDescriptions.find(f.flowId);
            f.type = it == flowDescriptions.end() ? "?" : it->second.type;
            if (it != flowDescriptions.end()) {
                f.plannedFrames = plannedFrames(it->second, duration);
                f.srcPort = it->second.srcPort;
                f.dstPort = it->second.dstPort;
            }
            s.flows.push_back(std::move(f));
        }
        for (const Json::Value& monitor : arrayMember(scenario, "monitors"))
            s.monitors.push_back(summarizeMonitor(monitor));
        out.push_back(std::move(s));
    }
    return out;
}

std::size_t dropEarlierResults(std::vector<ScenarioSummary>& summaries, std::int64_t startNs)
{
    const std::size_t before = summaries.size();
    summaries.erase(std::remove_if(summaries.begin(), summaries.end(),
                                   [startNs](const ScenarioSummary& s) {
                                       return s.timestamp <
                                              roamnode::saturatingSubtract(startNs, kSecondNs);
                                   }),
                    summaries.end());
    return before - summaries.size();
}

} // namespace roamnode::report
