// The description parser: every code a description can reach, in the order of the checks, and
// the values it reads; and the run built from what it read.
#include "device/InterfaceSource.h"
#include "device/PXNetworkInfoMonitor.h"
#include "scenario/FlowDescription.h"
#include "scenario/PXScenarioResult.h"
#include "scenario/PXScenarioRun.h"
#include "scenario/ScenarioDescription.h"
#include "scenario/flows/PXFlowStream.h"
#include "scenario/flows/PXFlowTcp.h"
#include "scenario/flows/PXFlowTrigger.h"

#include <json/reader.h>
#include <json/writer.h>

#include <gtest/gtest.h>

#include <functional>

namespace {

Json::Value parse(const char* text)
{
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    const std::string s(text);
    EXPECT_TRUE(reader->parse(s.data(), s.data() + s.size(), &value, &errors)) << text;
    return value;
}

std::string write(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

Json::Value tcpFlow(const char* type = "tcpv4")
{
    Json::Value flow = parse(R"({"id": 3, "flow": {"requestmethod": "get",
        "initialtimetowait": 0, "url": "file", "srcport": 0, "dstport": 80,
        "duration": 1000000000, "dstipv4": "127.0.0.1", "dstipv6": "::1"}})");
    flow["flowtype"] = type;
    return flow;
}

Json::Value streamFlow(const char* type = "streamv4")
{
    Json::Value flow = parse(R"({"id": 1, "flow": {"initialtimetowait": 0, "srcport": 5000,
        "dstport": 6000, "dstipv4": "127.0.0.1", "dstipv6": "::1", "interframegap": 10000000,
        "numberofframes": 10, "contentlist": ["00112233445566778899aabbccddeeff"],
        "timetags": [{"position": 8, "timeoffset": 0}]}})");
    flow["flowtype"] = type;
    return flow;
}

Json::Value triggerFlow(const char* type = "triggerv4")
{
    Json::Value flow = parse(R"({"id": 2, "flow": {"srcport": 5000, "dstport": 6000,
        "srcipv4": "127.0.0.1", "srcipv6": "::1",
        "latency": {"type": "average", "position": 8, "timeoffset": 0}}})");
    flow["flowtype"] = type;
    return flow;
}

Json::Value monitor()
{
    return parse(R"({"monitortype": "wifi", "id": 9, "monitor": {"resultinterval": 500000000}})");
}

Json::Value baseDescription()
{
    Json::Value root = parse(R"({"scenarioid": 7, "duration": 2000000000})");
    root["flows"].append(tcpFlow());
    root["flows"].append(streamFlow());
    root["flows"].append(triggerFlow());
    root["monitors"].append(monitor());
    return root;
}

struct Case
{
    const char* name;
    std::function<void(Json::Value&)> change;
    int code;
};

Json::Value& tcp(Json::Value& root)
{
    return root["flows"][0]["flow"];
}
Json::Value& stream(Json::Value& root)
{
    return root["flows"][1]["flow"];
}
Json::Value& trigger(Json::Value& root)
{
    return root["flows"][2]["flow"];
}
Json::Value& mon(Json::Value& root)
{
    return root["monitors"][0];
}

// A "contentlist" item of `bytes` zero bytes.
std::string zeros(std::size_t bytes)
{
    return std::string(2 * bytes, '0');
}

