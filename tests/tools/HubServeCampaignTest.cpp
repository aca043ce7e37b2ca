// `roamnode-hub serve` for a short campaign against two real endpoints on loopback: a schedule
// of two tests every 10 s, the archive checked against every run's result list, export as CSV
// and NDJSON, /metrics through Prometheus' own parser, SIGHUP and SIGTERM. The PostgreSQL case
// stops its database in the middle and expects every run in it at the end.

#include <json/reader.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Kills what is still running when the test ends.
struct Processes
{
    std::vector<std::unique_ptr<QProcess>> all;
    QProcess&
    start(const QString& program, const QStringList& arguments,
          const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        all.push_back(std::make_unique<QProcess>());
        all.back()->setProcessEnvironment(environment);
        all.back()->start(program, arguments);
        return *all.back();
    }
    ~Processes()
    {
        for (auto& p : all)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
    }
};

QProcessEnvironment endpointEnvironment(const QString& home)
{
    QDir().mkpath(home + "/data");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home);
    environment.insert("XDG_DATA_HOME", home + "/data");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    return environment;
}

// Output of a command that is expected to end within a minute; empty on failure.
QByteArray run(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
               const QByteArray& input = {}, bool* succeeded = nullptr, bool reportFailure = true)
{
    if (succeeded)
        *succeeded = false;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        if (reportFailure)
            ADD_FAILURE() << program.toStdString() << " " << arguments.join(' ').toStdString()
                          << ": " << process.readAllStandardError().toStdString();
        return {};
    }
    if (succeeded)
        *succeeded = true;
    return process.readAllStandardOutput();
}

int freeTcpPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

// A PostgreSQL cluster of its own in a temporary folder, run by `nobody` (initdb refuses root).
class PostgresCluster
{
public:
    bool start(std::string& why)
    {
        const fs::path versions("/usr/lib/postgresql");
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(versions, ec))
            if (fs::exists(entry.path() / "bin/initdb"))
                m_bin = QString::fromStdString((entry.path() / "bin").string());
        const passwd* nobody = getpwnam("nobody");
        if (m_bin.isEmpty() || geteuid() != 0 || !nobody) {
            why = "needs PostgreSQL (/usr/lib/postgresql/*/bin) and root";
            return false;
        }
        char pattern[] = "/tmp/roamnode-pg-XXXXXX";
        m_dir = QString::fromLocal8Bit(mkdtemp(pattern));
        if (m_dir.isEmpty() || chown(pattern, nobody->pw_uid, nobody->pw_gid) != 0)
            return false;
        // The C locale: a test machine's LANG may name a locale it has not generated.
        if (!as({m_bin + "/initdb", "-D", m_dir + "/data", "-U", "roamnode", "-A", "trust",
                 "--no-locale", "-E", "UTF8"}))
            return false;
        // Another test's connection may take the free port before the server binds it.
        for (int attempt = 0; attempt < 3; ++attempt) {
            m_port = freeTcpPort();
            if (control("start", attempt == 2))
                return true;
        }
        return false;
    }
    bool control(const char* what, bool reportFailure = true)
    {
        const bool ok =
            as({m_bin + "/pg_ctl", "-D", m_dir + "/data", "-l", m_dir + "/log", "-w", "-m", "fast",
                "-o",
                "-p " + QString::number(m_port) + " -k " + m_dir + " -c listen_addresses=127.0.0.1",
                what},
               reportFailure);
        QFile log(m_dir + "/log");
        if (!ok && reportFailure && log.open(QIODevice::ReadOnly))
            ADD_FAILURE() << "the server's log:\n" << log.readAll().toStdString();
        return ok;
    }
    QString url() const
    {
        return "postgresql://roamnode@127.0.0.1:" + QString::number(m_port) + "/postgres";
    }
    ~PostgresCluster()
    {
        if (m_dir.isEmpty())
            return;
        control("stop");
        std::error_code ec;
        fs::remove_all(m_dir.toStdString(), ec);
    }

private:
    // Whether the command succeeded; run() reports a failure unless told not to.
    bool as(const QStringList& command, bool reportFailure = true)
    {
        bool ok = false;
        run("runuser", QStringList{"-u", "nobody", "--"} + command,
            QProcessEnvironment::systemEnvironment(), {}, &ok, reportFailure);
        return ok;
    }
    QString m_bin, m_dir;
    int m_port = 0;
};

