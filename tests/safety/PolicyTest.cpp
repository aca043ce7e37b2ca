// The local policy in memory: the file reader fails closed and names the line; the check
// refuses each rule with its code and a message naming the value, and lets the hub through.
#include "policy/PolicyCheck.h"
#include "policy/PolicyFile.h"

#include "bus/ScenarioErrorCode.h"

#include <gtest/gtest.h>

namespace {

TEST(PolicyFile, ReadsEveryKeyAndRefusesWhatItDoesNotKnow)
{
    PXPolicy policy;
    std::string error;
    ASSERT_TRUE(roamnode::parsePolicy(
        "// all of them\n{\"destinations\": [\"10.0.0.0/8\", \"fe80::/10\", \"192.0.2.1\"],\n"
        "\"maxstreamrate\": 1000, \"maxtotalrate\": 2000, \"maxduration\": 3600,\n"
        "\"maxflows\": 4, \"maxhttpratelimit\": 5, \"unlimitedhttp\": false,\n"
        "\"localudpports\": [1024, 2048]}",
        policy, error))
        << error;
    EXPECT_EQ(policy.summary(),
              "destinations 10.0.0.0/8 fe80::/10 192.0.2.1 (and the hub), stream rate 1000 bit/s, "
              "total rate 2000 bit/s, duration 3600 s, flows 4, HTTP ratelimit 5 bytes/s, "
              "unlimited HTTP refused, local UDP ports 1024-2048");

    const struct
    {
        const char* text;
        const char* error;
    } broken[] = {
        {"{\n\"maxflows\": 3,\n\"destinations\": [\"10.0.0.0/8\"\n}", "line 4, column 1: Missing"},
        {"{\n\n\"maxflow\": 3}", "line 3: unknown key \"maxflow\""},
        {"{\"maxflows\":\n  \"3\"}", "line 2: \"maxflows\" must be a whole number"},
        {"{\"maxduration\": -1}", "line 1: \"maxduration\" must be a whole number"},
        {"{\"unlimitedhttp\": 1}", "\"unlimitedhttp\" must be true or false"},
        {"{\"destinations\": [\"10.0.0.0/33\"]}", "\"10.0.0.0/33\" has no prefix length"},
        {"{\"destinations\": [\"example.org\"]}", "\"example.org\" is not an IPv4 or IPv6"},
        {"{\"localudpports\": [2000, 1000]}", "\"localudpports\" must be [FIRST, LAST]"},
        {"[]", "line 1: a policy is a JSON object"},
        {"", "line 1, column 1"},
    };
    for (const auto& entry : broken) {
        PXPolicy untouched;
        error.clear();
        EXPECT_FALSE(roamnode::parsePolicy(entry.text, untouched, error)) << entry.text;
        EXPECT_NE(error.find(entry.error), std::string::npos) << entry.text << " -> " << error;
    }
    EXPECT_FALSE(roamnode::readPolicyFile("/nonexistent/policy.json", policy, error));
    EXPECT_EQ(error, "/nonexistent/policy.json: No such file or directory");
}

TEST(PolicyCheck, RefusesEachRuleWithItsCodeAndValue)
{
    PXPolicy policy;
    std::string error;
    ASSERT_TRUE(roamnode::parsePolicy(
        "{\"destinations\": [\"10.0.0.0/8\", \"fd00::/8\"], \"maxstreamrate\": 8000000,"
        " \"maxtotalrate\": 12000000, \"maxduration\": 60, \"maxflows\": 3,"
        " \"maxhttpratelimit\": 1000000, \"unlimitedhttp\": false,"
        " \"localudpports\": [5000, 5999]}",
        policy, error))
        << error;
    const std::vector<std::string> hub = {"198.51.100.1"};

    ScenarioDemand fine;
    fine.duration = 60000000000;
    fine.flowCount = 3;
    fine.destinations = {"10.1.2.3", "fd00::1", "198.51.100.1", "::ffff:10.0.0.1"};
    fine.streamRates = {8000000, 4000000};
    fine.httpRateLimits = {1000000};
    fine.localUdpPorts = {5000, 0, 5999};
    EXPECT_EQ(checkPolicy(policy, fine, hub).code, 0) << checkPolicy(policy, fine, hub).message;
    EXPECT_EQ(checkPolicy(PXPolicy{}, ScenarioDemand{}, {}).code, 0);

    const struct
    {
        void (*change)(ScenarioDemand&);
        int code;
        const char* message;
    } cases[] = {
        {[](ScenarioDemand& d) { d.flowCount = 4; }, SCENARIO_POLICY_FLOWS,
         "4 flows are more than the allowed 3"},
        {[](ScenarioDemand& d) { d.duration = 60000000001; }, SCENARIO_POLICY_DURATION,
         "<scenarioduration> 60000000001 ns is longer than the allowed 60 s"},
        {[](ScenarioDemand& d) { d.destinations.push_back("198.51.100.7"); },
         SCENARIO_POLICY_DESTINATION, "destination 198.51.100.7 is outside the allowed networks"},
        {[](ScenarioDemand& d) { d.destinations.push_back("::ffff:198.51.100.7"); },
         SCENARIO_POLICY_DESTINATION, "destination ::ffff:198.51.100.7 is outside"},
        {[](ScenarioDemand& d) { d.destinations.push_back("localhost"); },
         SCENARIO_POLICY_DESTINATION, "destination localhost is outside"},
        {[](ScenarioDemand& d) { d.localUdpPorts.push_back(4999); }, SCENARIO_POLICY_LOCAL_PORT,
         "local UDP port 4999 is outside the allowed range 5000-5999"},
        {[](ScenarioDemand& d) { d.streamRates.push_back(8000001); }, SCENARIO_POLICY_STREAM_RATE,
         "STREAM flow rate 8000001 bit/s is above the allowed 8000000 bit/s"},
        {[](ScenarioDemand& d) { d.streamRates.push_back(1); }, SCENARIO_POLICY_TOTAL_RATE,
         "STREAM flows together send 12000001 bit/s, above the allowed 12000000 bit/s"},
        {[](ScenarioDemand& d) { d.httpRateLimits.push_back(1000001); },
         SCENARIO_POLICY_HTTP_RATELIMIT, "<ratelimit> 1000001 bytes/s for TCP flow is above"},
        {[](ScenarioDemand& d) { d.httpRateLimits.push_back(-1); }, SCENARIO_POLICY_HTTP_UNLIMITED,
         "TCP flow without <ratelimit> is not allowed"},
    };
    for (const auto& entry : cases) {
        ScenarioDemand demand = fine;
        entry.change(demand);
        const PolicyVerdict verdict = checkPolicy(policy, demand, hub);
        EXPECT_EQ(verdict.code, entry.code) << entry.message;
        EXPECT_EQ(verdict.message.rfind("Error in <scenariodescription>: ", 0), 0u);
        EXPECT_NE(verdict.message.find(entry.message), std::string::npos) << verdict.message;
        EXPECT_NE(scenarioErrorText(entry.code), "Unknown error");
    }
    // 1472 bytes every 100 us: the payload's 117.76 Mbit/s; no gap at all is the most there is.
    EXPECT_EQ(streamBitsPerSecond(1472, 100000), 117760000u);
    EXPECT_EQ(streamBitsPerSecond(1, 0), UINT64_MAX);
}

} // namespace
