// The real program against the real hub tool, each in its own process, on loopback.

#include "FakeHub.h"
#include "HeartbeatFrame.h"
#include "TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

// A child process whose standard output is collected line by line. Asked to stop (SIGTERM) and
// then, if need be, killed when the object goes away.
class ChildProcess
{
public:
    ChildProcess(const QString& program, const QStringList& arguments, const QString& workDir)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The device id database and the log file stay inside the test's directory.
        environment.insert("HOME", workDir);
        environment.insert("XDG_DATA_HOME", workDir + "/data");
        environment.insert("XDG_CONFIG_HOME", workDir + "/config");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(workDir);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(program, arguments);
    }

    ~ChildProcess() { stop(); }

    bool started() { return m_process.waitForStarted(5000); }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    // True when the process ended by itself with exit status 0 within the time.
    bool exitedCleanly(int timeoutMs)
    {
        return m_process.waitForFinished(timeoutMs) &&
               m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }

    // Sends the signal and waits for the process to end; true when it ended normally with 0.
    bool endsCleanlyOn(int signalNumber, int timeoutMs)
    {
        ::kill(static_cast<pid_t>(m_process.processId()), signalNumber);
        return exitedCleanly(timeoutMs);
    }

    // Waits for a line (after those already seen by earlier waits) that contains the text.
    bool waitForLine(const std::string& text, int timeoutMs, std::string* found = nullptr)
    {
        const bool ok = testsupport::waitUntil(
            [&]() {
                collect();
                for (; m_next < m_lines.size(); ++m_next) {
                    if (m_lines[m_next].find(text) != std::string::npos) {
                        if (found)
                            *found = m_lines[m_next];
                        ++m_next;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        return ok;
    }

    std::string allOutput()
    {
        collect();
        std::string text;
        for (const auto& line : m_lines)
            text += line + "\n";
        return text + "[stderr] " + m_process.readAllStandardError().toStdString();
    }

private:
    void collect()
    {
        m_pending += m_process.readAllStandardOutput().toStdString();
        std::size_t end;
        while ((end = m_pending.find('\n')) != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            // The console rewrites its line with carriage returns on a terminal; on a pipe each
            // update is a line of its own, but stay tolerant.
            const std::size_t cr = line.find_last_of('\r');
            if (cr != std::string::npos && cr + 1 < line.size())
                line = line.substr(cr + 1);
            m_lines.push_back(line);
            m_pending.erase(0, end + 1);
        }
    }

    QProcess m_process;
    std::string m_pending;
    std::vector<std::string> m_lines;
    std::size_t m_next = 0;
};

QStringList hubArguments(const std::string& port, const std::vector<std::string>& requests)
{
    QStringList arguments{"--port", QString::fromStdString(port), "--bind", "127.0.0.1"};
    for (const auto& request : requests)
        arguments << QString::fromStdString(request);
    return arguments;
}

std::string portOf(const std::string& listeningLine)
{
    return listeningLine.substr(listeningLine.rfind(':') + 1);
}

// One exchange as an endpoint does it, with blocking calls: hello out, request in, reply out.
// Returns the request's payload, or "<failed>".
std::string exchangeWithHub(std::uint16_t port, const std::string& hello, const std::string& reply)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    std::string request = "<failed>";
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string helloFrame = roamnode::frameMessage(hello);
        const std::string replyFrame = roamnode::frameMessage(reply);
        if (::send(fd, helloFrame.data(), helloFrame.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(helloFrame.size()) &&
            readFrameFrom(fd, 3000, request)) {
            ::send(fd, replyFrame.data(), replyFrame.size(), MSG_NOSIGNAL);
        }
    }
    ::close(fd);
    return request;
}

} // namespace

// With --timings each reply line is followed by "exchange-ns N", the nanoseconds from the
// request's write to the reply's read as the hub sees them.
TEST(HubTool, HandsOutRequestsInOrderThenNopAndEndsByItself)
{
    QTemporaryDir workDir;
    ASSERT_TRUE(workDir.isValid());
    const std::string requestFile = workDir.filePath("requests.txt").toStdString();
    {
        std::ofstream out(requestFile);
        out << "# set first, then read back\n\n"
            << "{\"command\": \"set\", \"heartbeatinterval\": 2000000000}\n";
    }
    ChildProcess hub(ROAMNODE_HUB_BINARY,
                     {"--port", "0", "--bind", "127.0.0.1", "--requests",
                      QString::fromStdString(requestFile), "--exit-after-replies", "3",
                      "--timings", "{\"command\": \"get\", \"ssid\": 1}"},
                     workDir.path());
    ASSERT_TRUE(hub.started());
    std::string listening;
    ASSERT_TRUE(hub.waitForLine("listening on 127.0.0.1:", 5000, &listening)) << hub.allOutput();
    const auto port = static_cast<std::uint16_t>(std::stoi(portOf(listening)));

    const auto firstExchange = std::chrono::steady_clock::now();
    EXPECT_EQ(exchangeWithHub(port, "{\"heartbeatcount\": 0}", "{\"status\": \"success\"}"),
              "{\"command\": \"get\", \"ssid\": 1}");
    EXPECT_EQ(exchangeWithHub(port, "{\"heartbeatcount\": 1}", "{\"status\": \"success\"}"),
              "{\"command\": \"set\", \"heartbeatinterval\": 2000000000}");
    EXPECT_EQ(exchangeWithHub(port, "{\"heartbeatcount\": 2}", "{\"line\": \"a\\nb\"}"),
              "{\"command\": \"nop\"}");

    ASSERT_TRUE(hub.exitedCleanly(5000)) << hub.allOutput();
    // Every timed span lies within the three exchanges, and no exchange over loopback takes less
    // than a microsecond: a count in another unit or from another clock falls outside.
    const auto spanNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now() - firstExchange)
                            .count();
    const std::regex timing("exchange-ns ([0-9]+)");
    std::string line;
    for (const std::string hello : {"0", "1", "2"}) {
        ASSERT_TRUE(hub.waitForLine("hello {\"heartbeatcount\": " + hello + "}", 1000))
            << hub.allOutput();
        ASSERT_TRUE(hub.waitForLine("reply ", 1000, &line)) << hub.allOutput();
        if (hello == "2")
            EXPECT_EQ(line, "reply {\"line\": \"a\\nb\"}");
        else
            EXPECT_EQ(line, "reply {\"status\": \"success\"}");
        // The very next line.
        ASSERT_TRUE(hub.waitForLine("", 1000, &line)) << hub.allOutput();
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, timing)) << line;
        const long long ns = std::stoll(match[1]);
        EXPECT_GT(ns, 1000) << line;
        EXPECT_LT(ns, spanNs) << line;
    }
}