const std::vector<Case>& cases()
{
    static const std::vector<Case> table = {
        {"accepted", [](Json::Value&) {}, 0},
        {"no scenarioid", [](Json::Value& r) { r.removeMember("scenarioid"); }, 2},
        {"null scenarioid", [](Json::Value& r) { r["scenarioid"] = Json::nullValue; }, 2},
        {"string scenarioid", [](Json::Value& r) { r["scenarioid"] = "7"; }, 2},
        {"fractional scenarioid", [](Json::Value& r) { r["scenarioid"] = 1.5; }, 2},
        {"no duration", [](Json::Value& r) { r.removeMember("duration"); }, 3},
        {"array duration", [](Json::Value& r) { r["duration"] = Json::arrayValue; }, 3},
        {"negative duration", [](Json::Value& r) { r["duration"] = -1; }, 61},
        {"duration 2^64-1",
         [](Json::Value& r) { r["duration"] = Json::UInt64(18446744073709551615ull); }, 61},
        {"duration 2^63-1",
         [](Json::Value& r) { r["duration"] = Json::Int64(9223372036854775807ll); }, 61},
        {"duration past a week",
         [](Json::Value& r) { r["duration"] = Json::Int64(604800000000001ll); }, 61},
        {"duration a week", [](Json::Value& r) { r["duration"] = Json::Int64(604800000000000ll); }, 0},
        {"no flows", [](Json::Value& r) { r.removeMember("flows"); }, 4},
        {"flows object", [](Json::Value& r) { r["flows"] = Json::objectValue; }, 4},
        {"flow entry number", [](Json::Value& r) { r["flows"][0] = 5; }, 53},
        {"flow entry array", [](Json::Value& r) { r["flows"][0] = Json::arrayValue; }, 53},
        {"no flow id", [](Json::Value& r) { r["flows"][0].removeMember("id"); }, 5},
        {"bool flow id", [](Json::Value& r) { r["flows"][0]["id"] = true; }, 5},
        {"no flowtype", [](Json::Value& r) { r["flows"][0].removeMember("flowtype"); }, 6},
        {"number flowtype", [](Json::Value& r) { r["flows"][0]["flowtype"] = 4; }, 6},
        {"capital flowtype", [](Json::Value& r) { r["flows"][1]["flowtype"] = "STREAMV4"; }, 7},
        {"unknown flowtype", [](Json::Value& r) { r["flows"][1]["flowtype"] = "udp"; }, 7},
        {"no flow content", [](Json::Value& r) { r["flows"][0].removeMember("flow"); }, 8},
        {"string flow content", [](Json::Value& r) { r["flows"][0]["flow"] = "x"; }, 8},
        {"array flow content", [](Json::Value& r) { r["flows"][2]["flow"] = Json::arrayValue; }, 8},
        // HTTP over TCP
        {"tcp no method", [](Json::Value& r) { tcp(r).removeMember("requestmethod"); }, 11},
        {"tcp no method nor wait",
         [](Json::Value& r) {
             tcp(r).removeMember("requestmethod");
             tcp(r).removeMember("initialtimetowait");
         },
         11},
        {"tcp number method", [](Json::Value& r) { tcp(r)["requestmethod"] = 1; }, 11},
        {"tcp upper-case method", [](Json::Value& r) { tcp(r)["requestmethod"] = "GET"; }, 12},
        {"tcp no wait", [](Json::Value& r) { tcp(r).removeMember("initialtimetowait"); }, 10},
        {"tcp no url", [](Json::Value& r) { tcp(r).removeMember("url"); }, 13},
        {"tcp number url", [](Json::Value& r) { tcp(r)["url"] = 5; }, 13},
        {"tcp url with CR LF",
         [](Json::Value& r) { tcp(r)["url"] = "/a\r\nHost: evil\r\nX-Injected: 1"; }, 62},
        {"tcp url with a blank", [](Json::Value& r) { tcp(r)["url"] = "/a b/c"; }, 62},
        {"tcp url with a tab", [](Json::Value& r) { tcp(r)["url"] = "/a\tb"; }, 62},
        {"tcp url with DEL", [](Json::Value& r) { tcp(r)["url"] = "/a\x7f"; }, 62},
        {"tcp url with NUL",
         [](Json::Value& r) { tcp(r)["url"] = std::string("/a\0b", 4); }, 62},
        {"tcp url with UTF-8", [](Json::Value& r) { tcp(r)["url"] = "/caf\xc3\xa9/x"; }, 0},
        {"tcp no srcport", [](Json::Value& r) { tcp(r).removeMember("srcport"); }, 14},
        {"tcp no dstport", [](Json::Value& r) { tcp(r).removeMember("dstport"); }, 17},
        {"tcp no duration", [](Json::Value& r) { tcp(r).removeMember("duration"); }, 18},
        {"tcp string tos", [](Json::Value& r) { tcp(r)["tos"] = "8"; }, 57},
        {"tcp string ratelimit", [](Json::Value& r) { tcp(r)["ratelimit"] = "8"; }, 58},
        {"tcp no dstipv4", [](Json::Value& r) { tcp(r).removeMember("dstipv4"); }, 15},
        {"tcpv6 no dstipv6",
         [](Json::Value& r) {
             r["flows"][0]["flowtype"] = "tcpv6";
             tcp(r).removeMember("dstipv6");
         },
         16},
        {"tcp any tcprestart", [](Json::Value& r) { tcp(r)["tcprestart"] = Json::arrayValue; }, 0},
        // UDP stream
        {"stream no wait", [](Json::Value& r) { stream(r).removeMember("initialtimetowait"); }, 28},
        {"stream no srcport", [](Json::Value& r) { stream(r).removeMember("srcport"); }, 29},
        {"stream string srcport", [](Json::Value& r) { stream(r)["srcport"] = "5000"; }, 29},
        {"stream no dstport", [](Json::Value& r) { stream(r).removeMember("dstport"); }, 32},
        {"stream dstport 0", [](Json::Value& r) { stream(r)["dstport"] = 0; }, 64},
        {"stream dstport 65536", [](Json::Value& r) { stream(r)["dstport"] = 65536; }, 64},
        {"stream no dstipv4", [](Json::Value& r) { stream(r).removeMember("dstipv4"); }, 30},
        {"streamv6 with dstipv4 only",
         [](Json::Value& r) {
             r["flows"][1]["flowtype"] = "streamv6";
             stream(r).removeMember("dstipv6");
         },
         31},
        {"stream no gap", [](Json::Value& r) { stream(r).removeMember("interframegap"); }, 33},
        {"stream zero gap", [](Json::Value& r) { stream(r)["interframegap"] = 0; }, 50},
        {"stream negative gap", [](Json::Value& r) { stream(r)["interframegap"] = -5; }, 50},
        {"stream no frames", [](Json::Value& r) { stream(r).removeMember("numberofframes"); }, 34},
        {"stream no content", [](Json::Value& r) { stream(r).removeMember("contentlist"); }, 35},
        {"stream content string", [](Json::Value& r) { stream(r)["contentlist"] = "00"; }, 36},
        {"stream content empty",
         [](Json::Value& r) { stream(r)["contentlist"] = Json::arrayValue; }, 37},
        {"stream content number", [](Json::Value& r) { stream(r)["contentlist"][0] = 12; }, 54},
        {"stream empty frame", [](Json::Value& r) { stream(r)["contentlist"][0] = ""; }, 63},
        {"stream frame of one digit",
         [](Json::Value& r) { stream(r)["contentlist"][0] = "a"; }, 63},
        {"stream largest IPv4 frame",
         [](Json::Value& r) { stream(r)["contentlist"][0] = zeros(65507); }, 0},
        {"stream IPv4 frame one byte too long",
         [](Json::Value& r) { stream(r)["contentlist"][0] = zeros(65508); }, 63},
        {"streamv6 largest frame",
         [](Json::Value& r) {
             r["flows"][1]["flowtype"] = "streamv6";
             stream(r)["contentlist"][0] = zeros(65527);
         },
         0},
        {"streamv6 frame one byte too long",
         [](Json::Value& r) {
             r["flows"][1]["flowtype"] = "streamv6";
             stream(r)["contentlist"][0] = zeros(65528);
         },
         63},
        {"stream string tos", [](Json::Value& r) { stream(r)["tos"] = "x"; }, 57},
        {"stream timetags object",
         [](Json::Value& r) { stream(r)["timetags"] = Json::objectValue; }, 38},
        {"stream timetags empty",
         [](Json::Value& r) { stream(r)["timetags"] = Json::arrayValue; }, 40},
        {"stream timetags longer",
         [](Json::Value& r) { stream(r)["timetags"].append(stream(r)["timetags"][0]); }, 40},
        {"stream timetag no position",
         [](Json::Value& r) { stream(r)["timetags"][0].removeMember("position"); }, 41},
        {"stream timetag no offset",
         [](Json::Value& r) { stream(r)["timetags"][0].removeMember("timeoffset"); }, 41},
        {"stream timetag string offset",
         [](Json::Value& r) { stream(r)["timetags"][0]["timeoffset"] = "0"; }, 41},
        {"stream timetag number", [](Json::Value& r) { stream(r)["timetags"][0] = 8; }, 41},
        {"stream timetag position 7",
         [](Json::Value& r) { stream(r)["timetags"][0]["position"] = 7; }, 51},
        {"stream timetag position past frame",
         [](Json::Value& r) { stream(r)["timetags"][0]["position"] = 17; }, 51},
        {"stream timetag position negative",
         [](Json::Value& r) { stream(r)["timetags"][0]["position"] = -1; }, 51},
        {"stream timetag position frame length",
         [](Json::Value& r) { stream(r)["timetags"][0]["position"] = 16; }, 0},
        // UDP trigger
        {"trigger no srcport", [](Json::Value& r) { trigger(r).removeMember("srcport"); }, 21},
        {"trigger no dstport", [](Json::Value& r) { trigger(r).removeMember("dstport"); }, 22},
        {"trigger no srcipv4", [](Json::Value& r) { trigger(r).removeMember("srcipv4"); }, 19},
        {"triggerv6 no srcipv6",
         [](Json::Value& r) {
             r["flows"][2]["flowtype"] = "triggerv6";
             trigger(r).removeMember("srcipv6");
         },
         20},
        {"trigger string sizemin", [](Json::Value& r) { trigger(r)["sizemin"] = "0"; }, 59},
        {"trigger bool sizemax", [](Json::Value& r) { trigger(r)["sizemax"] = true; }, 59},
        {"trigger string tos", [](Json::Value& r) { trigger(r)["tos"] = "0"; }, 57},
        {"latency string", [](Json::Value& r) { trigger(r)["latency"] = "on"; }, 55},
        {"latency null", [](Json::Value& r) { trigger(r)["latency"] = Json::nullValue; }, 0},
        {"latency no type", [](Json::Value& r) { trigger(r)["latency"].removeMember("type"); }, 23},
        {"latency number type", [](Json::Value& r) { trigger(r)["latency"]["type"] = 1; }, 23},
        {"latency other type", [](Json::Value& r) { trigger(r)["latency"]["type"] = "max"; }, 24},
        {"latency no position",
         [](Json::Value& r) { trigger(r)["latency"].removeMember("position"); }, 25},
        {"latency position 7", [](Json::Value& r) { trigger(r)["latency"]["position"] = 7; }, 26},
        {"latency position negative",
         [](Json::Value& r) { trigger(r)["latency"]["position"] = -3; }, 0},
        {"latency no offset",
         [](Json::Value& r) { trigger(r)["latency"].removeMember("timeoffset"); }, 27},
        // monitors
        {"monitor number", [](Json::Value& r) { r["monitors"][0] = 3; }, 56},
        {"monitor no type", [](Json::Value& r) { mon(r).removeMember("monitortype"); }, 42},
        {"monitor no type nor id",
         [](Json::Value& r) {
             mon(r).removeMember("monitortype");
             mon(r).removeMember("id");
         },
         42},
        {"monitor no id", [](Json::Value& r) { mon(r).removeMember("id"); }, 44},
        {"monitor bad type and no id",
         [](Json::Value& r) {
             mon(r)["monitortype"] = "lte";
             mon(r).removeMember("id");
         },
         44},
        {"monitor bad type", [](Json::Value& r) { mon(r)["monitortype"] = "WIFI"; }, 43},
        {"monitor no config", [](Json::Value& r) { mon(r).removeMember("monitor"); }, 45},
        {"monitor string config", [](Json::Value& r) { mon(r)["monitor"] = "x"; }, 45},
        {"monitor string interval",
         [](Json::Value& r) { mon(r)["monitor"]["resultinterval"] = "1"; }, 60},
        {"monitors string", [](Json::Value& r) { r["monitors"] = "wifi"; }, 0},
        {"monitors null", [](Json::Value& r) { r["monitors"] = Json::nullValue; }, 0},
        // the first failure wins
        {"flow error before monitor error",
         [](Json::Value& r) {
             stream(r).removeMember("srcport");
             mon(r).removeMember("id");
         },
         29},
    };
    return table;
}

} // namespace

