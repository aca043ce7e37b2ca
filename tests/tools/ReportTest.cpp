#include "HtmlReport.h"
#include "ResultSummary.h"
#include "SummaryTable.h"

#include <gtest/gtest.h>
#include <json/reader.h>

namespace {

using namespace roamnode::report;

Json::Value parse(const std::string& text)
{
    Json::Value v;
    Json::Reader reader;
    EXPECT_TRUE(reader.parse(text, v)) << text;
    return v;
}

// A result list as the endpoint writes it: a stream (id 1) that sent 100 frames, the trigger
// (id 2) that counted 98 of them with latency, an HTTP flow without samples that failed, and a
// monitor with two samples.
const char* const kResultList = R"([{"scenarioid": 7, "timestamp": 1700000000000000000,"flows":[
 {"id": 1, "status": "success", "errormsg": "", "timestamparray": [1700000000000000000, 1700000001000000000, 1700000002000000000], "packetcountarray": [10, 80, 10], "bytecountarray": [1060, 8480, 1060],"timestampfirst": 1700000000100000000, "timestamplast": 1700000002090000000},
 {"id": 2, "status": "success", "errormsg": "", "timestamparray": [1700000000000000000, 1700000001000000000, 1700000002000000000], "packetcountarray": [10, 78, 10], "bytecountarray": [1060, 8268, 1060],"timestampfirst": 1700000000100000000, "timestamplast": 1700000002090000000, "latencyarray": [{"latencymin": 100000, "latencymax": 300000, "latencyavg": 200000, "jitter": 50000}, {"latencymin": 90000, "latencymax": 400000, "latencyavg": 150000, "jitter": 40000}, {}]},
 {"id": 3, "status": "error", "errormsg": "invalid destination address 'x'", "timestamparray": [], "packetcountarray": [], "bytecountarray": []}
],"monitors":[{"id":4,"type":"networkinfo","status":"success","errormsg":"","monitorresult":[{"timestamp": 1700000000000000000,"interfaces": [{"type": "loopback","name": "lo","displayname": "lo","mac": "00:00:00:00:00:00","ipv4": ["127.0.0.1"],"ipv6": [],"ssid": "","bssid": "00:00:00:00:00:00","rssi": -127,"txrate":-1,"rxrate":-1,"channel":-1}, {"type": "wifi_ieee80211","name": "wlan0","displayname": "wlan0","mac": "a4:c3:f0:11:22:33","ipv4": [],"ipv6": [],"ssid": "lab","bssid": "00:11:22:33:44:55","rssi": -52,"txrate":144400000,"rxrate":144400000,"channel":36}]}, {"timestamp": 1700000001000000000,"interfaces": []}]}]}])";

const char* const kDescription = R"({"scenarioid": 7, "duration": 2000000000, "flows": [
 {"id": 1, "flowtype": "streamv4", "flow": {"srcport": 5000, "dstport": 6000}},
 {"id": 2, "flowtype": "triggerv4", "flow": {"srcport": 5000, "dstport": 6000}},
 {"id": 3, "flowtype": "tcpv4", "flow": {"requestmethod": "get"}}]})";

} // namespace

TEST(ResultSummary, CountsRatesLossAndLatency)
{
    const auto scenarios = summarize(parse(kResultList), parse(kDescription), "dev-1");
    ASSERT_EQ(scenarios.size(), 1u);
    const ScenarioSummary& s = scenarios[0];
    EXPECT_EQ(s.scenarioId, 7);
    ASSERT_EQ(s.flows.size(), 3u);

    const FlowSummary& stream = s.flows[0];
    EXPECT_EQ(stream.type, "streamv4");
    EXPECT_EQ(stream.packets, 100u);
    EXPECT_EQ(stream.bytes, 10600u);
    ASSERT_TRUE(stream.meanMbps);
    EXPECT_NEAR(*stream.meanMbps, 10600 * 8 / 1e6 / 1.99, 1e-9);
    // The partial first and last seconds are left out of min/max.
    EXPECT_DOUBLE_EQ(*stream.minMbps, 8480 * 8 / 1e6);
    EXPECT_DOUBLE_EQ(*stream.maxMbps, 8480 * 8 / 1e6);
    EXPECT_FALSE(stream.lostPackets);

    const FlowSummary& trigger = s.flows[1];
    ASSERT_TRUE(trigger.lostPackets);
    EXPECT_EQ(*trigger.lostPackets, 2);
    EXPECT_DOUBLE_EQ(*trigger.lossPercent, 2.0);
    EXPECT_EQ(*trigger.latencyMin, 90000);
    EXPECT_EQ(*trigger.latencyMax, 400000);
    // Weighted by the packets of each second: (200000 * 10 + 150000 * 78) / 88.
    EXPECT_NEAR(*trigger.latencyAvg, (200000.0 * 10 + 150000.0 * 78) / 88, 1e-6);

    const FlowSummary& tcp = s.flows[2];
    EXPECT_EQ(tcp.status, "error");
    EXPECT_EQ(tcp.packets, 0u);
    EXPECT_FALSE(tcp.meanMbps);

    ASSERT_EQ(s.monitors.size(), 1u);
    ASSERT_EQ(s.monitors[0].points.size(), 2u);
    EXPECT_EQ(s.monitors[0].points[0].interfaceName, "wlan0");
    EXPECT_EQ(s.monitors[0].points[0].rssi, -52);
    EXPECT_EQ(s.monitors[0].points[0].channel, 36);
}

TEST(ResultSummary, ToleratesOddShapes)
{
    EXPECT_TRUE(summarize(parse("{}"), Json::Value(), "").empty());
    const auto s = summarize(parse(R"([{"flows": [{"id": 9}, 3, null]}, 5])"), Json::Value());
    ASSERT_EQ(s.size(), 2u);
    ASSERT_EQ(s[0].flows.size(), 3u);
    EXPECT_EQ(s[0].flows[0].type, "?");
}

TEST(SummaryTable, ShowsEveryFlowWithStatusAndError)
{
    const auto scenarios = summarize(parse(kResultList), parse(kDescription), "dev-1");
    const std::string table = summaryTable(scenarios);
    EXPECT_NE(table.find("Scenario 7 on dev-1"), std::string::npos);
    EXPECT_NE(table.find("error: invalid destination address 'x'"), std::string::npos);
    EXPECT_NE(table.find("2 (2.00 %)"), std::string::npos);
    EXPECT_NE(table.find("Monitor 4: 2 samples"), std::string::npos);
    const Json::Value json = summaryJson(scenarios);
    EXPECT_EQ(json[0]["flows"][1]["lostpackets"].asInt(), 2);
    EXPECT_TRUE(json[0]["flows"][2]["meanmbps"].isNull());
}

TEST(HtmlReport, SelfContainedWithCharts)
{
    const auto scenarios = summarize(parse(kResultList), parse(kDescription), "<dev>");
    const std::string html = htmlReport("Roamnode run", scenarios);
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(html.find("Throughput per second"), std::string::npos);
    EXPECT_NE(html.find("Latency per second"), std::string::npos);
    EXPECT_NE(html.find("class=\"band\""), std::string::npos);
    EXPECT_NE(html.find("Monitor 4: RSSI"), std::string::npos);
    EXPECT_NE(html.find("&lt;dev&gt;"), std::string::npos);
    // Nothing to fetch: no scripts, links or remote resources.
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("src="), std::string::npos);
    EXPECT_EQ(html.find("href="), std::string::npos);
}
