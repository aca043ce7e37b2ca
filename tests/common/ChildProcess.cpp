#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <map>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Environment homeIn(const std::string& folder)
{
    return {{"HOME", folder},
            {"XDG_DATA_HOME", folder + "/data"},
            {"XDG_CONFIG_HOME", folder + "/config"},
            {"QT_QPA_PLATFORM", "offscreen"}};
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const Environment& environment, const std::string& workDir)
{
    // Everything the child needs is built before the fork: after it, only exec-safe calls.
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : environment)
        variables[name] = value;
    std::vector<std::string> envText;
    for (const auto& [name, value] : variables)
        envText.push_back(name + "=" + value);
    std::vector<std::string> argText = {program};
    argText.insert(argText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv, envp;
    for (std::string& text : argText)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    for (std::string& text : envText)
        envp.push_back(text.data());
    envp.push_back(nullptr);

    // Close-on-exec, so that a second child does not inherit this one's pipes and hold them open.
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    m_pid = fork();
    if (m_pid == 0) {
        const int nothing = open("/dev/null", O_RDONLY);
        dup2(nothing, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        if (!workDir.empty() && chdir(workDir.c_str()) != 0)
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    m_out = out[0];
    m_err = err[0];
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0 && !m_status) {
        ::kill(m_pid, SIGTERM);
        if (!waitForExit(3s))
            kill();
    }
    if (m_out >= 0)
        close(m_out);
    if (m_err >= 0)
        close(m_err);
}

bool ChildProcess::readSome(std::chrono::milliseconds timeout)
{
    pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
    const int ready = poll(fds, 2, static_cast<int>(timeout.count()));
    if (ready < 0)
        return errno == EINTR;
    std::string* texts[2] = {&m_outText, &m_errText};
    int* ends[2] = {&m_out, &m_err};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0)
            continue;
        char buffer[8192];
        const ssize_t n = read(*ends[i], buffer, sizeof buffer);
        if (n > 0) {
            texts[i]->append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            close(*ends[i]);
            *ends[i] = -1;
        }
    }
    splitLines();
    return m_out >= 0 || m_err >= 0;
}

void ChildProcess::splitLines()
{
    for (std::size_t end; (end = m_outText.find('\n', m_split)) != std::string::npos;
         m_split = end + 1) {
        std::string line = m_outText.substr(m_split, end - m_split);
        const auto cr = line.find_last_of('\r');
        if (cr != std::string::npos && cr + 1 < line.size())
            line.erase(0, cr + 1);
        m_lines.push_back(line);
    }
}

std::optional<std::string> ChildProcess::waitForLine(const Accept& accept,
                                                     std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        while (m_next < m_lines.size()) {
            const std::string& line = m_lines[m_next++];
            if (accept(line))
                return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        // Once both pipes are closed no line can come; the last read's lines were checked above.
        if (left <= 0ms || (m_out < 0 && m_err < 0))
            return std::nullopt;
        readSome(std::min(left, 50ms));
    }
}

std::optional<std::string> ChildProcess::waitForLine(const std::string& text,
                                                     std::chrono::milliseconds timeout)
{
    return waitForLine(
        [&text](const std::string& line) { return line.find(text) != std::string::npos; }, timeout);
}

bool ChildProcess::reap(bool block)
{
    if (m_pid <= 0 || m_status)
        return m_status.has_value();
    int status = 0;
    const pid_t done = waitpid(m_pid, &status, block ? 0 : WNOHANG);
    if (done != m_pid)
        return false;
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return true;
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    // With both pipes closed, poll still waits its 20 ms: no busy loop.
    while (!reap(false) && Clock::now() < deadline)
        readSome(20ms);
    // What it wrote before the end; a grandchild holding the pipes gets half a second.
    const auto drain = Clock::now() + 500ms;
    while (m_status && (m_out >= 0 || m_err >= 0) && Clock::now() < drain && readSome(20ms)) {
    }
    return m_status;
}

std::optional<int> ChildProcess::signalAndWait(int signalNumber, std::chrono::milliseconds timeout)
{
    if (m_pid > 0 && !m_status)
        ::kill(m_pid, signalNumber);
    return waitForExit(timeout);
}

void ChildProcess::kill()
{
    if (m_pid > 0 && !m_status) {
        ::kill(m_pid, SIGKILL);
        reap(true);
    }
}

void ChildProcess::readAvailable()
{
    for (std::size_t before = 0; before != m_outText.size() + m_errText.size();) {
        before = m_outText.size() + m_errText.size();
        readSome(0ms);
    }
}

const std::vector<std::string>& ChildProcess::lines()
{
    readAvailable();
    return m_lines;
}

const std::string& ChildProcess::outText()
{
    readAvailable();
    return m_outText;
}

const std::string& ChildProcess::errText()
{
    readAvailable();
    return m_errText;
}

std::string ChildProcess::allOutput()
{
    readAvailable();
    return m_outText + "[stderr] " + m_errText;
}

int listeningPort(ChildProcess& tool, std::chrono::milliseconds timeout)
{
    const auto line = tool.waitForLine("listening on ", timeout);
    return line ? std::atoi(line->c_str() + line->find_last_of(": ") + 1) : 0;
}

} // namespace testsupport