TEST(ScenarioDescriptionTest, EveryCodeInTheOrderOfTheChecks)
{
    for (const Case& c : cases()) {
        Json::Value root = baseDescription();
        c.change(root);
        PXScenarioPlan scenario;
        scenario.id = -99;
        int code = -1;
        EXPECT_NO_THROW(code = parseScenarioDescription(write(root), scenario)) << c.name;
        EXPECT_EQ(code, c.code) << c.name << ": " << scenarioErrorText(code);
        EXPECT_EQ(scenario.id != -99, c.code == 0) << c.name;
        EXPECT_FALSE(scenarioErrorText(code).empty() && code != 0) << c.name;
        EXPECT_NE(scenarioErrorText(code), "Unknown error") << c.name;
    }
}

TEST(ScenarioDescriptionTest, TextThatIsNotAnObject)
{
    const std::vector<std::pair<const char*, int>> texts = {
        {"", 1},
        {"{", 1},
        {"{\"scenarioid\": }", 1},
        {"[1, 2]", 52},
        {"5", 52},
        {"\"text\"", 52},
        {"null", 52},
        {"/* comment */ {\"scenarioid\": 1, // line\n \"duration\": 0, \"flows\": []}", 0},
    };
    for (const auto& [text, expected] : texts) {
        PXScenarioPlan scenario;
        EXPECT_EQ(parseScenarioDescription(text, scenario), expected) << text;
    }
    // Nesting past the reader's depth is invalid JSON, not an exception.
    PXScenarioPlan scenario;
    EXPECT_EQ(parseScenarioDescription(std::string(2000, '[') + std::string(2000, ']'), scenario),
              1);
}

