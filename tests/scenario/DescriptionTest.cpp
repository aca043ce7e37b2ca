#include "DescriptionEdits.h"
#include "device/PXNetworkInfoMonitor.h"
#include "scenario/FlowDescription.h"
#include "scenario/flows/PXFlowTrigger.h"

#include <gtest/gtest.h>

#include <functional>

using namespace descriptiontest;

TEST(ScenarioDescriptionTest, EveryCodeInTheOrderOfTheChecks)
{
    const auto zeros = [](std::size_t bytes) { return "\"" + std::string(2 * bytes, '0') + "\""; };
    const struct
    {
        const char* name;
        std::string edits;
        int code;
    } cases[] = {
        {"accepted", "", 0},
        {"no scenarioid", "scenarioid-", 2},
        {"null scenarioid", "scenarioid=null", 2},
        {"string scenarioid", "scenarioid=\"7\"", 2},
        {"fractional scenarioid", "scenarioid=1.5", 2},
        {"no duration", "duration-", 3},
        {"array duration", "duration=[]", 3},
        {"negative duration", "duration=-1", 61},
        {"duration 2^64-1", "duration=18446744073709551615", 61},
        {"duration 2^63-1", "duration=9223372036854775807", 61},
        {"duration past a week", "duration=604800000000001", 61},
        {"duration a week", "duration=604800000000000", 0},
        {"no flows", "flows-", 4},
        {"flows object", "flows={}", 4},
        {"flow entry number", "f0=5", 53},
        {"flow entry array", "f0=[]", 53},
        {"no flow id", "f0.id-", 5},
        {"bool flow id", "f0.id=true", 5},
        {"no flowtype", "f0.flowtype-", 6},
        {"number flowtype", "f0.flowtype=4", 6},
        {"capital flowtype", "f1.flowtype=\"STREAMV4\"", 7},
        {"unknown flowtype", "f1.flowtype=\"udp\"", 7},
        {"no flow content", "f0.flow-", 8},
        {"string flow content", "f0.flow=\"x\"", 8},
        {"array flow content", "f2.flow=[]", 8},
        {"tcp no method", "tcp.requestmethod-", 11},
        {"tcp no method nor wait", "tcp.requestmethod-; tcp.initialtimetowait-", 11},
        {"tcp number method", "tcp.requestmethod=1", 11},
        {"tcp upper-case method", "tcp.requestmethod=\"GET\"", 12},
        {"tcp no wait", "tcp.initialtimetowait-", 10},
        {"tcp no url", "tcp.url-", 13},
        {"tcp number url", "tcp.url=5", 13},
        {"tcp url with CR LF", R"(tcp.url="/a\r\nHost: evil\r\nX-Injected: 1")", 62},
        {"tcp url with a blank", "tcp.url=\"/a b/c\"", 62},
        {"tcp url with a tab", R"(tcp.url="/a\tb")", 62},
        {"tcp url with DEL", R"(tcp.url="/a\u007f")", 62},
        {"tcp url with NUL", R"(tcp.url="/a\u0000b")", 62},
        {"tcp url with UTF-8", "tcp.url=\"/caf\xc3\xa9/x\"", 0},
        {"tcp no srcport", "tcp.srcport-", 14},
        {"tcp no dstport", "tcp.dstport-", 17},
        {"tcp no duration", "tcp.duration-", 18},
        {"tcp string tos", "tcp.tos=\"8\"", 57},
        {"tcp string ratelimit", "tcp.ratelimit=\"8\"", 58},
        {"tcp no dstipv4", "tcp.dstipv4-", 15},
        {"tcpv6 no dstipv6", "f0.flowtype=\"tcpv6\"; tcp.dstipv6-", 16},
        {"tcp any tcprestart", "tcp.tcprestart=[]", 0},
        {"stream no wait", "stream.initialtimetowait-", 28},
        {"stream no srcport", "stream.srcport-", 29},
        {"stream string srcport", "stream.srcport=\"5000\"", 29},
        {"stream no dstport", "stream.dstport-", 32},
        {"stream dstport 0", "stream.dstport=0", 64},
        {"stream dstport 65536", "stream.dstport=65536", 64},
        {"stream no dstipv4", "stream.dstipv4-", 30},
        {"streamv6 with dstipv4 only", "f1.flowtype=\"streamv6\"; stream.dstipv6-", 31},
        {"stream no gap", "stream.interframegap-", 33},
        {"stream zero gap", "stream.interframegap=0", 50},
        {"stream negative gap", "stream.interframegap=-5", 50},
        {"stream no frames", "stream.numberofframes-", 34},
        {"stream no content", "stream.contentlist-", 35},
        {"stream content string", "stream.contentlist=\"00\"", 36},
        {"stream content empty", "stream.contentlist=[]", 37},
        {"stream content number", "stream.contentlist.0=12", 54},
        {"stream empty frame", "stream.contentlist.0=\"\"", 63},
        {"stream frame of one digit", "stream.contentlist.0=\"a\"", 63},
        {"stream largest IPv4 frame", "stream.contentlist.0=" + zeros(65507), 0},
        {"stream IPv4 frame one byte too long", "stream.contentlist.0=" + zeros(65508), 63},
        {"streamv6 largest frame", "f1.flowtype=\"streamv6\"; stream.contentlist.0=" + zeros(65527),
         0},
        {"streamv6 frame one byte too long",
         "f1.flowtype=\"streamv6\"; stream.contentlist.0=" + zeros(65528), 63},
        {"stream string tos", "stream.tos=\"x\"", 57},
        {"stream timetags object", "stream.timetags={}", 38},
        {"stream timetags empty", "stream.timetags=[]", 40},
        {"stream timetags longer", R"(stream.timetags.1={"position": 8, "timeoffset": 0})", 40},
        {"stream timetag no position", "stream.timetags.0.position-", 41},
        {"stream timetag no offset", "stream.timetags.0.timeoffset-", 41},
        {"stream timetag string offset", "stream.timetags.0.timeoffset=\"0\"", 41},
        {"stream timetag number", "stream.timetags.0=8", 41},
        {"stream timetag position 7", "stream.timetags.0.position=7", 51},
        {"stream timetag position past frame", "stream.timetags.0.position=17", 51},
        {"stream timetag position negative", "stream.timetags.0.position=-1", 51},
        {"stream timetag position frame length", "stream.timetags.0.position=16", 0},
        {"trigger no srcport", "trigger.srcport-", 21},
        {"trigger no dstport", "trigger.dstport-", 22},
        {"trigger no srcipv4", "trigger.srcipv4-", 19},
        {"triggerv6 no srcipv6", "f2.flowtype=\"triggerv6\"; trigger.srcipv6-", 20},
        {"trigger string sizemin", "trigger.sizemin=\"0\"", 59},
        {"trigger bool sizemax", "trigger.sizemax=true", 59},
        {"trigger string tos", "trigger.tos=\"0\"", 57},
        {"latency string", "trigger.latency=\"on\"", 55},
        {"latency null", "trigger.latency=null", 0},
        {"latency no type", "trigger.latency.type-", 23},
        {"latency number type", "trigger.latency.type=1", 23},
        {"latency other type", "trigger.latency.type=\"max\"", 24},
        {"latency no position", "trigger.latency.position-", 25},
        {"latency position 7", "trigger.latency.position=7", 26},
        {"latency position negative", "trigger.latency.position=-3", 0},
        {"latency no offset", "trigger.latency.timeoffset-", 27},
        {"monitor number", "mon=3", 56},
        {"monitor no type", "mon.monitortype-", 42},
        {"monitor no type nor id", "mon.monitortype-; mon.id-", 42},
        {"monitor no id", "mon.id-", 44},
        {"monitor bad type and no id", "mon.monitortype=\"lte\"; mon.id-", 44},
        {"monitor bad type", "mon.monitortype=\"WIFI\"", 43},
        {"monitor no config", "mon.monitor-", 45},
        {"monitor string config", "mon.monitor=\"x\"", 45},
        {"monitor string interval", "mon.monitor.resultinterval=\"1\"", 60},
        {"monitors string", "monitors=\"wifi\"", 0},
        {"monitors null", "monitors=null", 0},
        // the first failure wins
        {"flow error before monitor error", "stream.srcport-; mon.id-", 29},
    };
    // A refused description leaves the scenario stored before it as it was.
    PXScenarioPlan stored;
    ASSERT_EQ(parse(edited("scenarioid=99; flows=[]"), stored), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PXScenarioPlan scenario = stored;
        const Json::Value root = edited(c.edits);
        EXPECT_TRUE(c.edits.empty() || root != baseDescription()); // the edit took
        int code = -1;
        EXPECT_NO_THROW(code = parse(root, scenario));
        EXPECT_EQ(code, c.code) << scenarioErrorText(code);
        EXPECT_EQ(scenario.id != 99, c.code == 0);
        if (c.code != 0) {
            EXPECT_EQ(std::make_pair(scenario.flows.size(), scenario.description),
                      std::make_pair(stored.flows.size(), stored.description));
        }
        EXPECT_FALSE(scenarioErrorText(code).empty() && code != 0);
        EXPECT_NE(scenarioErrorText(code), "Unknown error");
    }
}