class HubServeCampaign : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override
    {
        if (HasFailure())
            std::cerr << "the hub said:\n" << m_output.toStdString();
    }

    QString path(const QString& name) const { return m_dir.path() + "/" + name; }

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
        QFile file(path("schedule.json"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("// the campaign\n{\"tests\": [{\"name\": \"a\", \"endpoints\": [\"" +
                    m_ids[0] + "\"], \"every\": \"10s\", \"scenario\": " + scenario(5, 20) +
                    "}, {\"name\": \"" + secondTest + "\", \"endpoints\": [\"" + m_ids[1] +
                    "\", \"ghost\"], \"every\": \"10s\", \"scenario\": " + scenario(6, 30) + "}]}")
                       .c_str());
    }

    // Starts the hub with `archive` and both endpoints.
    void startCampaign(const QString& archive)
    {
        for (int i = 0; i < 2; ++i) {
            const QByteArray id = run(ROAMNODE_BINARY, {"--device-id"},
                                      endpointEnvironment(path("endpoint-" + QString::number(i))));
            m_ids.push_back(id.trimmed().toStdString());
            ASSERT_FALSE(m_ids.back().empty());
        }
        writeSchedule("b");
        m_hub = &m_processes.start(ROAMNODE_HUB_BINARY,
                                   {"serve", "--schedule", path("schedule.json"), "--archive",
                                    archive, "--out", path("out"), "--keep-archived", "--port", "0",
                                    "--bind", "127.0.0.1", "--metrics", "127.0.0.1:0", "--start-in",
                                    "1", "--clock-samples", "1"});
        ASSERT_TRUE(waitFor("schedule ")) << m_output.toStdString();
        const int at = m_output.indexOf("listening on 127.0.0.1:") + 23;
        const QString port = m_output.mid(at, m_output.indexOf('\n', at) - at);
        for (int i = 0; i < 2; ++i)
            m_processes.start(ROAMNODE_BINARY, {"127.0.0.1:" + port},
                              endpointEnvironment(path("endpoint-" + QString::number(i))));
    }

    // Waits (bounded) until the hub's output holds `text` `count` times.
    bool waitFor(const QByteArray& text, int count = 1, int ms = 40000)
    {
        QElapsedTimer timer;
        timer.start();
        while (m_output.count(text) < count && timer.elapsed() < ms) {
            m_hub->waitForReadyRead(200);
            m_output += m_hub->readAllStandardOutput() + m_hub->readAllStandardError();
        }
        return m_output.count(text) >= count;
    }

    QByteArray scrapeMetrics()
    {
        const int at = m_output.indexOf("metrics on http://") + 18;
        const QString where = m_output.mid(at, m_output.indexOf("/metrics", at) - at);
        QTcpSocket socket;
        socket.connectToHost("127.0.0.1", where.mid(where.lastIndexOf(':') + 1).toUShort());
        if (!socket.waitForConnected(5000))
            return {};
        socket.write("GET /metrics HTTP/1.1\r\nHost: hub\r\n\r\n");
        QByteArray response;
        while (socket.waitForReadyRead(5000))
            response += socket.readAll();
        return response.mid(response.indexOf("\r\n\r\n") + 4);
    }

    // SIGTERM: the runs under way finish and are archived, the hub exits 0.
    void stop()
    {
        kill(static_cast<pid_t>(m_hub->processId()), SIGTERM);
        ASSERT_TRUE(waitFor("stopped")) << m_output.toStdString();
        ASSERT_TRUE(m_hub->waitForFinished(10000));
        EXPECT_EQ(m_hub->exitCode(), 0);
        EXPECT_EQ(m_output.count("test a: run on"), m_output.count("test a: run finished"));
    }

    // Every run the hub finished is archived: each result list against the archive's
    // per-second rows, through export in both formats. Returns the number of runs.
    int checkArchive(const QString& archive)
    {
        EXPECT_TRUE(QDir(path("out/pending")).entryList(QDir::Files).isEmpty());
        EXPECT_EQ(QDir(path("out/archived")).entryList(QDir::Files).size(),
                  m_output.count(": run finished"));
        // (run start, device, flow) -> frames, as the endpoints reported them
        std::map<std::string, std::uint64_t> expected;
        const QStringList runs = QDir(path("out/archived")).entryList(QDir::Files);
        for (const QString& name : runs) {
            QFile file(path("out/archived/" + name));
            Json::Value results;
            EXPECT_TRUE(file.open(QIODevice::ReadOnly) &&
                        Json::Reader().parse(file.readAll().toStdString(), results));
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
        for (const char* format : {"csv", "ndjson"}) {
            const QList<QByteArray> lines =
                run(ROAMNODE_HUB_BINARY, {"export", "--archive", archive, "--format", format})
                    .split('\n');
            std::map<std::string, std::uint64_t> exported;
            for (const QByteArray& line : lines.mid(format[0] == 'c' ? 1 : 0)) {
                if (line.isEmpty())
                    continue;
                std::string start, device, flow, version;
                std::uint64_t packets = 0;
                if (format[0] == 'c') {
                    const QList<QByteArray> f = line.split(',');
                    version = f[0].toStdString();
                    start = f[2].toStdString();
                    device = f[5].toStdString();
                    flow = f[8].toStdString();
                    packets = f[12].toULongLong();
                } else {
                    Json::Value r;
                    EXPECT_TRUE(Json::Reader().parse(line.toStdString(), r));
                    version = std::to_string(r["schema_version"].asInt());
                    start = r["run_start_utc"].asString();
                    device = r["device_id"].asString();
                    flow = std::to_string(r["flow_id"].asInt());
                    packets = r["packets"].asUInt64();
                }
                EXPECT_EQ(version, "1");
                // "2026-12-07T10:00:01.250Z" against results.json's "2026-12-07 10:00:01.250 UTC"
                start[10] = ' ';
                exported[start.substr(0, 23) + " " + device + " " + flow] += packets;
            }
            EXPECT_EQ(exported, expected) << format;
        }
        return runs.size();
    }

    QTemporaryDir m_dir;
    Processes m_processes;
    QProcess* m_hub = nullptr;
    QByteArray m_output;
    std::vector<std::string> m_ids;
};

