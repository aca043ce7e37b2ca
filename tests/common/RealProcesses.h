#pragma once

// The real endpoint and the real hub tool as child processes on loopback, for the tests that
// run them end to end. Owned by the test's thread. The test's target defines ROAMNODE_BINARY and
// ROAMNODE_HUB_BINARY.
#include "ChildProcess.h"

#include <QDir>

#include <functional>
#include <memory>
#include <string>

namespace testsupport {

using namespace std::chrono_literals;

// The endpoint at home in `home` (its own device id, log and working folder), with `arguments`.
inline std::unique_ptr<ChildProcess> startEndpoint(const std::string& home,
                                                   const std::vector<std::string>& arguments)
{
    QDir().mkpath(QString::fromStdString(home + "/data"));
    return std::make_unique<ChildProcess>(ROAMNODE_BINARY, arguments, homeIn(home), home);
}

// The device id of the endpoint at home in `home` (made on the first call); "" on a failure.
inline std::string deviceId(const std::string& home)
{
    const auto endpoint = startEndpoint(home, {"--device-id"});
    if (endpoint->waitForExit(30s) != 0)
        return {};
    const std::string& out = endpoint->outText();
    return out.substr(0, out.find('\n'));
}

// roamnode-hub on loopback `port` (0: the system's choice) with `arguments`, which hold the
// requests it sends, one per exchange.
inline std::unique_ptr<ChildProcess> startHub(std::uint16_t port,
                                              std::vector<std::string> arguments)
{
    arguments.insert(arguments.end(), {"--port", std::to_string(port), "--bind", "127.0.0.1"});
    return std::make_unique<ChildProcess>(ROAMNODE_HUB_BINARY, arguments);
}

// The next reply the hub printed that `accept` takes, without "reply "; "" at the timeout.
inline std::string nextReply(
    ChildProcess& hub, std::chrono::milliseconds timeout,
    const std::function<bool(const std::string&)>& accept = [](const std::string&) { return true; })
{
    const auto line = hub.waitForLine(
        [&](const std::string& l) { return l.rfind("reply ", 0) == 0 && accept(l.substr(6)); },
        timeout);
    return line ? line->substr(6) : std::string();
}

// Whether standard output or error said `text` within `timeout`.
inline bool says(ChildProcess& process, const std::string& text,
                 std::chrono::milliseconds timeout = 15s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (bool ended = false;; ended = process.waitForExit(100ms).has_value()) { // reads meanwhile
        if (process.allOutput().find(text) != std::string::npos)
            return true;
        if (ended || std::chrono::steady_clock::now() >= deadline)
            return false;
    }
}

} // namespace testsupport
