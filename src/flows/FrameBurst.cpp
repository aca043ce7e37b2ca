#include "flows/FrameBurst.h"

#include <cerrno>

FrameBurst::FrameBurst(const boost::asio::ip::udp::endpoint& destination)
    : m_destination(destination)
{
    for (std::size_t i = 0; i < kCapacity; ++i) {
        msghdr& header = m_messages[i].msg_hdr;
        header.msg_name = m_destination.data();
        header.msg_namelen = static_cast<socklen_t>(m_destination.size());
        header.msg_iov = &m_vectors[i];
        header.msg_iovlen = 1;
    }
}

void FrameBurst::clear()
{
    m_size = 0;
    m_accepted = 0;
}

bool FrameBurst::add(const std::uint8_t* data, std::size_t bytes)
{
    if (m_size == kCapacity)
        return false;
    // sendmmsg only reads the frame; iovec has no pointer to const.
    m_vectors[m_size].iov_base = const_cast<std::uint8_t*>(data);
    m_vectors[m_size].iov_len = bytes;
    m_messages[m_size].msg_len = 0;
    ++m_size;
    return true;
}

std::size_t FrameBurst::send(int socket, boost::system::error_code& error)
{
    error.clear();
    if (pending() == 0)
        return 0;
    int sent = -1;
    do {
        sent = ::sendmmsg(socket, m_messages.data() + m_accepted,
                          static_cast<unsigned int>(pending()), MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        error = boost::system::error_code(errno, boost::system::system_category());
        return 0;
    }
    m_accepted += static_cast<std::size_t>(sent);
    return static_cast<std::size_t>(sent);
}
