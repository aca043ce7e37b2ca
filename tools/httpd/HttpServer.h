#pragma once

#include "ConnectionStats.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

// The HTTP test server that TCP flows talk to. A GET is answered with a 200 status line and a
// body streamed for the "ns" of the request target (at "rate" bytes per second when given); a
// PUT gets the 200 status line at once, then its body is read and discarded until the client
// closes or the duration has passed. Every request line is printed to `out`.
//
// Threads: everything runs on the thread that drives `eventLoop`.
class HttpServer
{
public:
    struct Config
    {
        std::string bindAddress; // empty: every IPv6 and IPv4 address
        std::uint16_t port = 0;  // 0: the system picks one
        bool verbose = false;
        std::size_t maxConnections = 1024;
        // Called once per finished GET or PUT, on the server's thread (--stats).
        std::function<void(const ConnectionRecord&)> onConnectionFinished;
    };

    // Throws boost::system::system_error when the address is not one or cannot be bound.
    HttpServer(boost::asio::io_context& eventLoop, const Config& config, std::ostream& out);
    ~HttpServer();

    std::uint16_t port() const;
    void start();
    void stop();

private:
    class Impl;
    std::shared_ptr<Impl> m_impl;
};

// The duration in ns and the rate in bytes per second read from a target such as
// "/dir/name-2/?ns=2000000&rate=1000": absent or malformed values are -1.
struct RequestParameters
{
    std::int64_t ns = -1;
    std::int64_t rate = -1;
};
RequestParameters parseRequestTarget(const std::string& target);
