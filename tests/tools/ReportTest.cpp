#include "FlowPairing.h"
#include "HtmlReport.h"
#include "JsonParse.h"
#include "ResultSummary.h"
#include "SummaryTable.h"
#include "SvgChart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace {

using namespace roamnode::report;

// A result list as the endpoint writes it: a stream (id 1) that sent 100 frames, the trigger
// (id 2) that counted 98 of them with latency, an HTTP flow without samples that failed, and a
// monitor with two samples.
inline const char* const kResultList =
    R"([{"scenarioid": 7, "timestamp": 1700000000000000000,"flows":[
 {"id": 1, "status": "success", "errormsg": "", "timestamparray": [1700000000000000000, 1700000001000000000, 1700000002000000000], "packetcountarray": [10, 80, 10], "bytecountarray": [1060, 8480, 1060],"timestampfirst": 1700000000100000000, "timestamplast": 1700000002090000000},
 {"id": 2, "status": "success", "errormsg": "", "timestamparray": [1700000000000000000, 1700000001000000000, 1700000002000000000], "packetcountarray": [10, 78, 10], "bytecountarray": [1060, 8268, 1060],"timestampfirst": 1700000000100000000, "timestamplast": 1700000002090000000, "latencyarray": [{"latencymin": 100000, "latencymax": 300000, "latencyavg": 200000, "jitter": 50000}, {"latencymin": 90000, "latencymax": 400000, "latencyavg": 150000, "jitter": 40000}, {}]},
 {"id": 3, "status": "error", "errormsg": "invalid destination address 'x'", "timestamparray": [], "packetcountarray": [], "bytecountarray": []}
],"monitors":[{"id":4,"type":"networkinfo","status":"success","errormsg":"","monitorresult":[{"timestamp": 1700000000000000000,"interfaces": [{"type": "loopback","name": "lo","displayname": "lo","mac": "00:00:00:00:00:00","ipv4": ["127.0.0.1"],"ipv6": [],"ssid": "","bssid": "00:00:00:00:00:00","rssi": -127,"txrate":-1,"rxrate":-1,"channel":-1}, {"type": "wifi_ieee80211","name": "wlan0","displayname": "wlan0","mac": "a4:c3:f0:11:22:33","ipv4": [],"ipv6": [],"ssid": "lab","bssid": "00:11:22:33:44:55","rssi": -52,"txrate":144400000,"rxrate":144400000,"channel":36}]}, {"timestamp": 1700000001000000000,"interfaces": []}]}]}])";

inline const char* const kDescription = R"({"scenarioid": 7, "duration": 2000000000, "flows": [
 {"id": 1, "flowtype": "streamv4", "flow": {"srcport": 5000, "dstport": 6000,
  "dstipv4": "127.0.0.1", "interframegap": 20000000, "numberofframes": 100}},
 {"id": 2, "flowtype": "triggerv4", "flow": {"srcport": 5000, "dstport": 6000,
  "srcipv4": "127.0.0.1"}},
 {"id": 3, "flowtype": "tcpv4", "flow": {"requestmethod": "get"}}]})";

Json::Value parse(const std::string& text)
{
    const auto value = testsupport::parsed(text);
    EXPECT_TRUE(value) << text;
    return value.value_or(Json::Value());
}

// The summaries of kResultList on one endpoint, paired as the hub pairs them.
std::vector<ScenarioSummary> pairedSummaries(const std::string& endpoint = "dev-1")
{
    std::vector<EndpointResults> endpoints = {
        {endpoint,
         {"127.0.0.1"},
         parse(kDescription),
         summarize(parse(kResultList), parse(kDescription), endpoint),
         0}};
    pairStreamsAndTriggers(endpoints);
    return endpoints[0].summaries;
}

// The run of kResultList: its start and one endpoint 1.5 ms ahead.
const EndpointInfo kLab = {
    "lab", "3f2a", "10.0.0.5, fd00::5", "Linux debian 12", "2.12.3.0", 1'500'000, 45'000, {}, {},
    {},    {}};
const RunInfo kSampleRun = {1700000000000000000, {kLab}};

} // namespace

