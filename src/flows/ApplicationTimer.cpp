#include "flows/ApplicationTimer.h"

ApplicationTimer::ApplicationTimer(boost::asio::io_context& eventLoop,
                                   std::chrono::milliseconds interval,
                                   std::function<void()> callback)
    : m_timer(eventLoop), m_callback(std::move(callback)), m_interval(interval)
{
}

void ApplicationTimer::start()
{
    m_cancelled = false;
    m_reference = Clock::now();
    wait();
}

void ApplicationTimer::touch(Clock::time_point now)
{
    m_reference = now;
}

void ApplicationTimer::cancel()
{
    m_cancelled = true;
    m_timer.cancel();
}

void ApplicationTimer::wait()
{
    m_timer.expires_at(m_reference + m_interval);
    std::shared_ptr<ApplicationTimer> self = shared_from_this();
    m_timer.async_wait([self](const boost::system::error_code& error) { self->onTimer(error); });
}

void ApplicationTimer::onTimer(const boost::system::error_code& error)
{
    if (error == boost::asio::error::operation_aborted || m_cancelled) {
        return;
    }
    if (Clock::now() < m_reference + m_interval) {
        wait();
        return;
    }
    m_cancelled = true;
    // The callback usually finishes the client, which cancels this timer again: harmless.
    std::function<void()> callback = m_callback;
    if (callback) {
        callback();
    }
}
