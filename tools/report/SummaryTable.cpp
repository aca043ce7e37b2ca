#include "SummaryTable.h"

#include <algorithm>
#include <cstdio>

namespace roamnode::report {
namespace {

std::string format(const char* fmt, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, fmt, value);
    return buffer;
}

std::string milliseconds(const std::optional<double>& ns)
{
    return ns ? format("%.3f", *ns / 1e6) : "-";
}

std::string milliseconds(const std::optional<std::int64_t>& ns)
{
    return ns ? format("%.3f", static_cast<double>(*ns) / 1e6) : "-";
}

std::string mbps(const std::optional<double>& v)
{
    return v ? format("%.2f", *v) : "-";
}

using Row = std::vector<std::string>;

std::string render(const std::vector<Row>& rows)
{
    std::vector<std::size_t> widths;
    for (const Row& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (widths.size() <= i)
                widths.push_back(0);
            widths[i] = std::max(widths[i], row[i].size());
        }
    std::string out;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t i = 0; i < rows[r].size(); ++i) {
            std::string cell = rows[r][i];
            if (i + 1 < rows[r].size())
                cell.resize(widths[i], ' ');
            out += cell;
            if (i + 1 < rows[r].size())
                out += "  ";
        }
        out += '\n';
        if (r == 0) {
            std::size_t total = 0;
            for (const std::size_t w : widths)
                total += w + 2;
            out += std::string(total > 2 ? total - 2 : 0, '-') + '\n';
        }
    }
    return out;
}

Json::Value optionalNumber(const std::optional<double>& v)
{
    return v ? Json::Value(*v) : Json::Value();
}

Json::Value optionalNumber(const std::optional<std::int64_t>& v)
{
    return v ? Json::Value(static_cast<Json::Int64>(*v)) : Json::Value();
}

} // namespace

std::string summaryTable(const std::vector<ScenarioSummary>& scenarios)
{
    std::string out;
    for (const ScenarioSummary& s : scenarios) {
        out += "Scenario " + std::to_string(s.scenarioId);
        if (!s.endpoint.empty())
            out += " on " + s.endpoint;
        out += '\n';
        std::vector<Row> rows = {{"flow", "type", "status", "packets", "bytes", "mean Mbit/s",
                                  "min Mbit/s", "max Mbit/s", "loss", "lat min ms", "lat avg ms",
                                  "lat max ms", "jitter ms"}};
        for (const FlowSummary& f : s.flows) {
            std::string status = f.status.empty() ? "(none)" : f.status;
            if (!f.error.empty())
                status += ": " + f.error;
            std::string loss = "-";
            if (f.lostPackets)
                loss = std::to_string(*f.lostPackets) + " (" + format("%.2f", *f.lossPercent) +
                       " %)";
            rows.push_back({std::to_string(f.flowId), f.type, status, std::to_string(f.packets),
                            std::to_string(f.bytes) + (f.measuredByServer ? " *" : ""),
                            mbps(f.meanMbps) + (f.measuredByServer ? " *" : ""), mbps(f.minMbps),
                            mbps(f.maxMbps), loss, milliseconds(f.latencyMin),
                            milliseconds(f.latencyAvg), milliseconds(f.latencyMax),
                            milliseconds(f.jitter)});
        }
        out += render(rows);
        if (std::any_of(s.flows.begin(), s.flows.end(),
                        [](const FlowSummary& f) { return f.measuredByServer; }))
            out += "* measured by the HTTP server\n";
        for (const MonitorSummary& m : s.monitors)
            out += "Monitor " + std::to_string(m.id) + ": " + std::to_string(m.points.size()) +
                   " samples, status " + (m.status.empty() ? "(none)" : m.status) + '\n';
        out += '\n';
    }
    return out;
}

Json::Value summaryJson(const std::vector<ScenarioSummary>& scenarios)
{
    Json::Value out(Json::arrayValue);
    for (const ScenarioSummary& s : scenarios) {
        Json::Value scenario;
        scenario["endpoint"] = s.endpoint;
        scenario["scenarioid"] = s.scenarioId;
        scenario["timestamp"] = static_cast<Json::Int64>(s.timestamp);
        scenario["flows"] = Json::Value(Json::arrayValue);
        for (const FlowSummary& f : s.flows) {
            Json::Value flow;
            flow["id"] = static_cast<Json::Int64>(f.flowId);
            flow["type"] = f.type;
            flow["status"] = f.status;
            flow["errormsg"] = f.error;
            flow["packets"] = static_cast<Json::UInt64>(f.packets);
            flow["bytes"] = static_cast<Json::UInt64>(f.bytes);
            flow["meanmbps"] = optionalNumber(f.meanMbps);
            flow["minmbps"] = optionalNumber(f.minMbps);
            flow["maxmbps"] = optionalNumber(f.maxMbps);
            flow["measuredby"] = f.measuredByServer ? "server" : "endpoint";
            flow["lostpackets"] = optionalNumber(f.lostPackets);
            flow["losspercent"] = optionalNumber(f.lossPercent);
            flow["latencyminns"] = optionalNumber(f.latencyMin);
            flow["latencyavgns"] = optionalNumber(f.latencyAvg);
            flow["latencymaxns"] = optionalNumber(f.latencyMax);
            flow["jitterns"] = optionalNumber(f.jitter);
            scenario["flows"].append(flow);
        }
        scenario["monitors"] = Json::Value(Json::arrayValue);
        for (const MonitorSummary& m : s.monitors) {
            Json::Value monitor;
            monitor["id"] = m.id;
            monitor["status"] = m.status;
            monitor["samples"] = static_cast<Json::UInt64>(m.points.size());
            scenario["monitors"].append(monitor);
        }
        out.append(scenario);
    }
    return out;
}

} // namespace roamnode::report
