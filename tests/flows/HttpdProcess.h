#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

// Runs roamnode-httpd as a child process on a system-chosen port and reads its output lines.
// The destructor ends it with SIGTERM and reaps it.
class HttpdProcess
{
public:
    explicit HttpdProcess(const std::vector<std::string>& extraArguments = {});
    ~HttpdProcess();

    bool started() const { return m_port != 0; }
    std::uint16_t port() const { return m_port; }
    // Reads output until a line equal to `line` appeared or the timeout passed.
    bool waitForLine(const std::string& line, std::chrono::milliseconds timeout);
    // Reads output until `count` lines containing `text` appeared or the timeout passed.
    bool waitForLines(const std::string& text, std::size_t count,
                      std::chrono::milliseconds timeout);
    const std::vector<std::string>& lines() const { return m_lines; }

private:
    // Reads what is available within `timeout`; false when nothing more can come.
    bool readSome(std::chrono::milliseconds timeout);

    pid_t m_pid = -1;
    int m_output = -1;
    std::uint16_t m_port = 0;
    std::string m_partial;
    std::vector<std::string> m_lines;
};
