#include "scenario/PXScenarioExecutor.h"

#include "bus/TimePoint.h"
#include "device/PXMonitor.h"
#include "scenario/flows/PXFlow.h"

#include <boost/asio/post.hpp>

PXScenarioExecutor::PXScenarioExecutor(Listener* listener, std::shared_ptr<PXScenarioRun> run,
                                       std::chrono::nanoseconds endGrace)
    : m_endTimer(m_eventLoop), m_run(std::move(run)), m_listener(listener), m_endGrace(endGrace)
{
}

PXScenarioExecutor::~PXScenarioExecutor()
{
    // The end timer's handler holds the executor, so the last reference can be dropped on the
    // run thread itself; that thread has finished its work then and only needs detaching.
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
}

std::int64_t PXScenarioExecutor::endTime(std::int64_t now, std::uint64_t duration,
                                         std::chrono::nanoseconds grace)
{
    using roamnode::saturatingAdd;
    return saturatingAdd(now, saturatingAdd(roamnode::saturatingSigned(duration), grace.count()));
}

void PXScenarioExecutor::start()
{
    // 1. monitors first, so their first sample marks the start of the run; 2. the flows.
    for (const auto& monitor : m_run->monitors)
        monitor->start(m_eventLoop, m_run->duration);
    for (const auto& flow : m_run->flows)
        flow->run();

    auto self = shared_from_this();
    const std::int64_t end = endTime(roamnode::nowNanoseconds(), m_run->duration, m_endGrace);
    if (m_endTimerPending)
        m_endTimer.cancel();
    m_endTimer.expires_at(roamnode::fromNanoseconds(end));
    m_endTimerPending = true;
    m_endTimer.async_wait(
        [self](const boost::system::error_code& error) { self->onEndTimer(error); });
    m_running = true;
    // The thread keeps the executor alive until its last step, wherever the last owner lets go.
    m_thread = std::thread([self] { self->runLoop(); });
}

void PXScenarioExecutor::onEndTimer(const boost::system::error_code& error)
{
    m_endTimerPending = false;
    if (error == boost::asio::error::operation_aborted)
        return;
    stop();
}

void PXScenarioExecutor::stop()
{
    if (m_eventLoop.stopped())
        return;
    bool expected = true;
    if (!m_running.compare_exchange_strong(expected, false))
        return;
    auto self = shared_from_this();
    boost::asio::post(m_eventLoop, [self] { self->onStopRequested(); });
}

void PXScenarioExecutor::onStopRequested()
{
    if (m_endTimerPending) {
        m_endTimer.cancel();
        m_endTimerPending = false;
    }
    for (const auto& flow : m_run->flows)
        flow->stop();
    for (const auto& monitor : m_run->monitors)
        monitor->stop();
}

void PXScenarioExecutor::join()
{
    stop();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void PXScenarioExecutor::runLoop()
{
    m_eventLoop.run();
    // Engines are released here, on the run thread, before the end is reported, so the next
    // run finds their ports free.
    for (const auto& flow : m_run->flows)
        flow->releaseEngine();
    m_running = false;
    m_finished = true;
    if (m_listener != nullptr)
        m_listener->onScenarioFinished();
}
