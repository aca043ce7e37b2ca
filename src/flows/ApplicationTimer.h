#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/system_timer.hpp>

#include <chrono>
#include <functional>
#include <memory>

// A watchdog for one TcpClient: fires its callback once the system time is later than the
// reference time + interval. Progress moves the reference time forward with touch(), which costs
// no timer operation; the timer simply waits again when it wakes before the moved deadline.
//
// Threads: created, touched, cancelled and fired on its client's event loop thread only.
class ApplicationTimer : public std::enable_shared_from_this<ApplicationTimer>
{
public:
    using Clock = std::chrono::system_clock;

    ApplicationTimer(boost::asio::io_context& eventLoop, std::chrono::milliseconds interval,
                     std::function<void()> callback);

    // Sets the reference time to now and starts waiting. The pending wait keeps this object
    // alive until it completes (after cancel() at the latest).
    void start();
    void touch(Clock::time_point now = Clock::now());
    // After cancel() the callback never runs, even when the deadline had already passed and the
    // completion was queued.
    void cancel();

private:
    void wait();
    void onTimer(const boost::system::error_code& error);

    boost::asio::system_timer m_timer;
    std::function<void()> m_callback;
    Clock::time_point m_reference;
    std::chrono::milliseconds m_interval;
    bool m_cancelled = false;
};
