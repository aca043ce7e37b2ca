#include "SummaryTable.h"

#include "TextFormat.h"

#include <algorithm>
#include <functional>

namespace roamnode::report {
namespace {

std::string mbps(const std::optional<double>& v)
{
    return v ? format("%.2f", *v) : "-";
}

std::string serverMark(const FlowSummary& f)
{
    return f.measuredByServer ? " *" : "";
}

struct Column
{
    const char* header;
    // 0: always shown; the highest number goes first when a line is too long.
    int dropOrder;
    bool wideOnly;
    std::function<std::string(const FlowSummary&)> cell;
};

const std::vector<Column>& columns()
{
    static const std::vector<Column> all = {
        {"flow", 0, false, [](const FlowSummary& f) { return std::to_string(f.flowId); }},
        {"type", 0, false, [](const FlowSummary& f) { return f.type; }},
        {"status", 0, false, statusText},
        {"packets", 0, false, packetsText},
        {"bytes", 1, false,
         [](const FlowSummary& f) {
             return f.serverAmbiguous ? std::string("ambiguous")
                                      : humanBytes(f.bytes) + serverMark(f);
         }},
        {"Mbit/s", 0, false, [](const FlowSummary& f) { return mbps(f.meanMbps) + serverMark(f); }},
        {"min Mbit/s", 0, true, [](const FlowSummary& f) { return mbps(f.minMbps); }},
        {"max Mbit/s", 0, true, [](const FlowSummary& f) { return mbps(f.maxMbps); }},
        {"loss", 0, false, lossText},
        {"stream", 0, true,
         [](const FlowSummary& f) { return f.pairedWith.empty() ? "-" : f.pairedWith; }},
        {"lat min ms", 0, true, [](const FlowSummary& f) { return milliseconds(f.latencyMin); }},
        {"lat avg ms", 0, false, [](const FlowSummary& f) { return milliseconds(f.latencyAvg); }},
        {"lat max ms", 3, false, [](const FlowSummary& f) { return milliseconds(f.latencyMax); }},
        {"lat sd ms", 2, false, [](const FlowSummary& f) { return milliseconds(f.latencySd); }},
    };
    return all;
}

using Row = std::vector<std::string>;

std::vector<std::size_t> widths(const std::vector<Row>& rows)
{
    std::vector<std::size_t> w;
    for (const Row& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (w.size() <= i)
                w.push_back(0);
            w[i] = std::max(w[i], row[i].size());
        }
    return w;
}

std::size_t lineWidth(const std::vector<Row>& rows)
{
    std::size_t total = 0;
    for (const std::size_t w : widths(rows))
        total += w + 2;
    return total > 2 ? total - 2 : 0;
}

std::string render(const std::vector<Row>& rows)
{
    const std::vector<std::size_t> w = widths(rows);
    std::string out;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::string line;
        for (std::size_t i = 0; i < rows[r].size(); ++i) {
            std::string cell = rows[r][i];
            if (i + 1 < rows[r].size())
                cell.resize(w[i] + 2, ' ');
            line += cell;
        }
        out += line + '\n';
        if (r == 0)
            out += std::string(lineWidth(rows), '-') + '\n';
    }
    return out;
}

// Words wrapped at `width`, later lines indented by `indent` spaces.
std::string wrap(const std::string& text, std::size_t width, std::size_t indent)
{
    const std::size_t lead = std::min(text.find_first_not_of(' '), text.size());
    std::string out, line(lead, ' ');
    std::size_t start = lead;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(start, end - start);
        const bool hasWord = line.find_first_not_of(' ') != std::string::npos;
        if (hasWord && line.size() + 1 + word.size() > width) {
            out += line + '\n';
            line = std::string(indent, ' ');
        } else if (hasWord) {
            line += ' ';
        }
        line += word;
        start = end + 1;
    }
    return out + line + '\n';
}