TEST(ResultSummary, CountsRatesLossAndLatencyForTheTableAndJson)
{
    const auto scenarios = pairedSummaries();
    ASSERT_EQ(scenarios.size(), 1u);
    const ScenarioSummary& s = scenarios[0];
    ASSERT_EQ(s.flows.size(), 3u);

    const FlowSummary& stream = s.flows[0];
    EXPECT_EQ(std::tie(stream.type, stream.packets, stream.bytes),
              std::make_tuple("streamv4", 100u, 10600u));
    // The partial first and last seconds are left out of mean, min and max alike, so the mean
    // cannot lie above the max (over first to last frame it would: 10600 bytes in 1.99 s).
    for (const auto& mbps : {stream.meanMbps, stream.minMbps, stream.maxMbps})
        EXPECT_DOUBLE_EQ(mbps.value_or(0), 8480 * 8 / 1e6);
    EXPECT_TRUE(stream.seconds.front().partial && stream.seconds.back().partial);
    EXPECT_FALSE(stream.seconds[1].partial);
    EXPECT_FALSE(stream.lostPackets);

    // Its pairing and loss: in the table and JSON below (the rule itself: FlowPairing).
    const FlowSummary& trigger = s.flows[1];
    EXPECT_EQ(std::tie(trigger.latencyMin, trigger.latencyMax), std::make_tuple(90000, 400000));
    // Weighted by the packets of each second: (200000 * 10 + 150000 * 78) / 88.
    EXPECT_NEAR(trigger.latencyAvg.value_or(0), (200000.0 * 10 + 150000.0 * 78) / 88, 1e-6);
    // The standard deviation of all 88 values, pooled from each second's mean and deviation.
    EXPECT_NEAR(trigger.latencySd.value_or(0), 43925.105, 0.01);

    const FlowSummary& tcp = s.flows[2];
    EXPECT_EQ(std::tie(tcp.status, tcp.packets, tcp.meanMbps),
              std::make_tuple("error", 0u, std::nullopt));

    ASSERT_EQ(s.monitors.size(), 1u);
    ASSERT_EQ(s.monitors[0].points.size(), 2u);
    const MonitorPoint& wifi = s.monitors[0].points[0];
    EXPECT_EQ(std::tie(wifi.interfaceName, wifi.rssi, wifi.channel),
              std::make_tuple("wlan0", -52, 36));

    const std::string table = summaryTable(scenarios);
    for (const char* text : {"Scenario 7 on dev-1", "flow 3: invalid destination address 'x'",
                             "2 (2.00 %)", "Monitor 4: 2 samples"})
        EXPECT_NE(table.find(text), std::string::npos) << text;
    EXPECT_EQ(table.find("measured by"), std::string::npos);
    const Json::Value json = summaryJson(scenarios);
    EXPECT_EQ(json[0]["flows"][1]["lostpackets"].asInt(), 2);
    EXPECT_TRUE(json[0]["flows"][2]["meanmbps"].isNull());
}

TEST(ResultSummary, ResultsOfAnEarlierRunAreLeftOut)
{
    std::vector<ScenarioSummary> summaries(3);
    summaries[0].timestamp = 100 * 1000000000LL; // a minute before the run
    summaries[1].timestamp = 160 * 1000000000LL; // this run
    summaries[2].timestamp = 159'500'000'000LL;  // this run, read on a slightly other clock
    EXPECT_EQ(dropEarlierResults(summaries, 160 * 1000000000LL), 1u);
    ASSERT_EQ(summaries.size(), 2u);
    EXPECT_EQ(summaries[0].timestamp, 160 * 1000000000LL);
}

