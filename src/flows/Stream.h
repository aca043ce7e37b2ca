#pragma once

#include "bus/TimePoint.h"
#include "flows/FrameTemplate.h"

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
        // The stream ended without sending every frame (instead of onFinished); `reason` says
        // how many went out and why no more did. A stop() that comes later reports
        // onFinished again. A listener that does not tell the two apart sees onFinished.
        virtual void onFailed(const std::string& reason)
        {
            static_cast<void>(reason);
            onFinished();
        }
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

    // How long after the last frame's slot (start + gap x frames) a stream that fell behind may
    // still send the frames that were due: a loaded machine can hold the sending thread back
    // for milliseconds, and those frames are part of what was asked for.
    static constexpr std::int64_t kEndGraceNs = 50000000;
    // The most one UDP datagram carries: 65,535 bytes less the IPv4 (20) and UDP (8) headers;
    // an IPv6 payload may be 65,535 bytes, less the UDP header.
    static constexpr std::size_t kMaxFrameBytesV4 = 65507;
    static constexpr std::size_t kMaxFrameBytesV6 = 65527;

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
