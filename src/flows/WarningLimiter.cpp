#include "flows/WarningLimiter.h"

#include <QtGlobal>

WarningLimiter::WarningLimiter(std::int64_t intervalNs, Clock clock)
    : m_interval(intervalNs), m_clock(std::move(clock))
{
}

bool WarningLimiter::admit(std::uint64_t& heldBack)
{
    const std::int64_t now = m_clock();
    // A clock that stepped back lets the next line out rather than silencing it for as long.
    if (m_printed && now >= m_lastPrinted && now - m_lastPrinted < m_interval) {
        ++m_heldBack;
        return false;
    }
    m_printed = true;
    m_lastPrinted = now;
    heldBack = m_heldBack;
    m_heldBack = 0;
    return true;
}

std::string WarningLimiter::withHeldBack(std::string text, std::uint64_t heldBack)
{
    if (heldBack > 0)
        text += " (" + std::to_string(heldBack) + " similar suppressed)";
    return text;
}

void WarningLimiter::print(const std::string& line)
{
    qWarning("%s", line.c_str());
}