TEST_F(HubServeCampaign, SqliteHoldsEveryRunWholeAndMetricsSighupSigtermBehave)
{
    const QString archive = path("results.db");
    startCampaign(archive);
    ASSERT_TRUE(waitFor("test a: run finished")) << m_output.toStdString();
    ASSERT_TRUE(waitFor("test b: run finished")) << m_output.toStdString();
    EXPECT_NE(m_output.indexOf("test b: endpoint ghost absent"), -1);

    // Prometheus' own parser (Debian's python3-prometheus-client, hence /usr/bin) reads the
    // page; the last run's figures are on it.
    const QByteArray samples =
        run("/usr/bin/python3",
            {"-c", "import sys\nfrom prometheus_client.parser import "
                   "text_string_to_metric_families as parse\nfor f in parse(sys.stdin.read()):\n"
                   "  for s in f.samples: print(s.name, s.labels.get('endpoint_id', '-'), "
                   "s.value)"},
            QProcessEnvironment::systemEnvironment(), scrapeMetrics());
    EXPECT_NE(samples.indexOf(QByteArray("roamnode_flow_throughput_mbps ") + m_ids[0].c_str()), -1)
        << samples.toStdString();
    EXPECT_NE(samples.indexOf("roamnode_hub_endpoints_registered - 2.0"), -1)
        << samples.toStdString();
    EXPECT_EQ(samples.indexOf("roamnode_hub_runs_total - 0.0"), -1) << samples.toStdString();

    // A broken schedule changes nothing; a good one replaces the tests.
    QFile broken(path("schedule.json"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly) && broken.write("{\"tests\": [") > 0);
    broken.close();
    kill(static_cast<pid_t>(m_hub->processId()), SIGHUP);
    ASSERT_TRUE(waitFor("not changed")) << m_output.toStdString();
    writeSchedule("b2");
    kill(static_cast<pid_t>(m_hub->processId()), SIGHUP);
    ASSERT_TRUE(waitFor("read again: 2 test(s)")) << m_output.toStdString();

    ASSERT_TRUE(waitFor("test a: run on", 2)) << m_output.toStdString();
    stop();
    EXPECT_NE(m_output.indexOf("stopping: waiting for"), -1) << m_output.toStdString();
    EXPECT_TRUE(waitFor("test b2: run finished", 1, 0)) << m_output.toStdString();
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
    ASSERT_TRUE(waitFor("run(s) written to")) << m_output.toStdString();
    ASSERT_TRUE(cluster.control("stop"));
    // The run refused is the first run's other test, or one 10 s later.
    ASSERT_TRUE(waitFor("the archive did not take a run")) << m_output.toStdString();
    // Back, and the hub stops: the runs kept meanwhile go to the database on the way out.
    ASSERT_TRUE(cluster.control("start"));
    stop();
    EXPECT_GE(checkArchive(cluster.url()), 2);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
