#include "HttpdStats.h"

#include "ScenarioFile.h"
#include "bus/JsonRead.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>

namespace hubrun {
namespace report = roamnode::report;
namespace {

// "127.0.0.1:5" or "[::1]:9" into its address and port.
void splitPeer(const std::string& peer, std::string& address, int& port)
{
    const std::size_t colon = peer.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return;
    std::string host = peer.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    address = report::normalAddress(host);
    port = std::atoi(peer.c_str() + colon + 1);
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

struct FlowRef
{
    report::EndpointResults* endpoint;
    report::FlowSummary* flow;
    report::FlowDescription description;
};

bool connectionFits(const ConnectionStat& c, const FlowRef& ref, std::int64_t duration)
{
    const report::FlowDescription& d = ref.description;
    int connection = 1;
    if ((!c.method.empty() && !d.method.empty() && c.method != upper(d.method)) ||
        !targetMatchesUrl(c.target, d.url, &connection))
        return false;
    if (!c.address.empty() && !ref.endpoint->addresses.count(c.address))
        return false;
    // Only the first connection uses the flow's own port; later ones take any.
    if (c.port != 0 && d.srcPort > 0 && connection == 1 && c.port != d.srcPort)
        return false;
    if (c.startNs != 0 && ref.endpoint->hubStartNs != 0) {
        const std::int64_t from =
            ref.endpoint->hubStartNs + std::max<std::int64_t>(0, d.initialTimeToWait);
        const std::int64_t to = ref.endpoint->hubStartNs + duration;
        if (c.startNs < from - kWindowSlackNs || c.startNs > to + kWindowSlackNs)
            return false;
    }
    return true;
}

} // namespace

std::vector<ConnectionStat> parseConnectionStats(const std::string& text)
{
    std::vector<ConnectionStat> connections;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        Json::Value object;
        std::string ignored;
        if (line.find_first_not_of(" \t\r") == std::string::npos ||
            !roamnode::parseJson(line, object, &ignored) || !object.isObject() ||
            !object["target"].isString() || !object["bytes"].isNumeric() ||
            !object["seconds"].isNumeric())
            continue;
        ConnectionStat c;
        c.method = object["method"].isString() ? object["method"].asString() : std::string();
        c.target = object["target"].asString();
        c.bytes = object["bytes"].asDouble() < 0 ? 0 : object["bytes"].asLargestUInt();
        c.seconds = std::max(0.0, object["seconds"].asDouble());
        c.peer = object["peer"].isString() ? object["peer"].asString() : std::string();
        if (object["address"].isString() && !object["address"].asString().empty())
            c.address = report::normalAddress(object["address"].asString());
        if (object["port"].isIntegral())
            c.port = static_cast<int>(object["port"].asLargestInt() & 0xffff);
        if (c.address.empty())
            splitPeer(c.peer, c.address, c.port);
        if (object["start"].isIntegral())
            c.startNs = object["start"].asInt64();
        connections.push_back(c);
    }
    return connections;
}

std::string flowPathName(const std::string& url)
{
    const std::size_t first = url.find('/');
    if (first == std::string::npos)
        return url;
    const std::size_t second = url.find('/', first + 1);
    const std::size_t third =
        second == std::string::npos ? std::string::npos : url.find('/', second + 1);
    return third == std::string::npos ? url.substr(first + 1)
                                      : url.substr(first + 1, third - first - 1);
}

bool targetMatchesUrl(const std::string& target, const std::string& url, int* connection)
{
    const std::string prefix = "/" + flowPathName(url);
    if (target.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::size_t at = prefix.size();
    int number = 1;
    if (at < target.size() && target[at] == '-') {
        std::size_t digits = at + 1;
        while (digits < target.size() && std::isdigit(static_cast<unsigned char>(target[digits])))
            ++digits;
        if (digits == at + 1 || digits - at > 10)
            return false;
        number = std::atoi(target.c_str() + at + 1);
        at = digits;
    }
    if (connection)
        *connection = number;
    return at < target.size() && target[at] == '/';
}

int applyConnectionStats(std::vector<report::EndpointResults>& endpoints,
                         const std::vector<ConnectionStat>& connections)
{
    std::vector<FlowRef> flows;
    std::map<report::EndpointResults*, std::int64_t> durations;
    for (report::EndpointResults& endpoint : endpoints) {
        const auto descriptions = report::describeFlows(endpoint.description);
        const Json::Value& duration = endpoint.description["duration"];
        durations[&endpoint] = duration.isIntegral() ? duration.asInt64() : 0;
        for (report::ScenarioSummary& scenario : endpoint.summaries)
            for (report::FlowSummary& flow : scenario.flows) {
                const auto it = descriptions.find(flow.flowId);
                if (it != descriptions.end() && report::isHttp(it->second.type))
                    flows.push_back({&endpoint, &flow, it->second});
            }
    }
    std::map<report::FlowSummary*, double> seconds;
    for (FlowRef& ref : flows) {
        ref.flow->measuredByServer = true;
        ref.flow->bytes = 0;
        seconds[ref.flow] = 0;
    }
    for (const ConnectionStat& c : connections) {
        std::vector<FlowRef*> fits;
        for (FlowRef& ref : flows)
            if (connectionFits(c, ref, durations[ref.endpoint]))
                fits.push_back(&ref);
        if (fits.size() > 1) {
            for (FlowRef* ref : fits)
                ref->flow->serverAmbiguous = true;
            continue;
        }
        if (fits.size() == 1) {
            fits[0]->flow->bytes += c.bytes;
            seconds[fits[0]->flow] += c.seconds;
        }
    }
    int filled = 0;
    for (FlowRef& ref : flows) {
        report::FlowSummary& flow = *ref.flow;
        if (flow.serverAmbiguous) {
            // What is left would be a part of its bytes, shown as if it were all of them.
            flow.measuredByServer = false;
            flow.bytes = 0;
            flow.meanMbps.reset();
            continue;
        }
        flow.meanMbps =
            static_cast<double>(flow.bytes) * 8.0 / 1e6 / std::max(seconds[&flow], 1e-3);
        if (flow.bytes > 0)
            ++filled;
    }
    return filled;
}

} // namespace hubrun
