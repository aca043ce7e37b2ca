#pragma once

#include <boost/asio/ip/udp.hpp>
#include <boost/system/error_code.hpp>

#include <array>
#include <cstdint>
#include <memory>

#include <sys/socket.h>

// Up to kCapacity datagrams taken off a UDP socket with one recvmmsg call, each with the time
// the kernel stamped on it when it arrived (SO_TIMESTAMPNS). That stamp, not the time a handler
// gets round to the datagram, is when the datagram reached this host.
//
// Thread: used by the one thread that receives on the socket. All storage is allocated at
// creation, so receiving allocates nothing. The 1 MiB for the datagrams is mapped from the
// kernel, not taken from the heap: only the pages datagrams land in become resident, and all of
// it goes back to the system with the batch (the heap would keep it for the life of the
// process once freed).
class DatagramBatch
{
public:
    static constexpr std::size_t kCapacity = 64;
    // Longer datagrams are cut to this length, and counted with it.
    static constexpr std::size_t kDatagramBytes = 16384;

    struct Datagram
    {
        const std::uint8_t* data = nullptr;
        std::size_t bytes = 0;
        boost::asio::ip::udp::endpoint sender;
        // ns since the epoch, system clock: the kernel's receive stamp, or, for a datagram that
        // carries none, the clock read when the batch was taken.
        std::int64_t receiveTime = 0;
    };

    // Empty when the memory cannot be mapped.
    static std::unique_ptr<DatagramBatch> create();
    DatagramBatch(const DatagramBatch&) = delete;
    DatagramBatch& operator=(const DatagramBatch&) = delete;

    // Takes what is queued on the socket, up to kCapacity datagrams, without waiting. Returns how
    // many were taken; 0 with `error` set when none could be (would_block when none is queued).
    std::size_t receive(int socket, boost::system::error_code& error);

    std::size_t size() const { return m_size; }
    // The i-th datagram of the last receive; valid until the next one.
    Datagram at(std::size_t i) const;

    // The SCM_TIMESTAMPNS stamp of a received message in ns since the epoch; 0 when it has none.
    static std::int64_t kernelReceiveTime(const msghdr& message);

private:
    struct Unmap
    {
        void operator()(std::uint8_t* storage) const;
    };

    explicit DatagramBatch(std::unique_ptr<std::uint8_t, Unmap> storage);

    // Room for one timespec control message, aligned as the kernel writes it.
    using Control = std::array<std::uint64_t, (CMSG_SPACE(sizeof(struct timespec)) + 7) / 8>;

    std::unique_ptr<std::uint8_t, Unmap> m_storage;
    std::array<mmsghdr, kCapacity> m_messages{};
    std::array<iovec, kCapacity> m_vectors{};
    std::array<sockaddr_storage, kCapacity> m_senders{};
    std::array<Control, kCapacity> m_controls{};
    std::size_t m_size = 0;
    std::int64_t m_clockReading = 0;
};