TEST(ScenarioDescriptionTest, TextThatIsNotAnObjectAndAnEmptyScenario)
{
    const std::vector<std::pair<std::string, int>> texts = {
        {"", 1},
        {"{", 1},
        {"{\"scenarioid\": }", 1},
        {"[1, 2]", 52},
        {"5", 52},
        {"\"text\"", 52},
        {"null", 52},
        {"/* comment */ { \"scenarioid\" : -4, // line\n \"duration\": 5, \"flows\" : [ ] }", 0},
        // Nesting past the reader's depth is invalid JSON, not an exception.
        {std::string(2000, '[') + std::string(2000, ']'), 1},
    };
    for (const auto& [text, expected] : texts) {
        PXScenarioPlan scenario;
        EXPECT_EQ(parseScenarioDescription(text, scenario), expected) << text.substr(0, 80);
        // An empty scenario is one; its text is kept compact, for the hub to read back.
        if (expected == 0) {
            EXPECT_EQ(
                std::make_tuple(scenario.id, scenario.flows.size(), scenario.monitors.size(),
                                scenario.description),
                std::make_tuple(-4, 0ul, 0ul,
                                std::string("{\"duration\":5,\"flows\":[],\"scenarioid\":-4}")));
        }
    }
}

TEST(ScenarioDescriptionTest, NoValueOfAnyTypeMakesItThrow)
{
    // Every member of every level replaced by every JSON type: a code, never an exception.
    const char* const replacements[] = {
        "null", "\"text\"", "[]", "{}", "true", "1.5", "18446744073709551615", "-1", "0"};
    std::vector<std::string> paths;
    std::function<void(const Json::Value&, const std::string&)> collect =
        [&](const Json::Value& value, const std::string& path) {
            if (!path.empty())
                paths.push_back(path);
            const std::string prefix = path.empty() ? "" : path + ".";
            if (value.isObject())
                for (const auto& name : value.getMemberNames())
                    collect(value[name], prefix + name);
            else if (value.isArray())
                for (Json::ArrayIndex i = 0; i < value.size(); ++i)
                    collect(value[i], prefix + std::to_string(i));
        };
    collect(baseDescription(), "");
    ASSERT_GT(paths.size(), 40u);
    for (const auto& path : paths)
        for (const char* replacement : replacements) {
            PXScenarioPlan scenario;
            EXPECT_NO_THROW(parse(edited(path + "=" + replacement), scenario)) << path;
        }
}