std::string table(const ScenarioSummary& s, const TableOptions& options, bool& dropped)
{
    std::vector<const Column*> shown;
    for (const Column& c : columns())
        if (options.wide || !c.wideOnly)
            shown.push_back(&c);
    auto build = [&]() {
        std::vector<Row> rows(1);
        for (const Column* c : shown)
            rows[0].push_back(c->header);
        for (const FlowSummary& f : s.flows) {
            Row row;
            for (const Column* c : shown)
                row.push_back(c->cell(f));
            rows.push_back(row);
        }
        return rows;
    };
    std::vector<Row> rows = build();
    while (!options.wide && lineWidth(rows) > options.width) {
        const auto worst =
            std::max_element(shown.begin(), shown.end(), [](const Column* a, const Column* b) {
                return a->dropOrder < b->dropOrder;
            });
        if ((*worst)->dropOrder == 0)
            break;
        shown.erase(worst);
        dropped = true;
        rows = build();
    }
    return render(rows);
}

Json::Value optionalNumber(const std::optional<double>& v)
{
    return v ? Json::Value(*v) : Json::Value();
}

Json::Value optionalNumber(const std::optional<std::int64_t>& v)
{
    return v ? Json::Value(static_cast<Json::Int64>(*v)) : Json::Value();
}

// Every second as the endpoint counted it: what an archive keeps of the run.
Json::Value secondsJson(const FlowSummary& f)
{
    Json::Value out(Json::arrayValue);
    for (const SecondPoint& p : f.seconds) {
        Json::Value second;
        second["second"] = static_cast<Json::Int64>(p.second);
        second["packets"] = static_cast<Json::UInt64>(p.packets);
        second["bytes"] = static_cast<Json::UInt64>(p.bytes);
        // Every frame of a second with latency carries one value.
        second["latencycount"] = static_cast<Json::UInt64>(p.latencyAvg ? p.packets : 0);
        second["latencyminns"] = optionalNumber(p.latencyMin);
        second["latencyavgns"] = optionalNumber(p.latencyAvg);
        second["latencymaxns"] = optionalNumber(p.latencyMax);
        second["latencysdns"] = optionalNumber(p.latencySd);
        out.append(second);
    }
    return out;
}

Json::Value pointsJson(const MonitorSummary& m)
{
    Json::Value out(Json::arrayValue);
    for (const MonitorPoint& p : m.points) {
        Json::Value point;
        point["time"] = static_cast<Json::Int64>(p.time);
        point["interface"] = p.interfaceName;
        point["ssid"] = p.ssid;
        point["bssid"] = p.bssid;
        point["rssi"] = p.hasRssi() ? Json::Value(p.rssi) : Json::Value();
        point["txrate"] =
            p.hasBitRate() ? Json::Value(static_cast<Json::Int64>(p.bitRate)) : Json::Value();
        point["channel"] = p.hasChannel() ? Json::Value(p.channel) : Json::Value();
        out.append(point);
    }
    return out;
}

const char* pairingName(Pairing pairing)
{
    switch (pairing) {
    case Pairing::Paired:
        return "paired";
    case Pairing::Ambiguous:
        return "ambiguous";
    case Pairing::None:
        break;
    }
    return "none";
}

} // namespace

std::string statusText(const FlowSummary& f)
{
    std::string status = f.status.empty() ? "(none)" : f.status;
    if (f.isShort())
        status += " (short)";
    else if (f.measuredByServer && f.bytes == 0)
        status += " (0 bytes)";
    else if (isHttp(f.type) && !f.measuredByServer && f.status == "success")
        status += " (not measured)";
    return status;
}

std::string lossText(const FlowSummary& f)
{
    if (f.pairing == Pairing::Ambiguous)
        return "ambiguous";
    if (!f.lostPackets)
        return "-";
    return std::to_string(*f.lostPackets) + " (" + format("%.2f", *f.lossPercent) + " %)";
}

