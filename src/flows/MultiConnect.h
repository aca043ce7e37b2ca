#pragma once

#include "flows/TcpClient.h"

#include <cstdint>
#include <memory>
#include <string>

// Engine of an HTTP-over-TCP flow: waits initialTimeToWait, then runs one TcpClient after another
// (a new one only with restart on) until the flow's duration is used up.
//
// Threads: constructed and started on the main thread; everything else runs on the engine's own
// thread and event loop. stop() may be called from any other thread and joins the engine thread.
class MultiConnect : public TcpClient::Listener, public std::enable_shared_from_this<MultiConnect>
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void onBytes(std::size_t bytes, roamnode::time_point now) = 0;
        virtual void onFinished() = 0;
        // The flow ended because the server refused a request (instead of onFinished); `reason`
        // quotes its status line. A listener that does not tell the two apart sees onFinished.
        virtual void onFailed(const std::string& reason)
        {
            static_cast<void>(reason);
            onFinished();
        }
    };

    struct Config
    {
        std::string destination;
        std::string url;
        int ipv6 = 0;
        int method = 0; // 0 GET, 1 PUT
        std::uint16_t srcPort = 0;
        std::uint16_t dstPort = 0;
        int tos = 0;
        std::int64_t duration = 0;          // ns
        std::int64_t rateLimit = -1;        // bytes per second, 0 or less for none
        std::int64_t initialTimeToWait = 0; // ns
        bool restart = false;
        // Watchdog intervals handed to every TcpClient; tests shorten them.
        std::chrono::milliseconds connectTimeout{5000};
        std::chrono::milliseconds trafficTimeout{2000};
    };

    // Throws boost::system::system_error ("invalid destination address '...'") when the
    // destination text is not an IPv4 or IPv6 address.
    MultiConnect(const std::shared_ptr<Listener>& listener, const Config& config);
    ~MultiConnect() override;

    // Needs the object to be owned by a shared pointer (std::bad_weak_ptr otherwise). Does
    // nothing when called a second time or after stop().
    void start();
    // Safe from any thread, any number of times, before start() and after the engine ended.
    // Called on the engine thread itself (from a listener call) it only queues its work.
    void stop();

    // The "url" part of every request target: "/dir/name/more" gives "dir/name". Fixed at
    // construction, so any thread may read it.
    const std::string& pathName() const;

    // TcpClient::Listener, called on the engine thread.
    void onClientFinished() override;
    void onBytes(std::size_t bytes, roamnode::time_point now) override;
    void onClientFailed(const std::string& reason) override;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