TEST(ResultSummary, ToleratesOddShapes)
{
    EXPECT_TRUE(summarize(parse("{}"), Json::Value(), "").empty());
    const auto s = summarize(parse(R"([{"flows": [{"id": 9}, 3, null]}, 5])"), Json::Value());
    ASSERT_EQ(s.size(), 2u);
    ASSERT_EQ(s[0].flows.size(), 3u);
    EXPECT_EQ(s[0].flows[0].type, "?");
    // Numbers past the 64-bit range saturate (undefined behaviour before, found by fuzzing).
    const auto huge =
        summarize(parse(R"([{"scenarioid": 1, "timestamp": 5e22, "flows": [{"id": 1e300,
              "timestampfirst": -5e22, "timestamplast": 1e30}]}])"),
                  Json::Value());
    ASSERT_EQ(huge.size(), 1u);
    EXPECT_EQ(huge[0].flows.size(), 1u);
    // Seconds and monitor samples so far apart that their difference leaves the 64-bit range
    // (fuzzing again): the seconds between count as empty, the page is drawn.
    const auto apart =
        summarize(parse(R"([{"scenarioid": 1, "timestamp": 1700000000000000000, "flows": [{"id": 1,
              "timestamparray": [-8746744071709551616, 1700000000000000000],
              "packetcountarray": [1, 1], "bytecountarray": [100, 100]}], "monitors": [{"id": 2,
              "type": "networkinfo", "monitorresult": [{"timestamp": -8746744072709551616,
              "interfaces": [{"name": "wlan0", "rssi": -50}]}]}]}])"),
                  Json::Value());
    ASSERT_EQ(apart.size(), 1u);
    ASSERT_EQ(apart[0].flows.size(), 1u);
    EXPECT_EQ(apart[0].flows[0].minMbps, 0.0);
    EXPECT_NE(htmlReport("apart", apart).find("<svg"), std::string::npos);
}

TEST(SvgChart, AxesOfHugeValuesAndTinySpansDrawAFewTicks)
{
    // Absolute times a nanosecond apart: a tick step too small to move such a value once made
    // the tick loop run until memory ran out (found by fuzzing).
    Series s{"flow", "#000", {1.7e18, 1.7e18 + 1}, {1.7e18, 1.7e18 + 1}, {}, {}};
    const std::string svg = svgLineChart("t", "x", "y", {s});
    EXPECT_LT(svg.size(), 20000u);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
}

TEST(HtmlReport, SelfContainedWithCharts)
{
    const auto scenarios = pairedSummaries("<dev>");
    const std::string html = htmlReport("Roamnode run", scenarios, kSampleRun);
    for (const char* text :
         {"2023-11-14 22:13:20.000 UTC", "+1.500 ms \xc2\xb1 0.045 ms", "10.0.0.5",
          "standard deviation", "the charts leave them out", "Throughput per second",
          "Latency per second", "class=\"band\"", "Monitor 4: RSSI", "&lt;dev&gt;"})
        EXPECT_NE(html.find(text), std::string::npos) << text;
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    // No jitter, and nothing to fetch: no scripts, links or remote resources.
    for (const char* text : {"jitter", "<script", "src=", "href="})
        EXPECT_EQ(html.find(text), std::string::npos) << text;

    // A monitor that saw no Wi-Fi (the endpoint's -127, -1, -1): no charts of placeholders.
    const std::string eth0 =
        R"({"interfaces": [{"name": "eth0", "rssi": -127, "txrate": -1, "channel": -1}]})";
    const Json::Value list =
        parse(R"([{"monitors": [{"id": 4, "monitorresult": [)" + eth0 + ", " + eth0 + "]}]}]");
    const std::string plain = htmlReport("t", summarize(list, Json::Value()));
    EXPECT_NE(plain.find("no Wi-Fi association during the run"), std::string::npos) << plain;
    EXPECT_EQ(plain.find("Monitor 4: RSSI"), std::string::npos);
}

TEST(FlowPairing, AddressesAnEndpointSentAsTextAreReadWithinLimits)
{
    Json::Value info;
    info["device-ipv4"] = "[\"10.0.0.1/24\"]";
    info["device-ipv6"] = std::string(5000, '[') + std::string(5000, ']'); // threw before
    std::set<std::string> addresses;
    EXPECT_NO_THROW(addresses = deviceAddresses(info));
    EXPECT_EQ(addresses.count("10.0.0.1"), 1u);
}

