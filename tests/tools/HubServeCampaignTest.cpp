#include "JsonParse.h"
#include "LoopbackPort.h"
#include "RealProcesses.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <pwd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::ChildProcess;

// Standard output of a command that is expected to end with status 0 within a minute; nothing
// (and a failure) when it does not.
std::optional<std::string> run(const std::string& program,
                               const std::vector<std::string>& arguments, bool reportFailure = true)
{
    ChildProcess process(program, arguments);
    if (process.waitForExit(60s) != 0) {
        if (reportFailure)
            ADD_FAILURE() << program << " " << arguments.back() << ": " << process.allOutput();
        return std::nullopt;
    }
    return process.outText();
}

// A PostgreSQL cluster of its own in a temporary folder, run by `nobody` (initdb refuses root).
class PostgresCluster
{
public:
    bool start(std::string& why)
    {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec))
            if (fs::exists(entry.path() / "bin/initdb"))
                m_bin = (entry.path() / "bin").string();
        const passwd* nobody = getpwnam("nobody");
        if (m_bin.empty() || geteuid() != 0 || !nobody) {
            why = "needs PostgreSQL (/usr/lib/postgresql/*/bin) and root";
            return false;
        }
        m_dir = m_tmp.path().toStdString();
        if (!m_tmp.isValid() || chown(m_dir.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
            return false;
        // The C locale: a test machine's LANG may name a locale it has not generated.
        if (!as({m_bin + "/initdb", "-D", m_dir + "/data", "-U", "roamnode", "-A", "trust",
                 "--no-locale", "-E", "UTF8"}))
            return false;
        // Another test's connection may take the free port before the server binds it.
        for (int attempt = 0; attempt < 3; ++attempt) {
            m_port = std::to_string(testsupport::unusedLoopbackPort());
            if (control("start", attempt == 2))
                return true;
        }
        return false;
    }
    bool control(const char* what, bool reportFailure = true)
    {
        const bool ok =
            as({m_bin + "/pg_ctl", "-D", m_dir + "/data", "-l", m_dir + "/log", "-w", "-m", "fast",
                "-o", "-p " + m_port + " -k " + m_dir + " -c listen_addresses=127.0.0.1", what},
               reportFailure);
        std::ifstream log(m_dir + "/log");
        if (!ok && reportFailure && log)
            ADD_FAILURE() << "the server's log:\n"
                          << std::string(std::istreambuf_iterator<char>(log), {});
        return ok;
    }
    std::string url() const { return "postgresql://roamnode@127.0.0.1:" + m_port + "/postgres"; }
    ~PostgresCluster()
    {
        if (!m_port.empty())
            control("stop");
    }

private:
    // Whether the command succeeded; run() reports a failure unless told not to.
    bool as(std::vector<std::string> command, bool reportFailure = true)
    {
        command.insert(command.begin(), {"-u", "nobody", "--"});
        return run("/usr/sbin/runuser", command, reportFailure).has_value();
    }
    QTemporaryDir m_tmp{"/tmp/roamnode-pg-XXXXXX"};
    std::string m_bin, m_dir, m_port;
};

