#pragma once

#include "bus/TimePoint.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace boost::asio {
class io_context;
}

// One TCP connection carrying one HTTP GET or PUT request, run on its MultiConnect's event loop.
// A GET reads the body straight into one large buffer of its own and discards it. A PUT writes
// the process-wide letter body: an unlimited one in megabyte writes back to back, a limited one
// paced by a TokenBucket, every write paid for before the next and the last one before the
// request's time is up.
//
// Threads: everything, including construction's state, belongs to the event loop's thread; the
// only thing shared with other clients is the upload body, built once and read-only after.
class TcpClient : public std::enable_shared_from_this<TcpClient>
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void onClientFinished() = 0;
        virtual void onBytes(std::size_t bytes, roamnode::time_point now) = 0;
        // The server did not take the request: its status line, quoted in `reason`, is not an
        // HTTP 200. onClientFinished follows.
        virtual void onClientFailed(const std::string& reason) = 0;
    };

    struct Config
    {
        std::string host;
        std::string target;
        int ipv6 = 0;
        int method = 0; // 0 GET, 1 PUT
        std::uint16_t srcPort = 0;
        std::uint16_t dstPort = 0;
        int tos = 0;
        std::int64_t ns = 0;         // how long this request may take
        std::int64_t rateLimit = -1; // bytes per second, 0 or less for no limit at all
        // Watchdogs: no connection within connectTimeout, or no completed read or write within
        // trafficTimeout once connected, ends the client. Tests shorten them.
        std::chrono::milliseconds connectTimeout{5000};
        std::chrono::milliseconds trafficTimeout{2000};
    };

    TcpClient(const std::shared_ptr<Listener>& listener, const Config& config,
              boost::asio::io_context& eventLoop);
    ~TcpClient();

    // Both run on the event loop's thread. start() never throws: a host text that is not an
    // address, or a socket that cannot be opened, is logged and finishes the client.
    void start();
    // Ends the connection and reports onClientFinished once; later calls do nothing.
    void finish();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
