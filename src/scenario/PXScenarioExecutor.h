#pragma once

#include "scenario/PXScenarioRun.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/system_timer.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

// Performs one run of a scenario: starts the run's monitors and flows, then runs an event loop on
// a thread of its own until the duration (plus a grace period) has passed or the run is stopped,
// stops and releases everything there and tells its listener.
//
// Threads: constructed, started and destroyed on the main thread. The event loop, the end timer
// and the stop handler belong to the run thread. stop() may be called from any thread: m_running
// is atomic, so only one caller posts the stop handler. The listener (the worker) outlives the
// executor: the worker joins it before it goes.
class PXScenarioExecutor : public std::enable_shared_from_this<PXScenarioExecutor>
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        // On the run thread, after every flow has been stopped and released.
        virtual void onScenarioFinished() = 0;
    };

    // The run lasts the scenario duration plus this long, so that frames still in flight at the
    // end are counted.
    static constexpr std::chrono::nanoseconds defaultEndGrace = std::chrono::milliseconds(250);

    PXScenarioExecutor(Listener* listener, std::shared_ptr<PXScenarioRun> run,
                       std::chrono::nanoseconds endGrace = defaultEndGrace);
    ~PXScenarioExecutor();
    PXScenarioExecutor(const PXScenarioExecutor&) = delete;
    PXScenarioExecutor& operator=(const PXScenarioExecutor&) = delete;

    void start();
    void stop();
    // Stops the run and waits for the run thread (main thread only).
    void join();

    bool running() const { return m_running; }
    // True once the run thread has told the listener.
    bool finished() const { return m_finished; }

    // now + duration + grace in ns since the epoch, saturating instead of overflowing.
    static std::int64_t endTime(std::int64_t now, std::uint64_t duration,
                                std::chrono::nanoseconds grace);

private:
    void onEndTimer(const boost::system::error_code& error);
    void onStopRequested();
    void runLoop();

    boost::asio::io_context m_eventLoop;
    boost::asio::system_timer m_endTimer;
    bool m_endTimerPending = false; // run thread only (set before the thread starts)
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_finished{false};
    const std::shared_ptr<PXScenarioRun> m_run;
    Listener* const m_listener;
    const std::chrono::nanoseconds m_endGrace;
};
