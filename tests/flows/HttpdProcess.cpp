#include "HttpdProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;
const std::string kListening = "listening on ";
} // namespace

HttpdProcess::HttpdProcess(const std::vector<std::string>& extraArguments)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return;
    }
    std::vector<std::string> arguments = {ROAMNODE_HTTPD, "--port", "0"};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    m_pid = fork();
    if (m_pid == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    m_output = pipeEnds[0];
    if (m_pid < 0) {
        return;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (m_port == 0 && Clock::now() < deadline) {
        if (!readSome(std::chrono::milliseconds(100))) {
            break;
        }
        for (const std::string& line : m_lines) {
            if (line.compare(0, kListening.size(), kListening) == 0) {
                m_port = static_cast<std::uint16_t>(std::atoi(line.c_str() + kListening.size()));
            }
        }
    }
}

HttpdProcess::~HttpdProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
    if (m_output >= 0) {
        close(m_output);
    }
}

bool HttpdProcess::readSome(std::chrono::milliseconds timeout)
{
    pollfd descriptor{m_output, POLLIN, 0};
    const int ready = poll(&descriptor, 1, static_cast<int>(timeout.count()));
    if (ready < 0) {
        return errno == EINTR;
    }
    if (ready == 0) {
        return true;
    }
    char buffer[4096];
    const ssize_t n = read(m_output, buffer, sizeof buffer);
    if (n <= 0) {
        return false;
    }
    m_partial.append(buffer, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = m_partial.find('\n')) != std::string::npos) {
        m_lines.push_back(m_partial.substr(0, end));
        m_partial.erase(0, end + 1);
    }
    return true;
}

bool HttpdProcess::waitForLine(const std::string& line, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (std::find(m_lines.begin(), m_lines.end(), line) != m_lines.end()) {
            return true;
        }
        if (Clock::now() >= deadline || !readSome(std::chrono::milliseconds(50))) {
            return false;
        }
    }
}

bool HttpdProcess::waitForLines(const std::string& text, std::size_t count,
                                std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto found = std::count_if(m_lines.begin(), m_lines.end(), [&](const auto& l) {
            return l.find(text) != std::string::npos;
        });
        if (static_cast<std::size_t>(found) >= count) {
            return true;
        }
        if (Clock::now() >= deadline || !readSome(std::chrono::milliseconds(50))) {
            return false;
        }
    }
}
