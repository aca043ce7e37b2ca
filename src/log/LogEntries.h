#pragma once

#include "log/PXLogEntry.h"

#include <cstddef>
#include <deque>
#include <memory>

namespace roamnode::log {

using EntryList = std::deque<std::shared_ptr<PXLogEntry>>;

// The newest log entries within a bound on their number and on the bytes they take in the log
// file, oldest first. Appending past either bound drops the oldest entries, so the list, its file
// and the "logfile" answer stay small however long the endpoint runs at "debug".
//
// Not thread-safe; owned by one thread.
class LogEntries
{
public:
    struct Limits
    {
        std::size_t maxEntries;
        std::size_t maxFileBytes;
    };

    explicit LogEntries(Limits limits) : m_limits(limits) {}

    void append(std::shared_ptr<PXLogEntry> entry);
    void clear();

    const EntryList& list() const { return m_list; }
    std::size_t size() const { return m_list.size(); }
    // What the entries take in the file.
    std::size_t fileBytes() const { return m_fileBytes; }
    const Limits& limits() const { return m_limits; }

private:
    void dropOldest();

    Limits m_limits;
    EntryList m_list;
    std::size_t m_fileBytes = 0;
};

} // namespace roamnode::log
