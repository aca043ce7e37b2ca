#include "ClockOffset.h"
#include "ConnectionStats.h"
#include "EndpointDriver.h"
#include "HtmlReport.h"
#include "HttpdStats.h"
#include "RunOptions.h"
#include "ScenarioFile.h"
#include "SummaryTable.h"
#include "bus/JsonRead.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

using namespace hubrun;
using namespace roamnode::report;

namespace {

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kSec = 1'000'000'000;
constexpr std::int64_t kT0 = 1'800'000'000'000'000'000;

// The words of `line`, split at blanks, as argv; "run" comes first as the hub hands it over.
bool parse(const std::string& line, RunOptions& options, std::string& error)
{
    std::vector<std::string> words = {"run"};
    std::istringstream split(line);
    for (std::string word; split >> word;)
        words.push_back(word);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    return parseRunOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

// `text` as JSON; null when it is none.
Json::Value reply(const std::string& text)
{
    Json::Value value;
    roamnode::parseJson(text, value);
    return value;
}

std::string write(const QTemporaryDir& dir, const std::string& name, const std::string& content)
{
    const std::string path = dir.path().toStdString() + "/" + name;
    std::ofstream(path) << content;
    return path;
}

// Takes a driver through identification and two clock samples with the endpoint 7 ms ahead.
void identifyAndClock(EndpointDriver& driver, std::int64_t& hubStart)
{
    driver.onHello("registered", kT0);
    EXPECT_NE(driver.nextRequest(kT0, hubStart, 2.0).find("device-givenname"), std::string::npos);
    driver.onReply(R"({"app-version": "2.12.3.0", "device-givenname": "lab", "status": "success"})",
                   kT0 + kMs);
    EXPECT_EQ(driver.phase(), EndpointDriver::Phase::Clock);
    for (int i = 0; i < 2; ++i) {
        const std::int64_t sent = kT0 + (i + 1) * 1000 * kMs;
        EXPECT_EQ(driver.nextRequest(sent, hubStart, 2.0),
                  "{\"command\": \"get\", \"localtime\": \"\"}");
        // The second exchange is the quicker one: 1 ms round trip against 4 ms.
        const std::int64_t roundTrip = i == 0 ? 4 * kMs : kMs;
        driver.onReply("{\"localtime\": " + std::to_string(sent + roundTrip / 2 + 7 * kMs) +
                           ", \"status\": \"success\"}",
                       sent + roundTrip);
    }
}

} // namespace

TEST(HubRunOptions, EveryOptionAMapAloneAndHelp)
{
    RunOptions every;
    std::string error;
    ASSERT_TRUE(parse("--port 0 s.json --device a --device b --endpoints 2 --start-in 1.5 --out "
                      "/tmp/x --register-timeout 7 --rewrite-port 8080=4321 --httpd-stats "
                      "st.jsonl --clock-samples 2 --bind 127.0.0.1 --wide",
                      every, error))
        << error;
    using Rewrites = decltype(every.portRewrites);
    using Words = std::vector<std::string>;
    EXPECT_EQ(std::tie(every.scenarioPath, every.port, every.endpoints, every.outDir,
                       every.httpdStatsPath, every.devices, every.startInSeconds,
                       every.registerTimeoutSeconds, every.portRewrites, every.clockSamples,
                       every.bindAddresses, every.wide),
              std::make_tuple("s.json", 0, 2u, "/tmp/x", "st.jsonl", Words{"a", "b"}, 1.5, 7.0,
                              Rewrites{{8080, 4321}}, 2u, Words{"127.0.0.1"}, true));

    RunOptions map;
    ASSERT_TRUE(parse("--map m.json", map, error)) << error;
    EXPECT_EQ(map.mapPath, "m.json");
    RunOptions help;
    ASSERT_TRUE(parse("--help", help, error));
    EXPECT_TRUE(help.help);
    // The help names every exit status and where a device id comes from.
    const std::string usage = runUsage();
    for (const char* text : {"Exit status: 0", "1 an endpoint", "2 a bad", "3 the run completed",
                             "130 interrupted", "roamnode --device-id", "--wide"})
        EXPECT_NE(usage.find(text), std::string::npos) << text;
}

TEST(HubRunOptions, RefusesBadValuesAndCombinations)
{
    for (const char* words : {
             "",                                // no scenario
             "a.json b.json",                   // two scenarios
             "a.json --port 65536",             // port out of range
             "a.json --port -1",                // not a number
             "a.json --port",                   // missing value
             "a.json --endpoints 0",            // nobody to drive
             "a.json --start-in soon",          // not seconds
             "a.json --start-in -2",            // in the past
             "a.json --rewrite-port 8080",      // no target
             "a.json --rewrite-port 8080=0",    // port 0
             "a.json --rewrite-port x=1",       // not a number
             "a.json --map m.json",             // scenario and map
             "--map m.json --endpoints 2",      // the map names the endpoints
             "a.json --device x --endpoints 2", // disagree
             "a.json --frobnicate 1",           // unknown
         }) {
        RunOptions options;
        std::string error;
        EXPECT_FALSE(parse(words, options, error)) << "accepted: " << words;
        EXPECT_FALSE(error.empty()) << words;
    }
}

TEST(HubRunClockOffset, PicksTheSampleWithTheShortestRoundTripAndSkipsImpossibleOnes)
{
    const std::int64_t base = 1'700'000'000'000'000'000;
    const std::int64_t odd = base + 1; // the midpoint must not lose 1 ns
    // Each case: samples (hub sent, endpoint's time, hub received), then offset and round trip.
    using Expected = std::optional<std::pair<std::int64_t, std::int64_t>>;
    const std::pair<std::vector<ClockSample>, Expected> cases[] = {
        {{{base, base + 5'000'000 + 2'000'000, base + 4'000'000},     // 4 ms round trip
          {base + 10'000'000, base + 15'250'000, base + 10'500'000},  // 0.5 ms: the one
          {base + 20'000'000, base + 29'000'000, base + 23'000'000}}, // 3 ms
         std::make_pair(5'000'000, 500'000)},
        {{{odd, odd - 3'000'000 + 1, odd + 2}}, std::make_pair(-3'000'000, 2)},
        {{}, std::nullopt},
        // A reply before its request, and an endpoint that sent no time.
        {{{100, 50, 90}, {100, 0, 200}}, std::nullopt},
        {{{100, 50, 90}, {1000, 1600, 1200}}, std::make_pair(500, 200)},
    };
    for (const auto& c : cases) {
        const auto offset = estimateClockOffset(c.first);
        EXPECT_EQ(offset ? Expected({offset->offsetNs, offset->roundTripNs}) : std::nullopt,
                  c.second)
            << &c - cases;
    }
}

TEST(HubRunScenarioFile, ReadsCommentsAndRewritesOnlyMatchingDstPorts)
{
    Json::Value scenario = reply(R"(// a comment
        {"scenarioid": 1, /* inline */ "duration": 1, "flows": [
          {"id": 1, "flowtype": "tcpv4", "flow": {"dstport": 8080, "srcport": 8080}},
          {"id": 2, "flowtype": "tcpv4", "flow": {"dstport": 8081}},
          {"id": 3, "flowtype": "streamv4", "flow": {"dstport": 8080}},
          {"id": 4, "flowtype": "streamv4", "flow": {"dstport": "8080"}},
          "not a flow"
        ]})");
    EXPECT_EQ(rewriteDstPort(scenario, 8080, 12345), 2);
    EXPECT_EQ(scenario["flows"][0]["flow"]["dstport"].asInt(), 12345);
    EXPECT_EQ(scenario["flows"][0]["flow"]["srcport"].asInt(), 8080);
    EXPECT_EQ(scenario["flows"][1]["flow"]["dstport"].asInt(), 8081);
    EXPECT_EQ(scenario["flows"][2]["flow"]["dstport"].asInt(), 12345);
    EXPECT_EQ(scenario["flows"][3]["flow"]["dstport"].asString(), "8080");

    Json::Value notAScenario(Json::arrayValue);
    EXPECT_EQ(rewriteDstPort(notAScenario, 8080, 1), 0);
}

TEST(HubRunScenarioFile, MapsDeviceIdsToInlineAndFileScenarios)
{
    QTemporaryDir dir;
    write(dir, "b.json", "// B's part\n{\"scenarioid\": 2, \"duration\": 1, \"flows\": []}");
    const std::string map =
        write(dir, "map.json",
              "{\"dev-a\": {\"scenarioid\": 1, \"duration\": 1, \"flows\": []},\n"
              " \"dev-b\": \"b.json\"}");
    std::map<std::string, Json::Value> scenarios;
    std::string error;
    ASSERT_TRUE(readScenarioMap(map, scenarios, error)) << error;
    ASSERT_EQ(scenarios.size(), 2u);
    EXPECT_EQ(scenarios["dev-a"]["scenarioid"].asInt(), 1);
    EXPECT_EQ(scenarios["dev-b"]["scenarioid"].asInt(), 2);
    // The template shipped for two machines is such a map.
    std::map<std::string, Json::Value> shipped;
    ASSERT_TRUE(readScenarioMap(ROAMNODE_SOURCE_DIR "/examples/scenarios/two-machine-template.json",
                                shipped, error))
        << error;
    EXPECT_EQ(shipped.size(), 2u);
    for (const auto& entry : shipped)
        EXPECT_TRUE(entry.second["flows"].isArray()) << entry.first;

    // A file that is not there, an entry that is not a scenario, no entry, and broken JSON.
    for (const char* bad :
         {"{\"dev-c\": \"nowhere.json\"}", "{\"dev-c\": 5}", "{}", "{\"dev-c\": }"})
        EXPECT_FALSE(readScenarioMap(write(dir, "bad.json", bad), scenarios, error)) << bad;
    EXPECT_FALSE(readScenarioMap("/nonexistent/map.json", scenarios, error));
    EXPECT_NE(error.find("/nonexistent/map.json"), std::string::npos) << error;
}

TEST(HubRunScenarioFile, AMapKeyIsAnIdOrAUniqueNameOrAddress)
{
    std::map<std::string, Json::Value> map;
    for (const char* key : {"3f2a", "lab", "10.0.0.5", "fd00::5", "bench"})
        map[key] = Json::Value(Json::objectValue);
    // id, name, addresses; the key matched (none, or ambiguous when the last column says so)
    const std::tuple<const char*, const char*, std::set<std::string>, const char*, bool> cases[] = {
        {"3f2a", "bench", {"10.0.0.5"}, "3f2a", false}, // the id wins
        {"77b0", "lab", {"192.0.2.1"}, "lab", false},
        {"77b0", "", {"192.0.2.1", "fd00::5"}, "fd00::5", false},
        {"77b0", "other", {"192.0.2.1"}, "", false},
        {"77b0", "lab", {"10.0.0.5"}, "", true},
    };
    for (const auto& [id, name, addresses, key, ambiguous] : cases) {
        std::string problem;
        EXPECT_EQ(matchMapKey(map, id, name, addresses, problem), key) << id << name;
        EXPECT_EQ(problem.empty(), !ambiguous) << problem;
    }
}

TEST(HubRunHttpdStats, PathNameAndTargetMatchingFollowTheFlowsRule)
{
    const std::pair<const char*, const char*> names[] = {{"/dir/name/more", "dir/name"},
                                                         {"/a/b/c/d", "a/b"},
                                                         {"/abc", "abc"},
                                                         {"abc", "abc"},
                                                         {"/demo/download", "demo/download"}};
    for (const auto& [url, name] : names)
        EXPECT_EQ(flowPathName(url), name) << url;
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"/demo/download/?ns=4000000000", "/demo/download", true},
        {"/demo/download-2/?ns=1000&rate=5", "/demo/download", true},
        {"/dir/name/?ns=1", "/dir/name/more", true},
        {"/demo/downloads/?ns=1", "/demo/download", false},
        {"/demo/download-/?ns=1", "/demo/download", false},
        {"/demo/download-2x/?ns=1", "/demo/download", false},
        {"/demo/download", "/demo/download", false},
        {"/demo/upload/?ns=1", "/demo/download", false},
    };
    for (const auto& [target, url, matches] : cases)
        EXPECT_EQ(targetMatchesUrl(target, url), matches) << target << " " << url;
}

// Two endpoints that each ran a GET and a PUT of "/demo/x" (the GET from port 7000) and a stream,
// starting at kT0 for 10 s; the server counted each connection below in 2 s. First on addresses
// of their own, then both on 127.0.0.1, where the PUTs (no srcport) cannot be told apart.
TEST(HubRunHttpdStats, EachEndpointGetsItsOwnConnectionsOfThisRunNotAnAmbiguousSum)
{
    const Json::Value description = reply(R"({"duration": 10000000000, "flows": [
        {"id": 3, "flowtype": "tcpv4", "flow": {"requestmethod": "get", "url": "/demo/x",
         "srcport": 7000}},
        {"id": 4, "flowtype": "tcpv4", "flow": {"requestmethod": "put", "url": "/demo/x"}},
        {"id": 1, "flowtype": "streamv4", "flow": {"dstport": 1}}]})");
    // Each endpoint's result list: the stream's bytes, nothing of its HTTP flows.
    const Json::Value list = reply(R"([{"flows": [{"id": 1, "status": "success",
        "timestamparray": [0], "packetcountarray": [1], "bytecountarray": [99]},
        {"id": 3, "status": "success"}, {"id": 4, "status": "success"}]}])");
    const auto twoEndpoints = [&](const std::string& addressA, const std::string& addressB) {
        std::vector<EndpointResults> endpoints;
        for (const std::string& address : {addressA, addressB})
            endpoints.push_back(
                {address, {address}, description, summarize(list, description, address), kT0});
        return endpoints;
    };
    auto endpoints = twoEndpoints("10.0.0.1", "10.0.0.2");
    const std::vector<ConnectionStat> connections = {
        // Endpoint A's GET, its restart (any port), and its PUT.
        {"GET", "/demo/x/?ns=4000", 1'000'000, 2.0, "", "10.0.0.1", 7000, kT0},
        {"GET", "/demo/x-2/?ns=2000", 1'000'000, 2.0, "", "10.0.0.1", 40001, kT0 + 4 * kSec},
        {"PUT", "/demo/x/?ns=4000&rate=1000", 500'000, 2.0, "", "10.0.0.1", 40002, kT0},
        {"GET", "/demo/x/?ns=4000", 3'000'000, 2.0, "", "10.0.0.2", 7000, kT0 + kSec},
        // Not this run: an earlier one, a later one; and a GET from A's address on a port
        // that is not the flow's.
        {"GET", "/demo/x/?ns=4000", 7'000'000, 2.0, "", "10.0.0.1", 7000, kT0 - 60 * kSec},
        {"PUT", "/demo/x/?ns=4000", 7'000'000, 2.0, "", "10.0.0.2", 1, kT0 + 30 * kSec},
        {"GET", "/demo/x/?ns=4000", 7'000'000, 2.0, "", "10.0.0.1", 7001, kT0},
    };
    EXPECT_EQ(applyConnectionStats(endpoints, connections), 3);
    const auto& a = endpoints[0].summaries[0].flows;
    const auto& b = endpoints[1].summaries[0].flows;
    const auto served = [](const FlowSummary& f) {
        return std::make_tuple(f.measuredByServer, f.bytes, f.failed());
    };
    EXPECT_EQ(served(a[0]), std::make_tuple(false, 99ul, false));
    EXPECT_EQ(served(a[1]), std::make_tuple(true, 2'000'000ul, false));
    EXPECT_DOUBLE_EQ(a[1].meanMbps.value_or(0), 4.0);
    EXPECT_EQ(served(a[2]), std::make_tuple(true, 500'000ul, false));
    EXPECT_EQ(served(b[1]), std::make_tuple(true, 3'000'000ul, false));
    // B's PUT reached the server in no connection of this run: 0 bytes, and not a success.
    EXPECT_EQ(served(b[2]), std::make_tuple(true, 0ul, true));
    // The server's figures are marked as its own, and a flow it counted nothing of is no success.
    const std::string table = summaryTable(endpoints[0].summaries);
    for (const char* text : {"2.00 MB *", "4.00 *", "* measured by the HTTP server"})
        EXPECT_NE(table.find(text), std::string::npos) << text << "\n" << table;
    const Json::Value json = summaryJson(endpoints[0].summaries);
    EXPECT_EQ(json[0]["flows"][1]["measuredby"].asString(), "server");
    EXPECT_EQ(json[0]["flows"][0]["measuredby"].asString(), "endpoint");
    const std::string html = htmlReport("t", endpoints[1].summaries);
    EXPECT_NE(html.find("class=\"status-bad\">success (0 bytes)"), std::string::npos) << html;
    EXPECT_NE(html.find("measured by the HTTP server"), std::string::npos);

    endpoints = twoEndpoints("127.0.0.1", "127.0.0.1");
    EXPECT_EQ(
        applyConnectionStats(
            endpoints, {{"PUT", "/demo/x/?ns=4000", 500'000, 2.0, "", "127.0.0.1", 40002, kT0},
                        {"PUT", "/demo/x/?ns=4000", 600'000, 2.0, "", "127.0.0.1", 40003, kT0}}),
        0);
    for (const auto& endpoint : endpoints) {
        EXPECT_TRUE(endpoint.summaries[0].flows[2].serverAmbiguous);
        EXPECT_EQ(served(endpoint.summaries[0].flows[2]), std::make_tuple(false, 0ul, false));
    }
    EXPECT_NE(summaryTable(endpoints[0].summaries).find("ambiguous"), std::string::npos) << table;
}

TEST(HubRunHttpdStats, TheServersLinesReadBackUnchangedAndBrokenOnesAreSkipped)
{
    QTemporaryDir dir;
    const std::string path = write(dir, "stats.jsonl", "");
    {
        ConnectionStats stats(path);
        ASSERT_TRUE(stats.isOpen());
        stats.record({"GET", "/demo/download/?ns=4000000000", 3'999'744, 4.000123, "127.0.0.1:4",
                      "127.0.0.1", 4, kT0, kT0 + 4'000'123'000});
        // A hostile target: quotes, backslashes, control and high bytes stay one valid line.
        stats.record({"PUT", "/a\"b\\c\n\x01\xff/?ns=1", 7, 0.25, "[::1]:9", "::1", 9, 0, 0});
    }
    std::ifstream in(path);
    // Then a line without "address" and "port" (taken from "peer"), and broken ones skipped.
    const std::string text =
        std::string(std::istreambuf_iterator<char>(in), {}) +
        R"({"method":"GET","target":"/a/b/?ns=1","bytes":1000,"seconds":0.5,"peer":"127.0.0.1:5"}

not json
{"method":"PUT","target":7,"bytes":1,"seconds":1}
{"method":"PUT","target":"/a/c/?ns=1","bytes":2000,"seconds":2}
{"method":"PUT","target":"/a/c-2/?ns=1","bytes":10)";
    const auto connections = parseConnectionStats(text);
    ASSERT_EQ(connections.size(), 4u) << text;
    const ConnectionStat& get = connections[0];
    EXPECT_EQ(
        std::tie(get.method, get.target, get.bytes, get.peer, get.address, get.port, get.startNs),
        std::make_tuple("GET", "/demo/download/?ns=4000000000", 3'999'744u, "127.0.0.1:4",
                        "127.0.0.1", 4, kT0));
    EXPECT_NEAR(get.seconds, 4.000123, 1e-6);
    EXPECT_EQ(connections[1].target.substr(0, 8), "/a\"b\\c\n\x01");
    EXPECT_EQ(connections[1].address, "::1");
    const ConnectionStat& peerOnly = connections[2];
    EXPECT_EQ(std::tie(peerOnly.target, peerOnly.bytes, peerOnly.address, peerOnly.port),
              std::make_tuple("/a/b/?ns=1", 1000u, "127.0.0.1", 5));
    EXPECT_DOUBLE_EQ(peerOnly.seconds, 0.5);
    EXPECT_EQ(connections[3].target, "/a/c/?ns=1");
}

TEST(HubRunEndpointDriver, SendsTheStartOnTheEndpointsClock)
{
    EndpointDriver driver("dev", reply(R"({"scenarioid": 4, "duration": 1000000000, "flows": []})"),
                          2);
    std::int64_t hubStart = 0;
    identifyAndClock(driver, hubStart);
    EXPECT_EQ(driver.label(), "lab (dev)");
    ASSERT_TRUE(driver.clock());
    EXPECT_EQ(std::make_tuple(driver.clock()->offsetNs, driver.clock()->roundTripNs,
                              driver.clock()->errorNs()),
              std::make_tuple(7 * kMs, kMs, kMs / 2));
    // Not every endpoint is there yet: nothing but "nop".
    EXPECT_EQ(driver.phase(), EndpointDriver::Phase::Ready);
    EXPECT_EQ(driver.nextRequest(kT0 + 3000 * kMs, hubStart, 2.0), EndpointDriver::kNop);

    driver.release();
    const std::int64_t now = kT0 + 4000 * kMs;
    const Json::Value set = reply(driver.nextRequest(now, hubStart, 2.0));
    EXPECT_EQ(hubStart, now + 2000 * kMs);
    EXPECT_EQ(set["command"].asString(), "set");
    EXPECT_EQ(set["scenariodescription"]["scenarioid"].asInt(), 4);
    EXPECT_EQ(set["scenariostarttime"].asInt64(), hubStart + 7 * kMs);
    driver.onReply(R"({"status": "success"})", now + kMs);
    // The hello of the exchange right after the set may still say "registered": not the end.
    driver.onHello("registered", now + 900 * kMs);
    EXPECT_EQ(driver.nextRequest(now + 900 * kMs, hubStart, 2.0), EndpointDriver::kNop);
    EXPECT_EQ(driver.phase(), EndpointDriver::Phase::Armed);

    // Back from the run: result list, then its reset.
    driver.onHello("armed", now + 1000 * kMs);
    EXPECT_EQ(driver.nextRequest(now + 1000 * kMs, hubStart, 2.0), EndpointDriver::kNop);
    driver.onHello("registered", now + 4000 * kMs);
    EXPECT_NE(driver.nextRequest(now + 4000 * kMs, hubStart, 2.0).find("\"get\", \"resultlist\""),
              std::string::npos);
    driver.onReply(R"({"resultlist": [{"scenarioid": 4, "timestamp": 1, "flows":[]}],
                       "status": "success"})",
                   now + 4001 * kMs);
    EXPECT_EQ(driver.resultList().size(), 1u);
    EXPECT_NE(driver.nextRequest(now + 5000 * kMs, hubStart, 2.0).find("\"set\", \"resultlist\""),
              std::string::npos);
    driver.onReply(R"({"status": "success"})", now + 5001 * kMs);

    // The clock again, now 7.5 ms ahead, a minute after the first measurement.
    ASSERT_EQ(driver.phase(), EndpointDriver::Phase::ClockAfter);
    for (int i = 0; i < 2; ++i) {
        const std::int64_t sent = kT0 + 2000 * kMs + 60000 * kMs + i * 1000 * kMs;
        EXPECT_NE(driver.nextRequest(sent, hubStart, 2.0).find("localtime"), std::string::npos);
        const std::string line =
            driver.onReply("{\"localtime\": " + std::to_string(sent + kMs + 7500 * 1000) +
                               ", \"status\": \"success\"}",
                           sent + 2 * kMs);
        EXPECT_EQ(line.find("drift +0.500 \xc2\xb1 1.500 ms/min") != std::string::npos, i == 1)
            << line;
    }
    EXPECT_EQ(driver.phase(), EndpointDriver::Phase::Done);
    ASSERT_TRUE(driver.clockAfter());
    EXPECT_EQ(std::make_pair(driver.clockAfter()->offsetNs, driver.clockAfter()->errorNs()),
              std::make_pair(7500 * 1000l, kMs));
}

TEST(HubRunEndpointDriver, ARefusedStartTimeAsksForTheScenariosOwnError)
{
    EndpointDriver driver("dev", reply(R"({"scenarioid": 4, "flows": []})"), 2);
    std::int64_t hubStart = 0;
    identifyAndClock(driver, hubStart);
    driver.release();
    driver.nextRequest(kT0 + 4000 * kMs, hubStart, 2.0);
    driver.onReply(
        R"({"errormessage": "Error in <scenariostarttime>: <scenariodescription> is not yet set",
                       "status": "variable-error"})",
        kT0 + 4001 * kMs);
    ASSERT_EQ(driver.phase(), EndpointDriver::Phase::Diagnose);
    const Json::Value set = reply(driver.nextRequest(kT0 + 5000 * kMs, hubStart, 2.0));
    EXPECT_TRUE(set.isMember("scenariodescription"));
    EXPECT_FALSE(set.isMember("scenariostarttime"));
    driver.onReply(
        R"({"errormessage": "Error in <scenariodescription>: No <scenarioduration> value",
                       "status": "variable-error"})",
        kT0 + 5001 * kMs);
    EXPECT_EQ(driver.phase(), EndpointDriver::Phase::Failed);
    EXPECT_EQ(driver.error(), "the endpoint refused the scenario: Error in <scenariodescription>: "
                              "No <scenarioduration> value (variable-error)");
}

TEST(HubRunEndpointDriver, SilenceAndGarbageEndTheDriver)
{
    EndpointDriver quiet("dev", reply(R"({"duration": 1})"), 1);
    std::int64_t hubStart = 0;
    quiet.onHello("registered", kT0);
    quiet.checkDeadlines(kT0 + EndpointDriver::kSilenceLimitNs);
    EXPECT_FALSE(quiet.finished());
    quiet.checkDeadlines(kT0 + EndpointDriver::kSilenceLimitNs + 1);
    EXPECT_EQ(quiet.phase(), EndpointDriver::Phase::Failed);

    EndpointDriver garbled("dev", reply(R"({"duration": 1})"), 1);
    garbled.onHello("registered", kT0);
    garbled.nextRequest(kT0, hubStart, 1.0);
    garbled.onReply("not json", kT0);
    EXPECT_EQ(garbled.phase(), EndpointDriver::Phase::Failed);

    // A reply nobody asked for changes nothing.
    EndpointDriver unasked("dev", reply(R"({"duration": 1})"), 1);
    unasked.onReply(R"({"status": "success"})", kT0);
    EXPECT_EQ(unasked.phase(), EndpointDriver::Phase::Identify);
}
