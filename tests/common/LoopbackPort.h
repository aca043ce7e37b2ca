#pragma once

#include <cstdint>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

// A loopback port the system just handed out and that is free again: nothing listens there (a
// connection is refused), and a test can give it to a flow that needs a fixed number.
// `type` is SOCK_STREAM or SOCK_DGRAM.
inline std::uint16_t unusedLoopbackPort(int type = SOCK_STREAM, bool ipv6 = false)
{
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, type, 0);
    sockaddr_storage address{};
    socklen_t length;
    if (ipv6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_loopback;
        length = sizeof *v6;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *v4;
    }
    std::uint16_t port = 0;
    auto* any = reinterpret_cast<sockaddr*>(&address);
    if (fd >= 0 && ::bind(fd, any, length) == 0 && ::getsockname(fd, any, &length) == 0)
        port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                          : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

} // namespace testsupport
