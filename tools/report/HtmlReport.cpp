#include "HtmlReport.h"

#include "SvgChart.h"

#include <algorithm>
#include <cstdio>

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
    if (!v)
        return "-";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, fmt, *v / scale);
    return buffer;
}

std::string fixed(const std::optional<std::int64_t>& v, double scale)
{
    return v ? fixed(std::optional<double>(static_cast<double>(*v)), scale) : "-";
}

std::string flowName(const FlowSummary& f)
{
    return "flow " + std::to_string(f.flowId) + " (" + f.type + ")";
}

std::string table(const ScenarioSummary& s)
{
    std::string html = "<table><thead><tr><th>flow</th><th>type</th><th>status</th>"
                       "<th>packets</th><th>bytes</th><th>mean Mbit/s</th><th>min Mbit/s</th>"
                       "<th>max Mbit/s</th><th>loss</th><th>latency min/avg/max ms</th>"
                       "<th>jitter ms</th></tr></thead><tbody>";
    for (const FlowSummary& f : s.flows) {
        std::string status = htmlEscape(f.status.empty() ? "(none)" : f.status);
        if (!f.error.empty())
            status += "<br><span class=\"error\">" + htmlEscape(f.error) + "</span>";
        std::string loss = "-";
        if (f.lostPackets)
            loss = std::to_string(*f.lostPackets) + " (" + fixed(f.lossPercent, 1, "%.2f") + " %)";
        const std::string server =
            f.measuredByServer ? "<span title=\"measured by the HTTP server\"> *</span>" : "";
        html += "<tr><td>" + std::to_string(f.flowId) + "</td><td>" + htmlEscape(f.type) +
                "</td><td class=\"status-" + htmlEscape(f.status) + "\">" + status + "</td><td>" +
                std::to_string(f.packets) + "</td><td>" + std::to_string(f.bytes) + server +
                "</td><td>" + fixed(f.meanMbps, 1, "%.2f") + server + "</td><td>" +
                fixed(f.minMbps, 1, "%.2f") + "</td><td>" + fixed(f.maxMbps, 1, "%.2f") +
                "</td><td>" + loss + "</td><td>" + fixed(f.latencyMin, 1e6) + " / " +
                fixed(f.latencyAvg, 1e6) + " / " + fixed(f.latencyMax, 1e6) + "</td><td>" +
                fixed(f.jitter, 1e6) + "</td></tr>";
    }
    html += "</tbody></table>";
    if (std::any_of(s.flows.begin(), s.flows.end(),
                    [](const FlowSummary& f) { return f.measuredByServer; }))
        html += "<p class=\"note\">* measured by the HTTP server</p>";
    return html;
}

std::string charts(const ScenarioSummary& s)
{
    const double origin = static_cast<double>(s.timestamp / 1000000000);
    auto seconds = [&](std::int64_t ns) {
        return static_cast<double>(ns / 1000000000) - origin;
    };
    std::vector<Series> throughput, latency;
    for (std::size_t i = 0; i < s.flows.size(); ++i) {
        const FlowSummary& f = s.flows[i];
        Series t{flowName(f), colour(i), {}, {}, {}, {}};
        Series l{flowName(f), colour(i), {}, {}, {}, {}};
        for (const SecondPoint& p : f.seconds) {
            t.x.push_back(seconds(p.second));
            t.y.push_back(p.mbps);
            if (p.latencyAvg) {
                l.x.push_back(seconds(p.second));
                l.y.push_back(*p.latencyAvg / 1e6);
                l.bandLow.push_back(static_cast<double>(*p.latencyMin) / 1e6);
                l.bandHigh.push_back(static_cast<double>(*p.latencyMax) / 1e6);
            }
        }
        throughput.push_back(t);
        if (!l.x.empty())
            latency.push_back(l);
    }
    std::string html = svgLineChart("Throughput per second", "seconds since the start",
                                    "Mbit/s", throughput);
    if (!latency.empty())
        html += svgLineChart("Latency per second (average, min/max band)",
                             "seconds since the start", "ms", latency);
    for (std::size_t m = 0; m < s.monitors.size(); ++m) {
        const MonitorSummary& monitor = s.monitors[m];
        Series rssi{"RSSI", colour(0), {}, {}, {}, {}}, rate{"bit rate", colour(1), {}, {}, {}, {}},
            channel{"channel", colour(3), {}, {}, {}, {}};
        for (const MonitorPoint& p : monitor.points) {
            const double x = static_cast<double>(p.time - s.timestamp) / 1e9;
            rssi.x.push_back(x);
            rssi.y.push_back(p.rssi);
            rate.x.push_back(x);
            rate.y.push_back(static_cast<double>(p.bitRate) / 1e6);
            channel.x.push_back(x);
            channel.y.push_back(p.channel);
        }
        const std::string prefix = "Monitor " + std::to_string(monitor.id) + ": ";
        html += svgLineChart(prefix + "RSSI", "seconds since the start", "dBm", {rssi});
        html += svgLineChart(prefix + "bit rate", "seconds since the start", "Mbit/s", {rate});
        html += svgLineChart(prefix + "channel", "seconds since the start", "channel", {channel});
    }
    return html;
}

} // namespace

std::string htmlReport(const std::string& title, const std::vector<ScenarioSummary>& scenarios)
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
        ".status-success{color:#00A650}.status-error,.error{color:#ED1C24}"
        ".chart{display:block;margin:12px 0;background:#fff}"
        ".chart-title{font-size:14px;font-weight:bold}.tick,.legend{font-size:11px}"
        ".axis{font-size:12px;fill:#555}"
        "</style></head><body><h1>" +
        htmlEscape(title) + "</h1>";
    if (scenarios.empty())
        html += "<p>The endpoint reported no results.</p>";
    for (const ScenarioSummary& s : scenarios) {
        html += "<section><h2>Scenario " + std::to_string(s.scenarioId);
        if (!s.endpoint.empty())
            html += " on " + htmlEscape(s.endpoint);
        html += "</h2>" + table(s) + charts(s) + "</section>";
    }
    html += "</body></html>\n";
    return html;
}

} // namespace roamnode::report
