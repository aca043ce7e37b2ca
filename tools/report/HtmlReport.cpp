#include "HtmlReport.h"

#include "SummaryTable.h"
#include "SvgChart.h"
#include "TextFormat.h"
#include "bus/TimePoint.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace roamnode::report {
namespace {

const char* const kPalette[] = {"#00ADEE", "#00A650", "#ED1C24", "#F7941D",
                                "#8E44AD", "#2C3E50", "#16A085", "#D35400"};

std::string colour(std::size_t i)
{
    return kPalette[i % (sizeof kPalette / sizeof kPalette[0])];
}

std::string fixed(const std::optional<double>& v, double scale, const char* fmt = "%.3f")
{
    return v ? format(fmt, *v / scale) : "-";
}

std::string fixed(const std::optional<std::int64_t>& v, double scale)
{
    return v ? fixed(std::optional<double>(static_cast<double>(*v)), scale) : "-";
}

std::string flowName(const FlowSummary& f)
{
    return "flow " + std::to_string(f.flowId) + " (" + f.type + ")";
}

// Green only for what really succeeded; an HTTP flow nobody counted is neither.
std::string statusClass(const FlowSummary& f)
{
    if (f.failed())
        return "status-bad";
    if (isHttp(f.type) && !f.measuredByServer)
        return "status-unknown";
    return "status-success";
}

std::string endpointsTable(const RunInfo& run)
{
    std::string html = "<table class=\"endpoints\"><thead><tr><th>endpoint</th><th>device id</th>"
                       "<th>addresses</th><th>OS</th><th>app version</th>"
                       "<th>clock offset before</th><th>after</th><th>drift</th></tr></thead>"
                       "<tbody>";
    for (const EndpointInfo& e : run.endpoints) {
        auto offset = [](const std::optional<std::int64_t>& v,
                         const std::optional<std::int64_t>& error) {
            return v && error ? htmlEscape(offsetText(*v, *error)) : std::string("-");
        };
        html +=
            "<tr><td>" + htmlEscape(e.name.empty() ? "-" : e.name) + "</td><td>" +
            htmlEscape(e.id) + "</td><td>" + htmlEscape(e.addresses) + "</td><td>" +
            htmlEscape(e.os) + "</td><td>" + htmlEscape(e.appVersion) + "</td><td>" +
            offset(e.offsetNs, e.offsetErrorNs) + "</td><td>" +
            offset(e.offsetAfterNs, e.offsetAfterErrorNs) + "</td><td>" +
            (e.driftNsPerMinute && e.driftErrorNsPerMinute
                 ? format("%+.3f", roamnode::millisecondsOf(*e.driftNsPerMinute)) + " \xc2\xb1 " +
                       format("%.3f ms/min", roamnode::millisecondsOf(*e.driftErrorNsPerMinute))
                 : std::string("-")) +
            "</td></tr>";
    }
    return html + "</tbody></table>";
}

std::string table(const ScenarioSummary& s)
{
    std::string html = "<table><thead><tr><th>flow</th><th>type</th><th>status</th>"
                       "<th>packets (sent/planned)</th><th>bytes</th><th>mean Mbit/s</th>"
                       "<th>min Mbit/s</th><th>max Mbit/s</th><th>loss</th>"
                       "<th>latency min / avg / max ms</th>"
                       "<th>latency standard deviation ms</th></tr></thead><tbody>";
    for (const FlowSummary& f : s.flows) {
        std::string status = htmlEscape(statusText(f));
        if (!f.error.empty())
            status += "<br><span class=\"error\">" + htmlEscape(f.error) + "</span>";
        if (f.isShort())
            status += "<br><span class=\"error\">" + std::to_string(f.shortfall()) +
                      " frames short</span>";
        std::string loss = htmlEscape(lossText(f));
        if (!f.pairedWith.empty())
            loss += "<br><span class=\"note\">from " + htmlEscape(f.pairedWith) + "</span>";
        const std::string server =
            f.measuredByServer ? "<span title=\"measured by the HTTP server\"> *</span>" : "";
        const std::string bytes = f.serverAmbiguous ? "ambiguous" : humanBytes(f.bytes);
        html += "<tr><td>" + std::to_string(f.flowId) + "</td><td>" + htmlEscape(f.type) +
                "</td><td class=\"" + statusClass(f) + "\">" + status + "</td><td>" +
                htmlEscape(packetsText(f)) + "</td><td>" + bytes + server + "</td><td>" +
                fixed(f.meanMbps, 1, "%.2f") + server + "</td><td>" + fixed(f.minMbps, 1, "%.2f") +
                "</td><td>" + fixed(f.maxMbps, 1, "%.2f") + "</td><td>" + loss + "</td><td>" +
                (f.latencyAvg ? fixed(f.latencyMin, 1e6) + " / " + fixed(f.latencyAvg, 1e6) +
                                    " / " + fixed(f.latencyMax, 1e6)
                              : std::string("-")) +
                "</td><td>" + fixed(f.latencySd, 1e6) + "</td></tr>";
    }
    html += "</tbody></table>";
    if (std::any_of(s.flows.begin(), s.flows.end(),
                    [](const FlowSummary& f) { return f.measuredByServer; }))
        html += "<p class=\"note\">* measured by the HTTP server</p>";
    return html;
}

// The seconds a chart shows: the whole ones; the partial first and last only when there is
// nothing else.
std::vector<const SecondPoint*> chartedSeconds(const FlowSummary& f, bool& partialShown)
{
    std::vector<const SecondPoint*> out;
    for (const SecondPoint& p : f.seconds)
        if (!p.partial)
            out.push_back(&p);
    if (out.empty() && !f.seconds.empty()) {
        partialShown = true;
        for (const SecondPoint& p : f.seconds)
            out.push_back(&p);
    }
    return out;
}

std::string monitorCharts(const ScenarioSummary& s, const MonitorSummary& monitor)
{
    Series rssi{"RSSI", colour(0), {}, {}, {}, {}}, rate{"bit rate", colour(1), {}, {}, {}, {}},
        channel{"channel", colour(3), {}, {}, {}, {}};
    std::set<std::string> interfaces;
    for (const MonitorPoint& p : monitor.points) {
        const double x =
            roamnode::secondsOf(static_cast<double>(p.time) - static_cast<double>(s.timestamp));
        if (p.hasRssi()) {
            rssi.x.push_back(x);
            rssi.y.push_back(p.rssi);
        }
        if (p.hasBitRate()) {
            rate.x.push_back(x);
            rate.y.push_back(static_cast<double>(p.bitRate) / 1e6);
        }
        if (p.hasChannel()) {
            channel.x.push_back(x);
            channel.y.push_back(p.channel);
        }
        if (p.hasRssi() || p.hasBitRate() || p.hasChannel())
            interfaces.insert(p.interfaceName);
    }
    const std::string prefix = "Monitor " + std::to_string(monitor.id) + ": ";
    if (interfaces.empty())
        return "<p class=\"note\">" + htmlEscape(prefix) + "no Wi-Fi association during the run (" +
               std::to_string(monitor.points.size()) + " samples without values)</p>";
    std::string names;
    for (const std::string& name : interfaces)
        names += (names.empty() ? "" : ", ") + name;
    std::string html;
    const std::string x = "seconds since the start";
    if (!rssi.x.empty())
        html += svgLineChart(prefix + "RSSI (" + names + ")", x, "dBm", {rssi});
    if (!rate.x.empty())
        html += svgLineChart(prefix + "bit rate (" + names + ")", x, "Mbit/s", {rate});
    if (!channel.x.empty())
        html += svgLineChart(prefix + "channel (" + names + ")", x, "channel", {channel});
    return html;
}

std::string charts(const ScenarioSummary& s)
{
    const double origin = static_cast<double>(s.timestamp / roamnode::kNanosecondsPerSecond);
    auto seconds = [&](std::int64_t ns) {
        return static_cast<double>(ns / roamnode::kNanosecondsPerSecond) - origin;
    };
    std::vector<Series> throughput, latency;
    bool partialShown = false, partialLeftOut = false;
    for (std::size_t i = 0; i < s.flows.size(); ++i) {
        const FlowSummary& f = s.flows[i];
        Series t{flowName(f), colour(i), {}, {}, {}, {}};
        Series l{flowName(f), colour(i), {}, {}, {}, {}};
        const std::vector<const SecondPoint*> points = chartedSeconds(f, partialShown);
        partialLeftOut = partialLeftOut || points.size() < f.seconds.size();
        for (const SecondPoint* p : points) {
            t.x.push_back(seconds(p->second));
            t.y.push_back(p->mbps);
            if (p->latencyAvg) {
                l.x.push_back(seconds(p->second));
                l.y.push_back(roamnode::millisecondsOf(*p->latencyAvg));
                l.bandLow.push_back(roamnode::millisecondsOf(static_cast<double>(*p->latencyMin)));
                l.bandHigh.push_back(roamnode::millisecondsOf(static_cast<double>(*p->latencyMax)));
            }
        }
        throughput.push_back(t);
        if (!l.x.empty())
            latency.push_back(l);
    }
    std::string html =
        svgLineChart("Throughput per second", "seconds since the start", "Mbit/s", throughput);
    if (!latency.empty())
        html += svgLineChart("Latency per second (average, min/max band)",
                             "seconds since the start", "ms", latency);
    if (partialLeftOut)
        html += "<p class=\"note\">The first and last second of a flow are partial (it starts "
                "and ends inside them): the charts leave them out.</p>";
    if (partialShown)
        html += "<p class=\"note\">A flow that ran within two seconds has only partial seconds: "
                "they are drawn, and read low.</p>";
    for (const MonitorSummary& monitor : s.monitors)
        html += monitorCharts(s, monitor);
    return html;
}

} // namespace