std::string packetsText(const FlowSummary& f)
{
    if (f.plannedFrames)
        return std::to_string(f.packets) + "/" + std::to_string(*f.plannedFrames);
    // The endpoint counts no packets of an HTTP flow.
    return isHttp(f.type) ? "-" : std::to_string(f.packets);
}

std::string summaryTable(const std::vector<ScenarioSummary>& scenarios, const TableOptions& options)
{
    std::string out;
    bool dropped = false;
    for (const ScenarioSummary& s : scenarios) {
        std::string title = "Scenario " + std::to_string(s.scenarioId);
        if (!s.endpoint.empty())
            title += " on " + s.endpoint;
        out += wrap(title, options.width, 2) + table(s, options, dropped);
        for (const FlowSummary& f : s.flows) {
            const std::string flow = "  flow " + std::to_string(f.flowId) + ": ";
            if (!f.error.empty())
                out += wrap(flow + f.error, options.width, 4);
            if (f.isShort())
                out += wrap(flow + "sent " + std::to_string(f.packets) + " of " +
                                std::to_string(*f.plannedFrames) + " planned frames, " +
                                std::to_string(f.shortfall()) + " short",
                            options.width, 4);
            if (f.serverAmbiguous)
                out += wrap(flow + "the HTTP server's connections match more than one "
                                   "endpoint's flow; give each its own url or srcport",
                            options.width, 4);
        }
        if (std::any_of(s.flows.begin(), s.flows.end(),
                        [](const FlowSummary& f) { return f.measuredByServer; }))
            out += "* measured by the HTTP server\n";
        for (const MonitorSummary& m : s.monitors)
            out += "Monitor " + std::to_string(m.id) + ": " + std::to_string(m.points.size()) +
                   " samples, status " + (m.status.empty() ? "(none)" : m.status) + '\n';
        out += '\n';
    }
    if (dropped)
        out += "(--wide shows every column)\n";
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
            flow["failed"] = f.failed();
            flow["packets"] = static_cast<Json::UInt64>(f.packets);
            flow["bytes"] = static_cast<Json::UInt64>(f.bytes);
            flow["meanmbps"] = optionalNumber(f.meanMbps);
            flow["minmbps"] = optionalNumber(f.minMbps);
            flow["maxmbps"] = optionalNumber(f.maxMbps);
            flow["measuredby"] = f.measuredByServer ? "server" : "endpoint";
            if (f.serverAmbiguous)
                flow["servermatch"] = "ambiguous";
            if (f.plannedFrames) {
                flow["plannedframes"] = static_cast<Json::UInt64>(*f.plannedFrames);
                flow["shortframes"] = static_cast<Json::UInt64>(f.shortfall());
                flow["short"] = f.isShort();
            }
            if (isTrigger(f.type)) {
                flow["pairing"] = pairingName(f.pairing);
                flow["pairedwith"] = f.pairedWith;
            }
            flow["lostpackets"] = optionalNumber(f.lostPackets);
            flow["losspercent"] = optionalNumber(f.lossPercent);
            flow["latencyminns"] = optionalNumber(f.latencyMin);
            flow["latencyavgns"] = optionalNumber(f.latencyAvg);
            flow["latencymaxns"] = optionalNumber(f.latencyMax);
            flow["latencysdns"] = optionalNumber(f.latencySd);
            flow["srcport"] = f.srcPort;
            flow["dstport"] = f.dstPort;
            flow["seconds"] = secondsJson(f);
            scenario["flows"].append(flow);
        }
        scenario["monitors"] = Json::Value(Json::arrayValue);
        for (const MonitorSummary& m : s.monitors) {
            Json::Value monitor;
            monitor["id"] = m.id;
            monitor["status"] = m.status;
            monitor["samples"] = static_cast<Json::UInt64>(m.points.size());
            monitor["points"] = pointsJson(m);
            scenario["monitors"].append(monitor);
        }
        out.append(scenario);
    }
    return out;
}

} // namespace roamnode::report
