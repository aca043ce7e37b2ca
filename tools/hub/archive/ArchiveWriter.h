#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace hubarchive {

// Archives the runs of a long-running hub on a thread of its own, so that a slow or absent
// database never holds up the heartbeat exchanges: the I/O thread puts each run in the spool
// folder (ArchiveSpool) and calls submit(); this thread writes every pending run, and while the
// database fails tries again every `retry`, saying once that it is down and once that it is
// back.
//
// Thread: start/submit/stop from the hub's I/O thread; the archive connection lives on the
// writer thread alone; counters() may be read from any thread.
class ArchiveWriter
{
public:
    struct Counters
    {
        std::atomic<std::uint64_t> archived{0};
        std::atomic<std::uint64_t> failures{0}; // failed attempts
        std::atomic<std::uint64_t> pending{0};
    };

    ArchiveWriter(std::string location, std::string outDir, bool keepArchived,
                  std::chrono::milliseconds retry = std::chrono::seconds(10));
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    void start();
    void submit();
    // Finishes the attempt under way (or makes one for runs submitted just before), then ends
    // the thread; what could not be archived stays in the folder.
    void stop();

    const Counters& counters() const { return m_counters; }

private:
    void loop();

    std::string m_location, m_outDir;
    bool m_keepArchived;
    std::chrono::milliseconds m_retry;
    Counters m_counters;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_submitted = false; // guarded by m_mutex
    bool m_stopping = false;  // guarded by m_mutex
    std::thread m_thread;
};

} // namespace hubarchive