TEST(ScenarioDescriptionTest, NoValueOfAnyTypeMakesItThrow)
{
    // Every member of every level replaced by every JSON type: a code, never an exception.
    const std::vector<Json::Value> replacements = {
        Json::Value(Json::nullValue),
        Json::Value("text"),
        Json::Value(Json::arrayValue),
        Json::Value(Json::objectValue),
        Json::Value(true),
        Json::Value(1.5),
        Json::Value(Json::UInt64(18446744073709551615ull)),
        Json::Value(Json::Int64(-1)),
        Json::Value(0)};
    std::vector<std::vector<std::string>> paths;
    const Json::Value base = baseDescription();
    std::function<void(const Json::Value&, std::vector<std::string>)> collect =
        [&](const Json::Value& value, std::vector<std::string> path) {
            if (!path.empty())
                paths.push_back(path);
            if (value.isObject()) {
                for (const auto& name : value.getMemberNames()) {
                    auto next = path;
                    next.push_back(name);
                    collect(value[name], next);
                }
            } else if (value.isArray()) {
                for (Json::ArrayIndex i = 0; i < value.size(); ++i) {
                    auto next = path;
                    next.push_back("#" + std::to_string(i));
                    collect(value[i], next);
                }
            }
        };
    collect(base, {});
    ASSERT_GT(paths.size(), 40u);
    for (const auto& path : paths) {
        for (const Json::Value& replacement : replacements) {
            Json::Value root = base;
            Json::Value* node = &root;
            for (const std::string& step : path) {
                node = step[0] == '#' ? &(*node)[Json::ArrayIndex(std::stoul(step.substr(1)))]
                                      : &(*node)[step];
            }
            *node = replacement;
            PXScenarioPlan scenario;
            EXPECT_NO_THROW(parseScenarioDescription(write(root), scenario));
        }
    }
}