// A stream on one endpoint, a trigger on another: paired by ports and by each other's addresses,
// wherever they ran.
TEST(FlowPairing, PairsAcrossEndpointsAndSaysWhenItCannotTell)
{
    const Json::Value sender = parse(R"({"duration": 2000000000, "flows": [{"id": 1,
        "flowtype": "streamv4", "flow": {"srcport": 5000, "dstport": 6000,
        "dstipv4": "10.0.0.2"}}]})");
    const Json::Value receiver = parse(R"({"duration": 2000000000, "flows": [{"id": 2,
        "flowtype": "triggerv4", "flow": {"srcport": 5000, "dstport": 6000,
        "srcipv4": "10.0.0.1"}}]})");
    const Json::Value sent = parse(R"([{"flows": [{"id": 1, "status": "success",
        "timestamparray": [1], "packetcountarray": [100], "bytecountarray": [1]}]}])");
    const Json::Value received = parse(R"([{"flows": [{"id": 2, "status": "success",
        "timestamparray": [1], "packetcountarray": [96], "bytecountarray": [1]}]}])");
    const std::string mapped = normalAddress("::FFFF:10.0.0.1");
    const std::string prefixed = normalAddress("10.0.0.2/24");
    // Each case: what it is, each sender's addresses, the receiver's, the pairing, its loss cell.
    using Case = std::tuple<const char*, std::vector<std::set<std::string>>, std::set<std::string>,
                            Pairing, const char*>;
    const Case cases[] = {
        {"one sender", {{"10.0.0.1"}}, {"10.0.0.2"}, Pairing::Paired, "4 (4.00 %)"},
        {"mapped and prefixed forms", {{mapped}}, {prefixed}, Pairing::Paired, "4 (4.00 %)"},
        {"two senders on one host",
         {{"10.0.0.1"}, {"10.0.0.1", "127.0.0.1"}},
         {"10.0.0.2"},
         Pairing::Ambiguous,
         "ambiguous"},
        {"the stream goes elsewhere", {{"10.0.0.1"}}, {"10.0.0.3"}, Pairing::None, "-"},
        {"the trigger expects another sender", {{"10.0.0.9"}}, {"10.0.0.2"}, Pairing::None, "-"},
    };
    for (const auto& [name, senders, receiverAddresses, pairing, lossCell] : cases) {
        std::vector<EndpointResults> endpoints;
        for (std::size_t i = 0; i < senders.size(); ++i)
            endpoints.push_back(
                {"A" + std::to_string(i), senders[i], sender, summarize(sent, sender, "A"), 0});
        endpoints.push_back(
            {"B", receiverAddresses, receiver, summarize(received, receiver, "B"), 0});
        pairStreamsAndTriggers(endpoints);
        const FlowSummary& trigger = endpoints.back().summaries[0].flows[0];
        EXPECT_EQ(trigger.pairing, pairing) << name;
        EXPECT_EQ(trigger.lostPackets, pairing == Pairing::Paired ? std::optional(4) : std::nullopt)
            << name;
        if (pairing == Pairing::Paired) {
            EXPECT_DOUBLE_EQ(*trigger.lossPercent, 4.0) << name;
            EXPECT_EQ(trigger.pairedWith, "A0 flow 1") << name;
        }
        const std::string table = summaryTable(endpoints.back().summaries);
        EXPECT_NE(table.find(lossCell), std::string::npos) << name << "\n" << table;
    }
}