TEST(ScenarioDescriptionTest, ReadsEveryValueAndBuildsTheRunFromIt)
{
    PXScenarioPlan scenario;
    // A srcport of 65537 keeps its low 16 bits.
    ASSERT_EQ(parse(edited("tcp.requestmethod=\"put\"; tcp.tos=32; tcp.ratelimit=125000; "
                           "tcp.tcprestart=2; stream.srcport=65537; stream.tos=4; "
                           "trigger.sizemax=900"),
                    scenario),
              0);
    EXPECT_EQ(scenario.id, 7);
    ASSERT_EQ(scenario.flows.size(), 3u);
    EXPECT_EQ(scenario.flows[0].ipVersion, IpVersion::V4);
    const auto& http = std::get<MultiConnect::Config>(scenario.flows[0].content);
    EXPECT_EQ(std::make_tuple(http.method, http.ipv6, http.destination, http.url, http.dstPort),
              std::make_tuple(1, 0, std::string("127.0.0.1"), std::string("file"), 80));
    EXPECT_EQ(std::make_tuple(http.tos, http.rateLimit, http.duration, http.restart),
              std::make_tuple(32, 125000, std::int64_t(1000000000), true));

    const auto& udpOut = std::get<Stream::Config>(scenario.flows[1].content);
    EXPECT_EQ(std::make_tuple(udpOut.ipv6, udpOut.srcPort, udpOut.dstPort, udpOut.tos),
              std::make_tuple(0, 1, 6000, 4));
    ASSERT_EQ(udpOut.frames.size(), 1u);
    const auto& frame = udpOut.frames[0];
    EXPECT_EQ(std::make_tuple(udpOut.interFrameGap, udpOut.numberOfFrames, frame.bytes.size(),
                              frame.hasTimeTag, frame.position),
              std::make_tuple(std::int64_t(10000000), 10u, 16u, true, 8u));

    const auto& udpIn = std::get<PXTriggerPlan>(scenario.flows[2].content);
    EXPECT_EQ(std::make_tuple(udpIn.engine.source, udpIn.engine.srcPort, udpIn.engine.dstPort),
              std::make_tuple(std::string("127.0.0.1"), 5000, 6000));
    EXPECT_EQ(std::make_tuple(udpIn.engine.latencyOn, udpIn.engine.latencyPosition, udpIn.sizeMin,
                              udpIn.sizeMax),
              std::make_tuple(true, 8u, 0, 900));

    auto record = std::make_shared<PXScenarioResult>(scenario.id);
    const auto run = buildScenarioRun(scenario, record, hostInterfaceSource(), nullptr);

    EXPECT_EQ(run->duration, 2000000000u);
    ASSERT_EQ(run->flows.size(), 3u);
    ASSERT_EQ(record->flowResults().size(), 3u);
    const std::pair<std::uint32_t, FlowKind> flows[] = {
        {3, FlowKind::HttpPut}, {1, FlowKind::UdpStream}, {2, FlowKind::UdpTrigger}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(std::make_pair(run->flows[i]->id(), run->flows[i]->kind()), flows[i]);
        EXPECT_EQ(run->flows[i]->result(), record->flowResults()[i]);
    }
    // The flow tests cast the other two flows of such a run to their classes; a cast that fails
    // throws.
    EXPECT_EQ(dynamic_cast<PXFlowTrigger&>(*run->flows[2]).config().receiveDuration, 2000000000u);
    ASSERT_EQ(run->monitors.size(), 1u);
    const auto& monitor = dynamic_cast<PXNetworkInfoMonitor&>(*run->monitors[0]);
    EXPECT_EQ(std::make_pair(monitor.id(), monitor.interval()),
              std::make_pair(9, std::int64_t(500000000)));
}

