#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

// Catches the qWarning() texts of any thread while it lives.
class WarningCapture
{
public:
    WarningCapture();
    ~WarningCapture();
    std::vector<std::string> texts();
    bool waitFor(const std::string& text,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
};

} // namespace testsupport
