#include "ResultSummary.h"

#include <algorithm>
#include <map>

namespace roamnode::report {
namespace {

constexpr std::int64_t kSecondNs = 1000000000;

std::int64_t asInt64(const Json::Value& v)
{
    if (v.isInt64())
        return v.asInt64();
    if (v.isUInt64())
        return static_cast<std::int64_t>(v.asUInt64());
    if (v.isDouble())
        return static_cast<std::int64_t>(v.asDouble());
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

struct FlowDescription
{
    std::string type;
    int srcPort = -1;
    int dstPort = -1;
};

std::map<std::int64_t, FlowDescription> describeFlows(const Json::Value& description)
{
    std::map<std::int64_t, FlowDescription> flows;
    for (const Json::Value& flow : arrayMember(description, "flows")) {
        if (!flow.isObject())
            continue;
        FlowDescription d;
        d.type = asText(member(flow, "flowtype"));
        const Json::Value& content = member(flow, "flow");
        if (member(content, "srcport").isIntegral())
            d.srcPort = static_cast<int>(asInt64(content["srcport"]) & 0xffff);
        if (member(content, "dstport").isIntegral())
            d.dstPort = static_cast<int>(asInt64(content["dstport"]) & 0xffff);
        flows[asInt64(member(flow, "id"))] = d;
    }
    return flows;
}

bool isTrigger(const std::string& type)
{
    return type.rfind("trigger", 0) == 0;
}

bool isStream(const std::string& type)
{
    return type.rfind("stream", 0) == 0;
}

std::string family(const std::string& type)
{
    return type.size() >= 2 ? type.substr(type.size() - 2) : std::string();
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

    // Latency entries are per second too; they are matched to the counts by their second.
    double weightedAvg = 0, weightedJitter = 0, weight = 0;
    const Json::Value& latencies = arrayMember(flow, "latencyarray");
    for (Json::ArrayIndex i = 0; i < latencies.size(); ++i) {
        const Json::Value& l = latencies[i];
        if (!l.isObject() || !l.isMember("latencyavg"))
            continue;
        const std::int64_t lmin = asInt64(l["latencymin"]);
        const std::int64_t lmax = asInt64(l["latencymax"]);
        const double lavg = static_cast<double>(asInt64(l["latencyavg"]));
        const double ljit = static_cast<double>(asInt64(l["jitter"]));
        s.latencyMin = s.latencyMin ? std::min(*s.latencyMin, lmin) : lmin;
        s.latencyMax = s.latencyMax ? std::max(*s.latencyMax, lmax) : lmax;
        double w = 1;
        if (i < s.seconds.size() && s.seconds[i].packets > 0)
            w = static_cast<double>(s.seconds[i].packets);
        weightedAvg += lavg * w;
        weightedJitter += ljit * w;
        weight += w;
        if (i < s.seconds.size()) {
            s.seconds[i].latencyMin = lmin;
            s.seconds[i].latencyMax = lmax;
            s.seconds[i].latencyAvg = lavg;
            s.seconds[i].jitter = ljit;
        }
    }
    if (weight > 0) {
        s.latencyAvg = weightedAvg / weight;
        s.jitter = weightedJitter / weight;
    }

    const std::int64_t first = asInt64(member(flow, "timestampfirst"));
    const std::int64_t last = asInt64(member(flow, "timestamplast"));
    if (!s.seconds.empty()) {
        // The mean covers first to last frame; a single-frame flow counts as one second.
        const double span = last > first ? static_cast<double>(last - first) / 1e9 : 1.0;
        s.meanMbps = static_cast<double>(s.bytes) * 8.0 / 1e6 / std::max(span, 1e-3);
        // The first and last seconds are usually partial; leave them out when there is more.
        std::size_t from = 0, to = s.seconds.size();
        if (s.seconds.size() > 2) {
            from = 1;
            to = s.seconds.size() - 1;
        }
        for (std::size_t i = from; i < to; ++i) {
            const double v = s.seconds[i].mbps;
            s.minMbps = s.minMbps ? std::min(*s.minMbps, v) : v;
            s.maxMbps = s.maxMbps ? std::max(*s.maxMbps, v) : v;
        }
    }
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
            p.rssi = static_cast<int>(asInt64(member(*chosen, "rssi")));
            p.bitRate = asInt64(member(*chosen, "txrate"));
            p.channel = static_cast<int>(asInt64(member(*chosen, "channel")));
        }
        m.points.push_back(p);
    }
    return m;
}

} // namespace

std::vector<ScenarioSummary> summarize(const Json::Value& resultList,
                                       const Json::Value& description,
                                       const std::string& endpoint)
{
    const auto flowDescriptions = describeFlows(description);
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
            s.flows.push_back(std::move(f));
        }
        // Loss: a trigger paired with the stream of the same family and ports.
        for (FlowSummary& trigger : s.flows) {
            const auto t = flowDescriptions.find(trigger.flowId);
            if (t == flowDescriptions.end() || !isTrigger(t->second.type))
                continue;
            for (const FlowSummary& stream : s.flows) {
                const auto d = flowDescriptions.find(stream.flowId);
                if (d == flowDescriptions.end() || !isStream(d->second.type) ||
                    family(d->second.type) != family(t->second.type) ||
                    d->second.srcPort != t->second.srcPort ||
                    d->second.dstPort != t->second.dstPort)
                    continue;
                trigger.lostPackets = static_cast<std::int64_t>(stream.packets) -
                                      static_cast<std::int64_t>(trigger.packets);
                trigger.lossPercent =
                    stream.packets == 0
                        ? 0.0
                        : 100.0 * static_cast<double>(*trigger.lostPackets) /
                              static_cast<double>(stream.packets);
                break;
            }
        }
        for (const Json::Value& monitor : arrayMember(scenario, "monitors"))
            s.monitors.push_back(summarizeMonitor(monitor));
        out.push_back(std::move(s));
    }
    return out;
}

} // namespace roamnode::report
