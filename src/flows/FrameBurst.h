#pragma once

#include <boost/asio/ip/udp.hpp>
#include <boost/system/error_code.hpp>

#include <array>
#include <cstdint>

#include <sys/socket.h>

// The frames of one stream burst, handed to the kernel with sendmmsg: one system call for up to
// kCapacity frames, all to one destination. The frames are not copied: each entry points at the
// bytes of a frame template, which must stay put until the burst is sent.
//
// Thread: used by the one thread that runs the stream's send handler. Its storage is fixed, so
// sending allocates nothing.
class FrameBurst
{
public:
    static constexpr std::size_t kCapacity = 128;

    explicit FrameBurst(const boost::asio::ip::udp::endpoint& destination);
    FrameBurst(const FrameBurst&) = delete;
    FrameBurst& operator=(const FrameBurst&) = delete;

    // Empties the burst; nothing of it has been accepted.
    void clear();
    // Adds a frame; returns false when the burst is full.
    bool add(const std::uint8_t* data, std::size_t bytes);

    // Hands the frames not yet accepted to the kernel, in order, without waiting. Returns how many
    // it accepted in this call (fewer than pending() when the socket had no room for the rest, or
    // the next frame failed); 0 with `error` set when it took none.
    std::size_t send(int socket, boost::system::error_code& error);

    std::size_t size() const { return m_size; }
    std::size_t accepted() const { return m_accepted; }
    std::size_t pending() const { return m_size - m_accepted; }
    // Bytes the kernel took for frame i (i < accepted()).
    std::size_t acceptedBytes(std::size_t i) const { return m_messages[i].msg_len; }

private:
    boost::asio::ip::udp::endpoint m_destination;
    std::array<mmsghdr, kCapacity> m_messages{};
    std::array<iovec, kCapacity> m_vectors{};
    std::size_t m_size = 0;
    std::size_t m_accepted = 0;
};
