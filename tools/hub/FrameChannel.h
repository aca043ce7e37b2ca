#pragma once

#include "HubStream.h"
#include "heartbeat/HeartbeatFrame.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Reads and writes heartbeat frames on one connection, each whole frame under a deadline. When
// the deadline passes the socket is closed, which ends the pending operation with an error.
//
// Thread: the hub's single I/O thread. Handlers hold the channel by shared_ptr, so it lives
// until its last operation has completed; they check for cancellation first.
class FrameChannel : public std::enable_shared_from_this<FrameChannel>
{
public:
    using ReadHandler =
        std::function<void(const boost::system::error_code& error, const std::string& payload)>;
    using WriteHandler = std::function<void(const boost::system::error_code& error)>;

    // Replies carry result lists; they may be far larger than requests.
    static constexpr std::size_t kMaxFrameBytes = 256 * 1024 * 1024;

    explicit FrameChannel(HubStream stream);

    // TLS only: the handshake, under the same kind of deadline as a frame.
    void handshake(std::chrono::milliseconds timeout, WriteHandler handler);
    bool isTls() const { return m_stream.isTls(); }
    std::string peerSubject() const { return m_stream.peerSubject(); }
    std::string handshakeFailure(const boost::system::error_code& error) const
    {
        return m_stream.handshakeFailure(error);
    }

    void readFrame(std::chrono::milliseconds timeout, ReadHandler handler);
    void writeFrame(const std::string& payload, std::chrono::milliseconds timeout,
                    WriteHandler handler);
    void close();

    // "a.b.c.d:port" or "[v6]:port" of the peer, "?" once it is gone.
    std::string peer() const;

private:
    void armDeadline(std::chrono::milliseconds timeout);
    void readSome(std::shared_ptr<ReadHandler> handler);
    void finishRead(const ReadHandler& handler, const boost::system::error_code& error);

    HubStream m_stream;
    boost::asio::ip::tcp::socket& m_socket; // beneath m_stream
    boost::asio::steady_timer m_deadline;
    std::vector<char> m_buffer;
    roamnode::FrameAccumulator m_frame;
    std::string m_outgoing;
    bool m_timedOut = false;
    unsigned m_generation = 0;
    std::string m_peer;
};