TEST(ScenarioDescriptionTest, DefaultsAndLenientReadsOfRestartLatencyTypeAndMonitors)
{
    Json::Value root = edited("f0.flowtype=\"tcpv6\"; tcp.tcprestart=\"yes\"; trigger.latency-; "
                              "f1.flowtype=\"streamv6\"; stream.timetags-; mon.monitor={}");
    root["flows"].append(baseDescription()["flows"][1]); // a second flow with id 1
    PXScenarioPlan scenario;
    ASSERT_EQ(parse(root, scenario), 0);

    EXPECT_EQ(scenario.flows[0].kind(), FlowKind::HttpGet);
    EXPECT_EQ(scenario.flows[0].ipVersion, IpVersion::V6);
    const auto& http = std::get<MultiConnect::Config>(scenario.flows[0].content);
    EXPECT_EQ(std::make_tuple(http.ipv6, http.destination, http.rateLimit, http.tos, http.restart),
              std::make_tuple(1, std::string("::1"), -1, 0, false));
    const auto& udpOut = std::get<Stream::Config>(scenario.flows[1].content);
    EXPECT_EQ(std::make_tuple(udpOut.ipv6, udpOut.destination, udpOut.frames[0].hasTimeTag),
              std::make_tuple(1, std::string("::1"), false));
    const auto& udpIn = std::get<PXTriggerPlan>(scenario.flows[2].content);
    EXPECT_EQ(std::make_pair(udpIn.engine.latencyOn, udpIn.sizeMax),
              std::make_pair(false, std::int64_t(1600)));
    EXPECT_EQ(scenario.flows.size(), 4u);
    EXPECT_EQ(scenario.flows[3].id, scenario.flows[1].id);
    EXPECT_EQ(scenario.monitors[0].intervalNs, 1000000000);

    const std::vector<std::pair<const char*, bool>> restarts = {
        {"true", true}, {"false", false},   {"2", true},         {"0", false},
        {"-1", false},  {"\"true\"", true}, {"\"TRUE\"", false}, {"1.5", false},
    };
    for (const auto& [value, expected] : restarts) {
        ASSERT_EQ(parse(edited(std::string("tcp.tcprestart=") + value), scenario), 0);
        EXPECT_EQ(std::get<MultiConnect::Config>(scenario.flows[0].content).restart, expected)
            << value;
    }
    ASSERT_EQ(parse(edited("trigger.latency.type=\"none\""), scenario), 0);
    EXPECT_TRUE(std::get<PXTriggerPlan>(scenario.flows[2].content).engine.latencyOn);

    // A "monitors" object is walked over its values.
    root = edited("monitors={}");
    root["monitors"]["a"] = root["monitors"]["b"] = baseDescription()["monitors"][0];
    ASSERT_EQ(parse(root, scenario), 0);
    EXPECT_EQ(scenario.monitors.size(), 2u);
    EXPECT_EQ(parse(edited("monitors.b.monitor-", root), scenario), 45);
}

TEST(ScenarioDescriptionTest, HexDigitsFollowTheLenientRule)
{
    using Bytes = std::vector<std::uint8_t>;
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"0a0b0", {0x0a, 0x0b}},
        {"ff00", {0xff, 0x00}},
        {"", {}},
        {"7", {}},
        // 'A' is 65 - 87 = -22 as a digit: 16 * -22 - 21 = -373, which is 139 modulo 256.
        {"AB", {139}},
        {"g0", {0}}, // 16 * 16 = 256
        {"zz", {0}}, // beyond 'j' every character is 0
        {"j1", {(19 * 16 + 1) % 256}},
    };
    for (const auto& [digits, bytes] : cases)
        EXPECT_EQ(hexToBytes(digits), bytes) << digits;
}