TEST(ScenarioDescriptionTest, FailureLeavesTheStoredScenario)
{
    PXScenarioPlan scenario;
    ASSERT_EQ(parseScenarioDescription(write(baseDescription()), scenario), 0);
    const std::string stored = scenario.description;
    Json::Value bad = baseDescription();
    bad["scenarioid"] = 8;
    stream(bad).removeMember("dstport");
    EXPECT_EQ(parseScenarioDescription(write(bad), scenario), 32);
    EXPECT_EQ(scenario.id, 7);
    EXPECT_EQ(scenario.flows.size(), 3u);
    EXPECT_EQ(scenario.description, stored);
}

TEST(ScenarioDescriptionTest, ReadsEveryValue)
{
    Json::Value root = baseDescription();
    tcp(root)["requestmethod"] = "put";
    tcp(root)["tos"] = 32;
    tcp(root)["ratelimit"] = 125000;
    tcp(root)["tcprestart"] = 2;
    stream(root)["srcport"] = 65537; // low 16 bits kept
    stream(root)["tos"] = 4;
    trigger(root)["sizemax"] = 900;
    PXScenarioPlan scenario;
    ASSERT_EQ(parseScenarioDescription(write(root), scenario), 0);

    EXPECT_EQ(scenario.id, 7);
    EXPECT_EQ(scenario.duration, 2000000000u);
    ASSERT_EQ(scenario.flows.size(), 3u);

    EXPECT_EQ(scenario.flows[0].id, 3u);
    EXPECT_EQ(scenario.flows[0].kind(), FlowKind::HttpPut);
    EXPECT_EQ(scenario.flows[0].ipVersion, IpVersion::V4);
    const auto& http = std::get<MultiConnect::Config>(scenario.flows[0].content);
    EXPECT_EQ(http.method, 1);
    EXPECT_EQ(http.ipv6, 0);
    EXPECT_EQ(http.destination, "127.0.0.1");
    EXPECT_EQ(http.url, "file");
    EXPECT_EQ(http.dstPort, 80);
    EXPECT_EQ(http.tos, 32);
    EXPECT_EQ(http.rateLimit, 125000);
    EXPECT_EQ(http.duration, 1000000000);
    EXPECT_TRUE(http.restart);

    EXPECT_EQ(scenario.flows[1].kind(), FlowKind::UdpStream);
    const auto& udpOut = std::get<Stream::Config>(scenario.flows[1].content);
    EXPECT_EQ(udpOut.ipv6, 0);
    EXPECT_EQ(udpOut.srcPort, 1);
    EXPECT_EQ(udpOut.dstPort, 6000);
    EXPECT_EQ(udpOut.tos, 4);
    EXPECT_EQ(udpOut.interFrameGap, 10000000);
    EXPECT_EQ(udpOut.numberOfFrames, 10u);
    ASSERT_EQ(udpOut.frames.size(), 1u);
    EXPECT_EQ(udpOut.frames[0].bytes.size(), 16u);
    EXPECT_TRUE(udpOut.frames[0].hasTimeTag);
    EXPECT_EQ(udpOut.frames[0].position, 8u);

    EXPECT_EQ(scenario.flows[2].kind(), FlowKind::UdpTrigger);
    const auto& udpIn = std::get<PXTriggerPlan>(scenario.flows[2].content);
    EXPECT_EQ(udpIn.engine.source, "127.0.0.1");
    EXPECT_EQ(udpIn.engine.srcPort, 5000);
    EXPECT_EQ(udpIn.engine.dstPort, 6000);
    EXPECT_TRUE(udpIn.engine.latencyOn);
    EXPECT_EQ(udpIn.engine.latencyPosition, 8u);
    EXPECT_EQ(udpIn.sizeMin, 0);
    EXPECT_EQ(udpIn.sizeMax, 900);

    ASSERT_EQ(scenario.monitors.size(), 1u);
    EXPECT_EQ(scenario.monitors[0].id, 9);
    EXPECT_EQ(scenario.monitors[0].intervalNs, 500000000);
}

