#include "flows/DatagramBatch.h"

#include "bus/TimePoint.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include <sys/mman.h>

namespace {

constexpr std::size_t kStorageBytes = DatagramBatch::kCapacity * DatagramBatch::kDatagramBytes;

} // namespace

void DatagramBatch::Unmap::operator()(std::uint8_t* storage) const
{
    ::munmap(storage, kStorageBytes);
}

std::unique_ptr<DatagramBatch> DatagramBatch::create()
{
    void* mapped =
        ::mmap(nullptr, kStorageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    return std::unique_ptr<DatagramBatch>(new DatagramBatch(
        std::unique_ptr<std::uint8_t, Unmap>(static_cast<std::uint8_t*>(mapped))));
}

DatagramBatch::DatagramBatch(std::unique_ptr<std::uint8_t, Unmap> storage)
    : m_storage(std::move(storage))
{
    for (std::size_t i = 0; i < kCapacity; ++i) {
        m_vectors[i].iov_base = m_storage.get() + i * kDatagramBytes;
        m_vectors[i].iov_len = kDatagramBytes;
        msghdr& header = m_messages[i].msg_hdr;
        header.msg_iov = &m_vectors[i];
        header.msg_iovlen = 1;
        header.msg_name = &m_senders[i];
        header.msg_control = m_controls[i].data();
    }
}

std::size_t DatagramBatch::receive(int socket, boost::system::error_code& error)
{
    error.clear();
    m_size = 0;
    // The kernel shortens these to what it wrote; every receive starts from the full room.
    for (std::size_t i = 0; i < kCapacity; ++i) {
        m_messages[i].msg_hdr.msg_namelen = sizeof(sockaddr_storage);
        m_messages[i].msg_hdr.msg_controllen = sizeof(Control);
        m_messages[i].msg_hdr.msg_flags = 0;
        m_messages[i].msg_len = 0;
    }
    int taken = -1;
    do {
        taken = ::recvmmsg(socket, m_messages.data(), kCapacity, MSG_DONTWAIT, nullptr);
    } while (taken < 0 && errno == EINTR);
    if (taken < 0) {
        error = boost::system::error_code(errno, boost::system::system_category());
        return 0;
    }
    m_clockReading = roamnode::nowNanoseconds();
    m_size = static_cast<std::size_t>(taken);
    return m_size;
}

DatagramBatch::Datagram DatagramBatch::at(std::size_t i) const
{
    const mmsghdr& message = m_messages[i];
    Datagram datagram;
    datagram.data = static_cast<const std::uint8_t*>(message.msg_hdr.msg_iov->iov_base);
    datagram.bytes = message.msg_len;
    const auto length = static_cast<std::size_t>(message.msg_hdr.msg_namelen);
    if (length <= datagram.sender.capacity()) {
        std::memcpy(datagram.sender.data(), &m_senders[i], length);
        datagram.sender.resize(length);
    }
    const std::int64_t stamp = kernelReceiveTime(message.msg_hdr);
    datagram.receiveTime = stamp != 0 ? stamp : m_clockReading;
    return datagram;
}

std::int64_t DatagramBatch::kernelReceiveTime(const msghdr& message)
{
    // A control area cut short by the kernel (MSG_CTRUNC) may hold half a stamp.
    if ((message.msg_flags & MSG_CTRUNC) != 0)
        return 0;
    for (const cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&message), const_cast<cmsghdr*>(c))) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS ||
            c->cmsg_len < CMSG_LEN(sizeof(struct timespec)))
            continue;
        struct timespec stamp;
        std::memcpy(&stamp, CMSG_DATA(c), sizeof(stamp));
        return static_cast<std::int64_t>(stamp.tv_sec) * roamnode::kNanosecondsPerSecond +
               stamp.tv_nsec;
    }
    return 0;
}