class HubServeCampaign : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override
    {
        if (HasFailure() && m_hub)
            std::cerr << "the hub said:\n" << output();
    }

    std::string path(const std::string& name) const
    {
        return m_dir.path().toStdString() + "/" + name;
    }
    std::string output() { return m_hub->outText() + m_hub->errText(); }
    std::string endpointHome(int i) const { return path("endpoint-" + std::to_string(i)); }

    void writeSchedule(const std::string& secondTest)
    {
        // Each endpoint streams its frames to the discard port; a test per endpoint, and one
        // that also names an endpoint that is not there.
        auto scenario = [](int id, int frames) {
            return "{\"scenarioid\": " + std::to_string(id) +
                   ", \"duration\": 500000000, \"flows\": [{\"id\": 1, \"flowtype\": "
                   "\"streamv4\", \"flow\": {\"initialtimetowait\": 0, \"srcport\": 0, "
                   "\"dstipv4\": \"127.0.0.1\", \"dstport\": 9, \"interframegap\": 10000000, "
                   "\"numberofframes\": " +
                   std::to_string(frames) + ", \"contentlist\": [\"00010203\"]}}]}";
        };
        std::ofstream(path("schedule.json"))
            << "// the campaign\n{\"tests\": [{\"name\": \"a\", \"endpoints\": [\"" + m_ids[0] +
                   "\"], \"every\": \"10s\", \"scenario\": " + scenario(5, 20) +
                   "}, {\"name\": \"" + secondTest + "\", \"endpoints\": [\"" + m_ids[1] +
                   "\", \"ghost\"], \"every\": \"10s\", \"scenario\": " + scenario(6, 30) + "}]}";
    }

    void startCampaign(const std::string& archive)
    {
        for (int i = 0; i < 2; ++i) {
            m_ids.push_back(testsupport::deviceId(endpointHome(i)));
            ASSERT_FALSE(m_ids.back().empty());
        }
        writeSchedule("b");
        m_hub = std::make_unique<ChildProcess>(
            ROAMNODE_HUB_BINARY,
            std::vector<std::string>{"serve", "--schedule", path("schedule.json"), "--archive",
                                     archive, "--out", path("out"), "--keep-archived", "--port",
                                     "0", "--bind", "127.0.0.1", "--metrics", "127.0.0.1:0",
                                     "--start-in", "1", "--clock-samples", "1"});
        const int port = testsupport::listeningPort(*m_hub);
        ASSERT_NE(port, 0) << output();
        for (int i = 0; i < 2; ++i)
            m_endpoints.push_back(
                testsupport::startEndpoint(endpointHome(i), {"127.0.0.1:" + std::to_string(port)}));
    }

    // Waits (bounded) until the hub's output holds `text` `count` times. Looks again every 50 ms:
    // the PostgreSQL case must stop the database soon after the first write.
    bool waitFor(const std::string& text, int count = 1, std::chrono::milliseconds wait = 40s)
    {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (occurrences(text) < count && std::chrono::steady_clock::now() < deadline &&
               !m_hub->waitForExit(50ms))
            ;
        return occurrences(text) >= count;
    }
    int occurrences(const std::string& text)
    {
        const std::string all = output();
        int n = 0;
        for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++n;
        return n;
    }

    // SIGTERM: the runs under way finish and are archived, the hub exits 0.
    void stop()
    {
        m_hub->signalAndWait(SIGTERM, 0ms);
        ASSERT_TRUE(waitFor("stopped")) << output();
        EXPECT_EQ(m_hub->waitForExit(10s), 0);
        EXPECT_EQ(occurrences("test a: run on"), occurrences("test a: run finished"));
    }

    // Every run the hub finished is archived: each result list against the archive's
    // per-second rows, through export in both formats. Returns the number of runs.
    int checkArchive(const std::string& archive)
    {
        EXPECT_TRUE(
            QDir(QString::fromStdString(path("out/pending"))).entryList(QDir::Files).isEmpty());
        const QStringList runs =
            QDir(QString::fromStdString(path("out/archived"))).entryList(QDir::Files);
        EXPECT_EQ(runs.size(), occurrences(": run finished"));
        // (run start, device, flow) -> frames, as the endpoints reported them
        std::map<std::string, std::uint64_t> expected;
        for (const QString& name : runs) {
            std::ifstream file(path("out/archived/" + name.toStdString()));
            const auto parsed = testsupport::parsed(std::string(
                std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
            EXPECT_TRUE(parsed) << name.toStdString();
            const Json::Value results = parsed.value_or(Json::Value());
            for (const Json::Value& endpoint : results["endpoints"])
                for (const Json::Value& scenario : endpoint["resultlist"])
                    for (const Json::Value& flow : scenario["flows"]) {
                        std::uint64_t& frames =
                            expected[results["runstartutc"].asString().substr(0, 23) + " " +
                                     endpoint["deviceid"].asString() + " " +
                                     std::to_string(flow["id"].asInt())];
                        for (const Json::Value& count : flow["packetcountarray"])
                            frames += count.asUInt64();
                    }
        }
        for (const std::string format : {"csv", "ndjson"}) {
            std::istringstream lines(
                run(ROAMNODE_HUB_BINARY, {"export", "--archive", archive, "--format", format})
                    .value_or(""));
            std::map<std::string, std::uint64_t> exported;
            std::vector<std::string> names; // the CSV header's: the NDJSON keys
            for (std::string line; std::getline(lines, line);) {
                Json::Value r; // one record
                std::istringstream fields(line);
                std::string field;
                if (format == "ndjson") {
                    r = testsupport::parsed(line).value_or(Json::Value());
                    for (const char* number : {"schema_version", "flow_id", "packets"})
                        EXPECT_TRUE(r[number].isIntegral()) << number << ": " << line;
                } else if (names.empty()) {
                    while (std::getline(fields, field, ','))
                        names.push_back(field);
                    continue;
                }
                for (std::size_t i = 0; format == "csv" && i < names.size(); ++i)
                    r[names[i]] = std::getline(fields, field, ',') ? field : "";
                EXPECT_EQ(r["schema_version"].asString(), "1") << line;
                // "2026-12-07T10:00:01.250Z" against results.json's "2026-12-07 10:00:01.250 UTC"
                std::string start = r["run_start_utc"].asString();
                start.resize(std::max<std::size_t>(start.size(), 11));
                start[10] = ' ';
                exported[start.substr(0, 23) + " " + r["device_id"].asString() + " " +
                         r["flow_id"].asString()] +=
                    std::strtoull(r["packets"].asString().c_str(), nullptr, 10);
            }
            EXPECT_EQ(exported, expected) << format;
        }
        return runs.size();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ChildProcess> m_hub;
    std::vector<std::unique_ptr<ChildProcess>> m_endpoints;
    std::vector<std::string> m_ids;
};

TEST_F(HubServeCampaign, SqliteHoldsEveryRunWholeAndMetricsSighupSigtermBehave)
{
    const std::string archive = path("results.db");
    startCampaign(archive);
    ASSERT_TRUE(waitFor("test a: run finished")) << output();
    ASSERT_TRUE(waitFor("test b: run finished")) << output();
    EXPECT_GT(occurrences("test b: endpoint ghost absent"), 0);

    // The last run's figures on the /metrics page as Prometheus' own parser (Debian's
    // python3-prometheus-client, hence /usr/bin) reads it: one "name endpoint value" per sample.
    const std::string text = output();
    const auto at = text.find("metrics on http://") + 11;
    const std::string samples =
        run("/usr/bin/python3",
            {"-c",
             "import sys, urllib.request\nfrom prometheus_client.parser import "
             "text_string_to_metric_families as parse\npage = urllib.request.urlopen("
             "sys.argv[1], timeout=5).read().decode()\nfor f in parse(page):\n  for s in "
             "f.samples: print(s.name, s.labels.get('endpoint_id', '-'), s.value)",
             text.substr(at, text.find("/metrics", at) + 8 - at)})
            .value_or("");
    EXPECT_NE(samples.find("roamnode_flow_throughput_mbps " + m_ids[0]), std::string::npos)
        << samples;
    EXPECT_NE(samples.find("roamnode_hub_endpoints_registered - 2.0"), std::string::npos)
        << samples;
    EXPECT_EQ(samples.find("roamnode_hub_runs_total - 0.0"), std::string::npos) << samples;

    // A broken schedule changes nothing; a good one replaces the tests.
    std::ofstream(path("schedule.json")) << "{\"tests\": [";
    m_hub->signalAndWait(SIGHUP, 0ms);
    ASSERT_TRUE(waitFor("not changed")) << output();
    writeSchedule("b2");
    m_hub->signalAndWait(SIGHUP, 0ms);
    ASSERT_TRUE(waitFor("read again: 2 test(s)")) << output();

    ASSERT_TRUE(waitFor("test a: run on", 2)) << output();
    stop();
    EXPECT_GT(occurrences("stopping: waiting for"), 0) << output();
    EXPECT_TRUE(waitFor("test b2: run finished", 1, 0ms)) << output();
    EXPECT_GE(checkArchive(archive), 4);
}

TEST_F(HubServeCampaign, PostgresLosesNoRunWhileItsDatabaseIsDown)
{
    PostgresCluster cluster;
    std::string why;
    if (!cluster.start(why)) {
        ASSERT_TRUE(!why.empty()) << "the PostgreSQL cluster did not start";
        GTEST_SKIP() << why;
    }
    startCampaign(cluster.url());
    ASSERT_TRUE(waitFor("run(s) written to")) << output();
    ASSERT_TRUE(cluster.control("stop"));
    // The run refused is the first run's other test, or one 10 s later.
    ASSERT_TRUE(waitFor("the archive did not take a run")) << output();
    // Back, and the hub stops: the runs kept meanwhile go to the database on the way out.
    ASSERT_TRUE(cluster.control("start"));
    stop();
    EXPECT_GE(checkArchive(cluster.url()), 2);
}

} // namespace
