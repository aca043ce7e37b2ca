#pragma once

#include "FrameTemplate.h"
#include "TimePoint.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Engine of a UDP stream flow: sends numberOfFrames frames from srcPort to one destination, one
// every interFrameGap, following the clock (late frames go out in bursts of at most 128).
//
// Threads: constructed and started on the main thread, stopped on the scenario run thread; the
// send handler runs on the thread of the shared UdpContext of (family, srcPort).
class Stream : public std::enable_shared_from_this<Stream>
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        virtual void onFrameSent(roamnode::time_point now, std::size_t bytes) = 0;
        virtual void onFinished() = 0;
    };

    struct Config
    {
        int ipv6 = 0;
        std::string destination;
        std::uint16_t srcPort = 0;
        std::uint16_t dstPort = 0;
        int tos = 0;
        std::int64_t initialTimeToWait = 0; // ns
        std::int64_t interFrameGap = 0;     // ns
        std::vector<FrameTemplate> frames;
        std::uint64_t numberOfFrames = 0;
    };

    // Throws boost::system::system_error when the destination is not an address or the local
    // port cannot be bound.
    Stream(const std::shared_ptr<Listener>& listener, const Config& config);
    virtual ~Stream();

    // Throws boost::system::system_error ("set_option") when the socket refuses the TOS value.
    void start();
    void stop();

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};
