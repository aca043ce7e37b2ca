#pragma once

#include <json/value.h>

#include <cstddef>
#include <string>
#include <vector>

namespace hubarchive {

class ResultArchive;

// The runs not yet in the archive: each one's results.json in a folder (OUT/pending), named so
// that the names sort in the order the runs ended. A run goes there first and leaves once the
// archive holds it, so a database that is down or a hub that stops loses nothing: the next
// flush, by this hub or the next, archives it.
//
// Thread: one at a time; the folder may be shared with another hub process (a rename is
// atomic, and a run archived twice is kept once).
class ArchiveSpool
{
public:
    // `keepArchived`: move archived runs to OUT/archived instead of deleting them.
    explicit ArchiveSpool(std::string outDir, bool keepArchived = false);

    // Writes `results` as a pending run; false and `error` when the folder cannot take it.
    bool add(const Json::Value& results, const std::string& test, std::string& error);

    std::vector<std::string> pending() const;
    std::string folder() const { return m_pending; }

    struct Outcome
    {
        std::size_t archived = 0;
        std::size_t left = 0;
        std::string error;      // the first failure; the runs from there on are left
        double lastWriteMs = 0; // how long the last run written took
    };
    // Archives the pending runs in order until one fails.
    Outcome flush(ResultArchive& archive);

private:
    std::string m_pending;
    std::string m_archived; // empty: archived runs are deleted
};

} // namespace hubarchive
