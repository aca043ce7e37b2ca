#include "device/MonitorSampleBudget.h"

#include <QtGlobal>

bool MonitorSampleBudget::take()
{
    std::size_t taken = m_taken.load();
    while (taken < m_limit)
        if (m_taken.compare_exchange_weak(taken, taken + 1))
            return true;
    if (!m_warned.exchange(true))
        qWarning("Monitors reached the limit of %zu samples for this run and stop sampling",
                 m_limit);
    return false;
}
