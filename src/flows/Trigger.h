#pragma once

#include "bus/TimePoint.h"

#include <cstdint>
#include <memory>
#include <string>

// Engine of a UDP trigger flow: receives on dstPort for receiveDuration, counts the datagrams of
// the expected sender and, with latency on, reads the stream's time tag for one-way latency.
//
// Threads: constructed and started on the main thread, stopped on the scenario run thread; the
// receive and window handlers run on the thread of the shared UdpContext of (family, dstPort).
class Trigger : public std::enable_shared_from_this<Trigger>
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void onFrameReceived(roamnode::time_point now, std::size_t bytes) = 0;
        virtual void onFrameReceivedWithLatency(roamnode::time_point now, std::size_t bytes,
                                                std::int64_t latencyNs) = 0;
        virtual void onFinished() = 0;
    };

    struct Config
    {
        int ipv6 = 0;
        std::string source;
        std::uint16_t srcPort = 0;
        std::uint16_t dstPort = 0;
        std::uint64_t receiveDuration = 0; // ns
        bool latencyOn = false;
        std::uint64_t latencyPosition = 0;
        std::int64_t latencyTimeOffset = 0; // ns
    };

    // Throws boost::system::system_error when the source is not an address or the local port
    // cannot be bound.
    Trigger(const std::shared_ptr<Listener>& listener, const Config& config);
    virtual ~Trigger();

    void start();
    void stop();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
