#pragma once

#include <QProcess>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// One real program run by a test, on QProcess: its standard output read into lines, every wait
// bounded. The destructor asks it to stop (SIGTERM), kills it when it does not within three
// seconds, and reaps it. Owned by the test's thread; the waits block, no event loop needed.
// RealProcesses.h starts the endpoint and the hub tool with it.
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

    bool started() const { return m_started; }

    // The next standard output line, after those earlier waits returned, that `accept` takes
    // (or that contains `text`); nothing when none came within `timeout` or the program ended.
    std::optional<std::string> waitForLine(const Accept& accept, std::chrono::milliseconds timeout);
    std::optional<std::string> waitForLine(const std::string& text,
                                           std::chrono::milliseconds timeout);

    // The exit status once the program ended within `timeout`; a death by signal N gives -N.
    // Nothing while it still runs.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    // Sends the signal and waits (bounded) for the exit.
    std::optional<int> signalAndWait(int signalNumber, std::chrono::milliseconds timeout);

    // Everything read so far: standard output and standard error as raw text.
    const std::string& outText();
    const std::string& errText();
    // Both, for failure messages.
    std::string allOutput();

private:
    void readAvailable();

    QProcess m_process;
    bool m_started = false;
    std::string m_outText;
    std::string m_errText;
    std::size_t m_split = 0;
    // Standard output as lines; a carriage-return rewrite keeps the text after the last '\r'.
    std::vector<std::string> m_lines;
    std::size_t m_next = 0;
};

// The port in the line our tools print once they listen, "listening on [ADDRESS:]PORT"; 0 when
// no such line came within `timeout`.
int listeningPort(ChildProcess& tool, std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace testsupport
