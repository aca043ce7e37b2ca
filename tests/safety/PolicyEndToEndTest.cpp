// The rules and their messages are PolicyTest's; here the demand read from a real description,
// and the wiring.
#include "RealProcesses.h"

#include "bus/TimePoint.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

namespace {

using namespace std::chrono_literals;

std::string stream(const std::string& destination, std::int64_t gapNs, std::int64_t durationNs)
{
    return "{\"scenarioid\": 5, \"duration\": " + std::to_string(durationNs) +
           ", \"flows\": [{\"id\": 1, \"flowtype\": \"streamv4\", \"flow\": {"
           "\"initialtimetowait\": 0, \"srcport\": 0, \"dstipv4\": \"" +
           destination + "\", \"dstport\": 9, \"interframegap\": " + std::to_string(gapNs) +
           ", \"numberofframes\": 1, \"contentlist\": [\"" + std::string(250, 'a') + "\"]}}]}";
}

std::string setDescription(const std::string& description, const std::string& more = {})
{
    return "{\"command\": \"set\", \"scenariodescription\": " + description + more + "}";
}

TEST(PolicyEndToEnd, RefusesWhatBreaksThePolicyAndStopsOnAPolicyItCannotUse)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string policy = dir.filePath("policy.json").toStdString();
    std::ofstream(policy) << "// the hub is 127.0.0.1, outside these\n"
                             "{\"destinations\": [\"10.0.0.0/8\"],\n"
                             " \"maxstreamrate\": 1000000, \"maxduration\": 2}\n";
    const std::string startIn1h =
        ", \"scenariostarttime\": " + std::to_string(roamnode::nowNanoseconds() + 3600000000000);
    const std::vector<std::string> requests = {
        "{\"command\": \"set\", \"heartbeatinterval\": \"200\"}",
        setDescription(stream("198.51.100.7", 10000000, 1000000000), startIn1h),
        "{\"command\": \"get\", \"scenariostarttime\": \"\"}",
        setDescription(stream("127.0.0.1", 500000, 1000000000)),
        setDescription(stream("127.0.0.1", 10000000, 3000000000)),
        setDescription(stream("127.0.0.1", 10000000, 1000000000)),
    };
    const std::string refused = "{\"errormessage\": \"Error in <scenariodescription>: ";
    const std::vector<std::string> refusedByThePolicy = {
        "{\"status\": \"success\"}",
        refused + "destination 198.51.100.7 is outside the allowed networks\", "
                  "\"status\": \"variable-error\"}",
        "{\"scenariostarttime\": 0, \"status\": \"success\"}",
        refused + "STREAM flow rate 2000000 bit/s is above the allowed 1000000 bit/s\", "
                  "\"status\": \"variable-error\"}",
        refused + "<scenarioduration> 3000000000 ns is longer than the allowed 2 s\", "
                  "\"status\": \"variable-error\"}",
        // To the hub's own address, within every limit.
        "{\"status\": \"success\"}",
    };
    // With the policy, then the same descriptions without one: all of them pass and arm.
    for (const bool withPolicy : {true, false}) {
        SCOPED_TRACE(withPolicy);
        const auto hub = testsupport::startHub(0, requests);
        const int port = testsupport::listeningPort(*hub);
        ASSERT_NE(port, 0);
        std::vector<std::string> endpointArguments = {"127.0.0.1:" + std::to_string(port)};
        if (withPolicy)
            endpointArguments.insert(endpointArguments.begin(), {"--policy", policy});
        const auto endpoint =
            testsupport::startEndpoint(dir.path().toStdString(), endpointArguments);
        std::vector<std::string> replies;
        for (std::size_t i = 0; i < requests.size(); ++i)
            replies.push_back(testsupport::nextReply(*hub, 15s));
        if (withPolicy) {
            EXPECT_EQ(replies, refusedByThePolicy);
            continue;
        }
        for (const std::string& reply : replies)
            EXPECT_NE(reply.find("\"status\": \"success\""), std::string::npos) << reply;
        EXPECT_EQ(replies[2].find("\"scenariostarttime\": 0"), std::string::npos) << replies[2];
    }

    // A policy file that cannot be used stops the start, naming the line.
    std::ofstream(policy) << "{\n  \"maxflows\": 3,\n  \"maxrate\": 60\n}";
    const auto endpoint =
        testsupport::startEndpoint(dir.path().toStdString(), {"--policy", policy, "127.0.0.1:9"});
    EXPECT_EQ(endpoint->waitForExit(10s), 2);
    const std::string error = endpoint->errText();
    EXPECT_NE(error.find("policy.json: line 3: unknown key"), std::string::npos) << error;
    EXPECT_NE(error.find("not starting"), std::string::npos) << error;
}

} // namespace
