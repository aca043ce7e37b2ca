#pragma once

#include "EndpointCertificates.h"
#include "FrameChannel.h"

#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <memory>
#include <string>

// One heartbeat exchange as the hub sees it: read the hello, send one request, read the reply.
// The endpoint opens a fresh connection for every exchange, so this object lives for one.
//
// Thread: the hub's I/O thread. The listener must outlive the I/O context's run.
class HubExchange : public std::enable_shared_from_this<HubExchange>
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void onHello(const std::string& peer, const std::string& hello) = 0;
        // The request for this exchange (its payload, unframed).
        virtual std::string nextRequest() = 0;
        virtual void onReply(const std::string& peer, const std::string& reply) = 0;
        // Right after onReply: the steady-clock time from the completion of the request's write
        // to the completion of the reply's read, the hub's view of the endpoint's turnaround.
        virtual void onExchangeTimed(const std::string& peer, std::chrono::nanoseconds exchange) {}
        virtual void onExchangeFailed(const std::string& peer, const std::string& what) = 0;
    };

    struct Timeouts
    {
        std::chrono::milliseconds hello{5000};
        std::chrono::milliseconds write{5000};
        std::chrono::milliseconds reply{15000};
    };

    // `certificates`, when given, hears each TLS endpoint's certificate subject beside its hello.
    HubExchange(HubStream stream, Listener& listener, Timeouts timeouts,
                std::shared_ptr<EndpointCertificates> certificates = nullptr);

    void start();

private:
    void readHello();
    void onHelloRead(const boost::system::error_code& error, const std::string& hello);
    void onRequestWritten(const boost::system::error_code& error);
    void onReplyRead(const boost::system::error_code& error, const std::string& reply);
    void fail(const std::string& step, const boost::system::error_code& error);

    std::shared_ptr<FrameChannel> m_channel;
    std::shared_ptr<EndpointCertificates> m_certificates;
    Listener& m_listener;
    Timeouts m_timeouts;
    std::chrono::steady_clock::time_point m_requestWritten;
};