TEST(ScenarioDescriptionTest, TheRunIsBuiltFromWhatWasRead)
{
    Json::Value root = baseDescription();
    root["flows"][1]["flowtype"] = "streamv6";
    PXScenarioPlan scenario;
    ASSERT_EQ(parseScenarioDescription(write(root), scenario), 0);
    auto record = std::make_shared<PXScenarioResult>(scenario.id);
    const auto run = buildScenarioRun(scenario, record, hostInterfaceSource(), nullptr);

    EXPECT_EQ(run->duration, 2000000000u);
    ASSERT_EQ(run->flows.size(), 3u);
    ASSERT_EQ(record->flowResults().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(run->flows[i]->id(), scenario.flows[i].id);
        EXPECT_EQ(run->flows[i]->kind(), scenario.flows[i].kind());
        EXPECT_EQ(run->flows[i]->result(), record->flowResults()[i]);
    }
    EXPECT_NE(dynamic_cast<PXFlowTcp*>(run->flows[0].get()), nullptr);
    auto* udpOut = dynamic_cast<PXFlowStream*>(run->flows[1].get());
    ASSERT_NE(udpOut, nullptr);
    EXPECT_EQ(udpOut->frameOverhead(), 62u);
    auto* udpIn = dynamic_cast<PXFlowTrigger*>(run->flows[2].get());
    ASSERT_NE(udpIn, nullptr);
    EXPECT_EQ(udpIn->frameOverhead(), 42u);
    EXPECT_EQ(udpIn->config().receiveDuration, 2000000000u);
    ASSERT_EQ(run->monitors.size(), 1u);
    auto* monitor = dynamic_cast<PXNetworkInfoMonitor*>(run->monitors[0].get());
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(monitor->id(), 9);
    EXPECT_EQ(monitor->interval(), 500000000);
}

