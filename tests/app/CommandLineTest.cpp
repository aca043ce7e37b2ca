#include "ChildProcess.h"
#include "app/ArgumentFilter.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <csignal>
#include <fstream>
#include <regex>

using namespace std::chrono_literals;
using testsupport::ChildProcess;

TEST(CommandLine, ExitStatusAndOutputOfOneShotCalls)
{
    const struct
    {
        std::vector<std::string> arguments;
        int status;
        std::vector<std::string> out; // texts standard output contains
        std::string err;              // a text standard error contains
    } cases[] = {
        {{"--version"}, 0, {"2.12.3.0"}, ""},
        {{"--help"},
         0,
         {"The IP address or resolving domain name of the rallyhub",
          "Connect the Roamnode to the Pellix Rallyhub and it will serve as a traffic generator "
          "and monitor"},
         ""},
        {{"a", "b"}, 255, {"rallyhub"}, ""},
        {{"--"}, 255, {"rallyhub"}, ""},
        {{"--bogus"}, 1, {}, "bogus"},
        // Certificates for a plain address: not a channel without them, no start at all.
        {{"--cert", "me.pem", "127.0.0.1:1"},
         2,
         {},
         "roamnode: --ca, --cert and --key are for a tls:// rallyhub; 127.0.0.1:1 is a plain "
         "address, not starting"},
        {{"--device-id"}, 0, {}, ""},
        {{"--device-id"}, 0, {}, ""},
    };
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    std::vector<std::string> deviceIds;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[0]);
        ChildProcess run(ROAMNODE_BINARY, c.arguments,
                         testsupport::homeIn(home.path().toStdString()), home.path().toStdString());
        EXPECT_EQ(run.waitForExit(20s), c.status) << run.allOutput();
        for (const std::string& text : c.out)
            EXPECT_NE(run.outText().find(text), std::string::npos) << run.outText();
        EXPECT_NE(run.errText().find(c.err), std::string::npos) << run.errText();
        if (c.arguments[0] == "--device-id")
            deviceIds.push_back(run.outText());
    }
    // The first call creates the identifier, the next prints the same one alone.
    ASSERT_EQ(deviceIds.size(), 2u);
    const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\n");
    EXPECT_TRUE(std::regex_match(deviceIds[0], uuid)) << deviceIds[0];
    EXPECT_EQ(deviceIds[1], deviceIds[0]);
    // None of these calls started the endpoint.
    EXPECT_FALSE(QFile::exists(home.filePath("pxlog.txt")));
}

TEST(CommandLine, FilterDropsPsnArgumentsOnly)
{
    char name[] = "roamnode", psn[] = "-psn_0_12345", shortArg[] = "-ps", hub[] = "10.0.0.5";
    char* argv[] = {name, psn, shortArg, hub};
    const auto filtered = roamnode::filterArguments(4, argv);
    EXPECT_EQ(filtered, (std::vector<char*>{name, shortArg, hub}));
}

TEST(CommandLine, HeadlessRunSaysOnceWhyTheHubIsUnreachableAndStopsCleanlyOnSignals)
{
    const struct
    {
        int signalNumber;
        std::string hub;
        std::string said;
    } cases[] = {
        // A port nobody listens on, and a name that resolves to nothing.
        {SIGINT, "127.0.0.1:9", "cannot reach 127.0.0.1:9: Connection refused\n"},
        {SIGTERM, "nonexistent.invalid",
         "cannot reach nonexistent.invalid:9100: name not resolved\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hub);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const std::string logPath = dir.filePath("pxlog.txt").toStdString();
        // Entries loaded at the start must be written back by the stop.
        std::ofstream(logPath) << "2;1700000000000;kept across the stop;";
        ChildProcess node(ROAMNODE_BINARY, {c.hub}, testsupport::homeIn(dir.path().toStdString()),
                          dir.path().toStdString());
        // Three missed heartbeats (each blinks the bullet) before stderr is read.
        int bullets = 0;
        const auto bullet = [&](const std::string& line) {
            return line.find("\u2022") != std::string::npos && ++bullets >= 3;
        };
        EXPECT_TRUE(node.waitForLine(bullet, 15s)) << node.allOutput();
        EXPECT_NE(
            node.outText().find("   Status: Contacting   || Rx:   0.00 Mbps | Tx:   0.00 Mbps"),
            std::string::npos)
            << node.outText();
        EXPECT_EQ(node.errText(), c.said);
        EXPECT_EQ(node.signalAndWait(c.signalNumber, 10s), 0);
        std::ifstream file(logPath);
        const std::string entries{std::istreambuf_iterator<char>(file), {}};
        EXPECT_EQ(entries.rfind("2;1700000000000;kept across the stop;", 0), 0u) << entries;
        const auto said = entries.find("Heartbeat was not able to connect to the RVP");
        EXPECT_TRUE(said != std::string::npos &&
                    entries.find("Heartbeat was not able", said + 1) == std::string::npos)
            << entries;
    }
}