TEST(HubTool, RejectsBadArguments)
{
    QTemporaryDir workDir;
    ChildProcess hub(ROAMNODE_HUB_BINARY, {"--port", "70000"}, workDir.path());
    ASSERT_TRUE(hub.started());
    EXPECT_FALSE(hub.exitedCleanly(5000));
    ChildProcess missingFile(ROAMNODE_HUB_BINARY, {"--requests", "/nonexistent/requests.txt"},
                             workDir.path());
    ASSERT_TRUE(missingFile.started());
    EXPECT_FALSE(missingFile.exitedCleanly(5000));
}

TEST(EndToEnd, RegistersAnswersAndRegistersAgainAfterTheHubReturns)
{
    QTemporaryDir workDir;
    ASSERT_TRUE(workDir.isValid());

    auto hub = std::make_unique<ChildProcess>(
        ROAMNODE_HUB_BINARY,
        hubArguments("0", {"{\"command\": \"get\", \"app-version\": 1, \"capabilities\": 1, "
                           "\"heartbeatinterval\": 1}"}),
        workDir.path());
    ASSERT_TRUE(hub->started());
    std::string listening;
    ASSERT_TRUE(hub->waitForLine("listening on 127.0.0.1:", 5000, &listening)) << hub->allOutput();
    const std::string port = portOf(listening);

    ChildProcess endpoint(ROAMNODE_BINARY, {QString::fromStdString("127.0.0.1:" + port)},
                          workDir.path());
    ASSERT_TRUE(endpoint.started());

    std::string hello;
    ASSERT_TRUE(hub->waitForLine("hello ", 10000, &hello)) << hub->allOutput();
    EXPECT_NE(hello.find("\"heartbeatcount\": 0, \"state\": \"try-contact-rvp\""),
              std::string::npos)
        << hello;

    std::string reply;
    ASSERT_TRUE(hub->waitForLine("reply ", 10000, &reply)) << hub->allOutput();
    EXPECT_EQ(reply,
              "reply {\"app-version\": \"2.12.3.0\", \"capabilities\": {\"ipv4\": true, "
              "\"streamv4\": 1, \"triggerv4\": 1, \"tcpv4\": 1, \"ipv6\": true, \"streamv6\": 1, "
              "\"triggerv6\": 1, \"tcpv6\": 1, \"latency\": {\"stream\": true, \"trigger\": "
              "[\"average\"]}, \"tcprestart\": true, \"monitor\": {\"networkinfo\": true}}, "
              "\"heartbeatinterval\": 1000000000, \"status\": \"success\"}");
    ASSERT_TRUE(endpoint.waitForLine("Registered", 10000)) << endpoint.allOutput();
    ASSERT_TRUE(hub->waitForLine("\"state\": \"registered\"", 5000)) << hub->allOutput();

    // The hub goes away: two failed exchanges later the endpoint is contacting again.
    hub->kill();
    hub.reset();
    ASSERT_TRUE(endpoint.waitForLine("Contacting", 8000)) << endpoint.allOutput();

    // A new hub on the same port: registered again.
    hub =
        std::make_unique<ChildProcess>(ROAMNODE_HUB_BINARY, hubArguments(port, {}), workDir.path());
    ASSERT_TRUE(hub->started());
    ASSERT_TRUE(hub->waitForLine("listening on 127.0.0.1:" + port, 5000)) << hub->allOutput();
    ASSERT_TRUE(hub->waitForLine("reply {\"status\": \"success\"}", 10000)) << hub->allOutput();
    ASSERT_TRUE(endpoint.waitForLine("Registered", 10000)) << endpoint.allOutput();
}