TEST(ScenarioDescriptionTest, DefaultsAndLenientReads)
{
    Json::Value root = baseDescription();
    root["flows"][0]["flowtype"] = "tcpv6";
    tcp(root)["tcprestart"] = "yes";
    trigger(root).removeMember("latency");
    root["flows"][1]["flowtype"] = "streamv6";
    stream(root).removeMember("timetags");
    mon(root)["monitor"] = Json::objectValue;
    root["flows"].append(streamFlow()); // a second flow with id 1
    PXScenarioPlan scenario;
    ASSERT_EQ(parseScenarioDescription(write(root), scenario), 0);

    EXPECT_EQ(scenario.flows[0].kind(), FlowKind::HttpGet);
    EXPECT_EQ(scenario.flows[0].ipVersion, IpVersion::V6);
    const auto& http = std::get<MultiConnect::Config>(scenario.flows[0].content);
    EXPECT_EQ(http.ipv6, 1);
    EXPECT_EQ(http.destination, "::1");
    EXPECT_EQ(http.rateLimit, -1);
    EXPECT_EQ(http.tos, 0);
    EXPECT_FALSE(http.restart);
    const auto& udpOut = std::get<Stream::Config>(scenario.flows[1].content);
    EXPECT_EQ(udpOut.ipv6, 1);
    EXPECT_EQ(udpOut.destination, "::1");
    EXPECT_FALSE(udpOut.frames[0].hasTimeTag);
    const auto& udpIn = std::get<PXTriggerPlan>(scenario.flows[2].content);
    EXPECT_FALSE(udpIn.engine.latencyOn);
    EXPECT_EQ(udpIn.sizeMax, 1600);
    EXPECT_EQ(scenario.flows.size(), 4u);
    EXPECT_EQ(scenario.flows[3].id, scenario.flows[1].id);
    EXPECT_EQ(scenario.monitors[0].intervalNs, 1000000000);
}

