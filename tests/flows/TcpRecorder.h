#pragma once

#include "flows/MultiConnect.h"
#include "flows/TcpClient.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

// Listens to a MultiConnect or a TcpClient and keeps what the engine thread reported, so that
// the test thread can wait for it with a bound.
class TcpRecorder : public MultiConnect::Listener, public TcpClient::Listener
{
public:
    struct Report
    {
        std::size_t bytes = 0;
        roamnode::time_point time;
    };

    void onBytes(std::size_t bytes, roamnode::time_point now) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reports.push_back({bytes, now});
    }

    void onFinished() override { countFinish(); }
    void onClientFinished() override { countFinish(); }
    // A failure is kept; the end it stands for is counted when it comes (onFailed is the end of
    // a MultiConnect, onClientFailed comes before onClientFinished).
    void onFailed(const std::string& reason) override
    {
        keepFailure(reason);
        countFinish();
    }
    void onClientFailed(const std::string& reason) override { keepFailure(reason); }

    std::string failure()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_failure;
    }

    bool waitFinished(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_finished > 0; });
    }

    int finishedCount()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_finished;
    }

    std::vector<Report> reports()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reports;
    }

    std::size_t totalBytes()
    {
        std::size_t total = 0;
        for (const Report& report : reports()) {
            total += report.bytes;
        }
        return total;
    }

    std::chrono::steady_clock::time_point finishedAt()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_finishedAt;
    }

private:
    void keepFailure(const std::string& reason)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failure.empty()) {
            m_failure = reason;
        }
    }

    void countFinish()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_finished++ == 0) {
            m_finishedAt = std::chrono::steady_clock::now();
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Report> m_reports;
    int m_finished = 0;
    std::string m_failure;
    std::chrono::steady_clock::time_point m_finishedAt;
};