std::string htmlReport(const std::string& title, const std::vector<ScenarioSummary>& scenarios,
                       const RunInfo& run)
{
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
        htmlEscape(title) +
        "</title><style>"
        "body{font-family:'Open Sans',Arial,sans-serif;margin:24px;color:#222;max-width:1100px}"
        "h1{color:#00ADEE}h2{border-bottom:2px solid #00ADEE;padding-bottom:4px}"
        "table{border-collapse:collapse;margin:12px 0;font-size:13px}"
        "th,td{border:1px solid #ccc;padding:4px 8px;text-align:right}"
        "th{background:#f2f2f2}td:nth-child(2),td:nth-child(3){text-align:left}"
        "td{white-space:nowrap}.error,.note{white-space:normal}"
        ".endpoints td{text-align:left;white-space:normal}"
        ".status-success{color:#00A650}.status-bad,.error{color:#ED1C24}"
        ".status-unknown{color:#777}.note{color:#555;font-size:12px}"
        ".chart{display:block;margin:12px 0;background:#fff}"
        ".chart-title{font-size:14px;font-weight:bold}.tick,.legend{font-size:11px}"
        ".axis{font-size:12px;fill:#555}"
        "</style></head><body><h1>" +
        htmlEscape(title) + "</h1>";
    if (run.startNs != 0)
        html += "<p>Run started " + htmlEscape(clockTime(run.startNs, true)) + " (" +
                htmlEscape(clockTime(run.startNs)) + ")</p>";
    if (!run.endpoints.empty())
        html += "<h2>Endpoints</h2>" + endpointsTable(run) +
                "<p class=\"note\">Clock offset: the endpoint's clock minus the hub's, \xc2\xb1 "
                "half the best round trip of the exchanges that measured it. One-way latency "
                "between two machines is only as good as their offsets' errors.</p>";
    if (scenarios.empty())
        html += "<p>The endpoint reported no results.</p>";
    for (const ScenarioSummary& s : scenarios) {
        html += "<section><h2>Scenario " + std::to_string(s.scenarioId);
        if (!s.endpoint.empty())
            html += " on " + htmlEscape(s.endpoint);
        html += "</h2>";
        if (s.timestamp > 0)
            html += "<p class=\"note\">Started " + htmlEscape(clockTime(s.timestamp)) +
                    " on the endpoint's clock</p>";
        html += table(s) + charts(s) + "</section>";
    }
    html += "</body></html>\n";
    return html;
}

} // namespace roamnode::report
