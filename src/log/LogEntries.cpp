#include "log/LogEntries.h"

#include "log/LogFormat.h"

namespace roamnode::log {

void LogEntries::append(std::shared_ptr<PXLogEntry> entry)
{
    m_fileBytes += encodedSize(*entry);
    m_list.push_back(std::move(entry));
    // The newest entry stays even when it alone is past the byte bound: a message is cut to a few
    // KiB before it gets here, so that never holds more than one such entry.
    while (m_list.size() > 1 &&
           (m_list.size() > m_limits.maxEntries || m_fileBytes > m_limits.maxFileBytes))
        dropOldest();
    if (m_list.size() > m_limits.maxEntries)
        dropOldest();
}

void LogEntries::clear()
{
    m_list.clear();
    m_fileBytes = 0;
}

void LogEntries::dropOldest()
{
    m_fileBytes -= encodedSize(*m_list.front());
    m_list.pop_front();
}

} // namespace roamnode::log
