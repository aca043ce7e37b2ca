#pragma once

// The real endpoint and the real hub tool as child processes on loopback, for the policy and TLS
// tests. Owned by the test's thread.
#include "ChildProcess.h"

#include <memory>
#include <string>

namespace safetytest {

using namespace std::chrono_literals;

// The endpoint at home in `home` (its own device id and log), with `arguments`.
inline std::unique_ptr<testsupport::ChildProcess>
startEndpoint(const std::string& home, const std::vector<std::string>& arguments)
{
    return std::make_unique<testsupport::ChildProcess>(ROAMNODE_BINARY, arguments,
                                                       testsupport::homeIn(home), home);
}

// The first line of standard output and error together that contains `text`, once one came
// within `timeout`; "" otherwise.
inline std::string waitForText(testsupport::ChildProcess& process, const std::string& text,
                               std::chrono::milliseconds timeout = 15s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (bool ended = false;; ended = process.waitForExit(100ms).has_value()) { // reads meanwhile
        const std::string all = process.errText() + "\n" + process.outText();
        const auto at = all.find(text);
        if (at != std::string::npos) {
            const auto start = all.rfind('\n', at) + 1;
            return all.substr(start, all.find('\n', at) - start);
        }
        if (ended || std::chrono::steady_clock::now() >= deadline)
            return {};
    }
}

} // namespace safetytest
