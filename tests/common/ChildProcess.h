#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

// One real program run by a test: started with fork/exec, its standard output and error read
// through pipes into lines, every wait bounded. The destructor asks it to stop (SIGTERM), kills
// it when it does not within three seconds, and reaps it. Owned by the test's thread; no Qt
// event loop needed.
//
//     testsupport::ChildProcess hub(ROAMNODE_HUB_BINARY, {"--port", "0"});
//     const auto listening = hub.waitForLine("listening on ", 5s);
//     ASSERT_TRUE(listening) << hub.allOutput();
//     ...
//     EXPECT_EQ(hub.waitForExit(5s), 0) << hub.allOutput();
namespace testsupport {

using Environment = std::vector<std::pair<std::string, std::string>>;

// HOME, XDG_DATA_HOME and XDG_CONFIG_HOME inside `folder` and an offscreen Qt: the endpoint's
// device id, log file and settings stay in the test's own folder.
Environment homeIn(const std::string& folder);

class ChildProcess
{
public:
    using Accept = std::function<bool(const std::string& line)>;

    // `environment` is added to (and overrides) the test's own; `workDir` empty: the test's.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const Environment& environment = {}, const std::string& workDir = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0; }

    // The next standard output line, after those earlier waits returned, that `accept` takes
    // (or that contains `text`); nothing when none came within `timeout` or the output ended.
    std::optional<std::string> waitForLine(const Accept& accept, std::chrono::milliseconds timeout);
    std::optional<std::string> waitForLine(const std::string& text,
                                           std::chrono::milliseconds timeout);

    // The exit status once the program ended by itself within `timeout`; a death by signal N
    // gives -N. Nothing while it still runs. Reads the pipes meanwhile, so a talkative program
    // never blocks on a full pipe.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    // Sends the signal and waits (bounded) for the exit.
    std::optional<int> signalAndWait(int signalNumber, std::chrono::milliseconds timeout);
    // SIGKILL and reap, at once.
    void kill();

    // Everything read so far: standard output as lines (a carriage-return rewrite keeps the
    // text after the last '\r') and as raw text, standard error as raw text.
    const std::vector<std::string>& lines();
    const std::string& outText();
    const std::string& errText();
    // Both, for failure messages.
    std::string allOutput();

private:
    // Reads what comes within `timeout`; false once both pipes are closed.
    bool readSome(std::chrono::milliseconds timeout);
    void readAvailable();
    void splitLines();
    bool reap(bool block);

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::optional<int> m_status;
    std::string m_outText;
    std::string m_errText;
    std::size_t m_split = 0;
    std::vector<std::string> m_lines;
    std::size_t m_next = 0;
};

// The port in the line our tools print once they listen, "listening on [ADDRESS:]PORT"; 0 when
// no such line came within `timeout`.
int listeningPort(ChildProcess& tool, std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace testsupport