TEST(EndToEnd, StopSignalsWriteTheRecordedLogAndExitZero)
{
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        QTemporaryDir workDir;
        ASSERT_TRUE(workDir.isValid());
        // The hub lowers the log threshold, then asks for a variable whose request is logged.
        ChildProcess hub(ROAMNODE_HUB_BINARY,
                         hubArguments("0", {"{\"command\": \"set\", \"debuglevel\": \"debug\"}",
                                            "{\"command\": \"get\", \"batterylevel\": \"\"}"}),
                         workDir.path());
        ASSERT_TRUE(hub.started());
        std::string listening;
        ASSERT_TRUE(hub.waitForLine("listening on 127.0.0.1:", 5000, &listening))
            << hub.allOutput();
        ChildProcess endpoint(ROAMNODE_BINARY,
                              {QString::fromStdString("127.0.0.1:" + portOf(listening))},
                              workDir.path());
        ASSERT_TRUE(endpoint.started());
        ASSERT_TRUE(hub.waitForLine("reply {\"status\": \"success\"}", 10000)) << hub.allOutput();
        ASSERT_TRUE(hub.waitForLine("\"batterylevel\": -1", 10000)) << hub.allOutput();

        // Fewer than 25 entries: nothing is on disk until the stop writes it.
        ASSERT_TRUE(endpoint.endsCleanlyOn(signalNumber, 5000)) << endpoint.allOutput();
        std::ifstream file(workDir.filePath("pxlog.txt").toStdString());
        std::stringstream log;
        log << file.rdbuf();
        EXPECT_NE(log.str().find("Received heartbeat request for \"BatteryLevel\" parameter"),
                  std::string::npos)
            << log.str();
    }
}