TEST(ScenarioDescriptionTest, RestartAndLatencyTypes)
{
    const std::vector<std::pair<Json::Value, bool>> restarts = {
        {Json::Value(true), true},    {Json::Value(false), false}, {Json::Value(2), true},
        {Json::Value(0), false},      {Json::Value(-1), false},    {Json::Value("true"), true},
        {Json::Value("TRUE"), false}, {Json::Value(1.5), false},
    };
    for (const auto& [value, expected] : restarts) {
        Json::Value root = baseDescription();
        tcp(root)["tcprestart"] = value;
        PXScenarioPlan scenario;
        ASSERT_EQ(parseScenarioDescription(write(root), scenario), 0);
        EXPECT_EQ(std::get<MultiConnect::Config>(scenario.flows[0].content).restart, expected)
            << write(value);
    }
    Json::Value root = baseDescription();
    trigger(root)["latency"]["type"] = "none";
    PXScenarioPlan scenario;
    ASSERT_EQ(parseScenarioDescription(write(root), scenario), 0);
    EXPECT_TRUE(std::get<PXTriggerPlan>(scenario.flows[2].content).engine.latencyOn);
}

TEST(ScenarioDescriptionTest, MonitorsObjectIsWalkedOverItsValues)
{
    Json::Value root = baseDescription();
    Json::Value monitors(Json::objectValue);
    monitors["a"] = monitor();
    monitors["b"] = monitor();
    root["monitors"] = monitors;
    PXScenarioPlan scenario;
    ASSERT_EQ(parseScenarioDescription(write(root), scenario), 0);
    EXPECT_EQ(scenario.monitors.size(), 2u);

    root["monitors"]["b"].removeMember("monitor");
    EXPECT_EQ(parseScenarioDescription(write(root), scenario), 45);
}

TEST(ScenarioDescriptionTest, EmptyScenarioAndCompactText)
{
    PXScenarioPlan scenario;
    ASSERT_EQ(parseScenarioDescription("{ \"scenarioid\" : -4, \"duration\": 5, \"flows\" : [ ] }",
                                       scenario),
              0);
    EXPECT_EQ(scenario.id, -4);
    EXPECT_TRUE(scenario.flows.empty());
    EXPECT_TRUE(scenario.monitors.empty());
    EXPECT_EQ(scenario.description, "{\"duration\":5,\"flows\":[],\"scenarioid\":-4}");
}

TEST(ScenarioDescriptionTest, HexDigitsFollowTheLenientRule)
{
    using Bytes = std::vector<std::uint8_t>;
    EXPECT_EQ(hexToBytes("0a0b0"), (Bytes{0x0a, 0x0b}));
    EXPECT_EQ(hexToBytes("ff00"), (Bytes{0xff, 0x00}));
    EXPECT_EQ(hexToBytes(""), Bytes{});
    EXPECT_EQ(hexToBytes("7"), Bytes{});
    // 'A' is 65 - 87 = -22 as a digit: 16 * -22 - 21 = -373, which is 139 modulo 256.
    EXPECT_EQ(hexToBytes("AB"), Bytes{139});
    EXPECT_EQ(hexToBytes("g0"), Bytes{0}); // 16 * 16 = 256
    EXPECT_EQ(hexToBytes("zz"), Bytes{0}); // beyond 'j' every character is 0
    EXPECT_EQ(hexToBytes("j1"), Bytes{(19 * 16 + 1) % 256});
}