TEST(ResultSummary, PlannedFramesAndShortStreams)
{
    // Each case: the stream's content, frames sent, frames planned, and whether it is short.
    const std::tuple<const char*, std::uint64_t, std::uint64_t, bool> cases[] = {
        {R"("interframegap": 1000000, "numberofframes": 2000)", 2000, 2000, false},
        {R"("interframegap": 1000000, "numberofframes": 2000)", 1999, 2000, false},
        {R"("interframegap": 1000000, "numberofframes": 2000)", 1990, 2000, true},
        // More frames than fit: 10 s at 1 ms, less the 2 s wait.
        {R"("interframegap": 1000000, "numberofframes": 100000, "initialtimetowait": 2000000000)",
         7900, 8000, true},
        {R"("interframegap": 1000000, "numberofframes": 100000)", 10000, 10000, false},
    };
    for (const auto& [flow, sent, planned, isShort] : cases) {
        const Json::Value description = parse(
            std::string(R"({"duration": 10000000000, "flows": [{"id": 1, "flowtype": "streamv4",
            "flow": {)") +
            flow + "}}]}");
        const Json::Value list = parse(
            R"([{"flows": [{"id": 1, "status": "success", "timestamparray": [1],
            "packetcountarray": [)" +
            std::to_string(sent) + R"(], "bytecountarray": [1]}]}])");
        const ScenarioSummary summary = summarize(list, description)[0];
        const FlowSummary& f = summary.flows[0];
        EXPECT_EQ(f.plannedFrames, planned) << flow;
        EXPECT_EQ(f.isShort(), isShort) << flow;
        EXPECT_EQ(f.failed(), isShort) << flow;
        const Json::Value json = summaryJson({summary});
        EXPECT_EQ(json[0]["flows"][0]["short"].asBool(), isShort);
        EXPECT_EQ(json[0]["flows"][0]["shortframes"].asUInt64(), planned - std::min(planned, sent));
        EXPECT_EQ(statusText(f).find("(short)") != std::string::npos, isShort) << flow;
    }
}

TEST(SummaryTable, FitsOneHundredColumnsUnlessWide)
{
    // The sample's paired trigger, each figure as wide as it gets.
    ScenarioSummary s =
        pairedSummaries("a-long-endpoint-name (3f2a9c1e-8b7d-4c6a-9e5f-0123456789ab)")[0];
    s.scenarioId = 123456;
    FlowSummary f = s.flows[1];
    f.flowId = 99999;
    f.packets = 1234567;
    f.bytes = 987654321098;
    f.meanMbps = f.minMbps = f.maxMbps = 98765.43;
    f.pairedWith = "a-long-endpoint-name (3f2a9c1e) flow 12345";
    f.lostPackets = 123456;
    f.lossPercent = 10.0;
    f.latencyMin = f.latencyMax = 123456789012;
    f.latencyAvg = f.latencySd = 123456789012.0;
    s.flows = {f};
    const std::string narrow = summaryTable({s});
    std::istringstream lines(narrow);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 100u) << narrow;
    EXPECT_NE(narrow.find("--wide"), std::string::npos) << narrow;
    const std::string wide = summaryTable({s}, TableOptions{true});
    for (const char* header : {"lat min ms", "lat max ms", "lat sd ms", "min Mbit/s", "stream"})
        EXPECT_NE(wide.find(header), std::string::npos) << header << "\n" << wide;
}

// The page as headless Chromium draws it (skipped where there is none): a PNG with tables, text
// and charts, kept in the build folder to look at.
TEST(HtmlReport, ABrowserDrawsThePage)
{
    const std::string whichChromium = "command -v chromium || command -v chromium-browser";
    if (std::system((whichChromium + " >/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no chromium installed";
    const std::filesystem::path dir = REPORT_SCREENSHOT_DIR;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "profile");
    std::ofstream(dir / "report.html") << htmlReport("Screenshot", pairedSummaries(), kSampleRun);
    // A fresh profile and no network: the page needs nothing from outside.
    const std::string command =
        "timeout 90 \"$(" + whichChromium +
        ")\" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync "
        "--user-data-dir='" +
        (dir / "profile").string() + "' --screenshot='" + (dir / "report.png").string() +
        "' --window-size=1200,2000 'file://" + (dir / "report.html").string() + "' >'" +
        (dir / "chromium.log").string() + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << "see " << dir / "chromium.log";
    std::ifstream file(dir / "report.png", std::ios::binary);
    const std::string png(std::istreambuf_iterator<char>(file), {});
    EXPECT_EQ(png.substr(0, 4), "\x89PNG");
    // A blank 1200x2000 page compresses to a few hundred bytes; tables, text and charts do not.
    EXPECT_GT(png.size(), 20000u);
}
