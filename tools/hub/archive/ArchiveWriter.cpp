#include "ArchiveWriter.h"

#include "ArchiveSpool.h"
#include "ResultArchive.h"

#include <cstdio>

namespace hubarchive {

ArchiveWriter::ArchiveWriter(std::string location, std::string outDir, bool keepArchived,
                             std::chrono::milliseconds retry)
    : m_location(std::move(location)), m_outDir(std::move(outDir)), m_keepArchived(keepArchived),
      m_retry(retry)
{
}

ArchiveWriter::~ArchiveWriter()
{
    stop();
}

void ArchiveWriter::start()
{
    m_submitted = true; // runs an earlier hub left
    m_thread = std::thread([this] { loop(); });
}

void ArchiveWriter::submit()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_submitted = true;
    }
    m_wake.notify_one();
}

void ArchiveWriter::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void ArchiveWriter::loop()
{
    ResultArchive archive(m_location);
    ArchiveSpool spool(m_outDir, m_keepArchived);
    bool down = false;
    for (;;) {
        bool stopping = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            // While runs wait, they are tried again after `m_retry` even with no new run.
            if (down)
                m_wake.wait_for(lock, m_retry, [this] { return m_submitted || m_stopping; });
            else
                m_wake.wait(lock, [this] { return m_submitted || m_stopping; });
            // Runs that ended right before the stop, or wait for a database that may be back,
            // get one more attempt.
            stopping = m_stopping;
            if (stopping && !m_submitted && !down)
                return;
            m_submitted = false;
        }
        const ArchiveSpool::Outcome outcome = spool.flush(archive);
        m_counters.archived += outcome.archived;
        m_counters.pending = outcome.left;
        if (outcome.archived > 0)
            std::printf("archive: %zu run(s) written to %s (last in %.1f ms)%s\n", outcome.archived,
                        archive.displayName().c_str(), outcome.lastWriteMs,
                        down ? ", the archive is back" : "");
        if (!outcome.error.empty()) {
            ++m_counters.failures;
            if (!down)
                std::fprintf(stderr,
                             "roamnode-hub serve: the archive did not take a run: %s; %zu "
                             "run(s) kept in %s, tried again every %lld s\n",
                             outcome.error.c_str(), outcome.left, spool.folder().c_str(),
                             static_cast<long long>(m_retry.count() / 1000));
            down = true;
        } else {
            down = false;
        }
        std::fflush(stdout);
        std::fflush(stderr);
        if (stopping)
            return;
    }
}

} // namespace hubarchive
