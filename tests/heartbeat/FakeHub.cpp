#include "FakeHub.h"

#include "heartbeat/HeartbeatFrame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Waits for `fd` to be readable in slices of 20 ms, so that a hub being destroyed stops at once;
// false once `deadline` has passed or `stop` is set.
bool readable(int fd, Clock::time_point deadline, const std::atomic<bool>* stop)
{
    while (!(stop && *stop)) {
        const long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::clamp(left, 0LL, 20LL))) > 0)
            return true;
        if (left <= 0)
            return false;
    }
    return false;
}

const std::string kNoFrame = "<none>";

// The payload of one frame from a socket; kNoFrame on error, end of stream, when timeoutMs passes
// or once `stop` is set.
std::string readFrameFrom(int fd, int timeoutMs, const std::atomic<bool>* stop)
{
    roamnode::FrameAccumulator frame;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    while (frame.state() == roamnode::FrameAccumulator::State::NeedMore) {
        const ssize_t n = readable(fd, deadline, stop) ? ::recv(fd, buffer, sizeof buffer, 0) : 0;
        if (n <= 0)
            return kNoFrame;
        frame.add(buffer, static_cast<std::size_t>(n));
    }
    return frame.state() == roamnode::FrameAccumulator::State::Complete ? frame.payload()
                                                                        : kNoFrame;
}

} // namespace

FakeHub::FakeHub(Script script) : m_script(std::move(script))
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(m_listenFd, 16) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return; // port() stays 0 and the test's connection is refused
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] {
        while (!m_stop) {
            const int fd =
                readable(m_listenFd, Clock::now() + std::chrono::milliseconds(20), &m_stop)
                    ? ::accept(m_listenFd, nullptr, nullptr)
                    : -1;
            if (fd < 0)
                continue;
            ++m_accepted;
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            serve(fd);
            ::close(fd);
        }
    });
}

FakeHub::~FakeHub()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listenFd);
}

void FakeHub::serve(int fd)
{
    const std::string hello = readFrameFrom(fd, 2000, &m_stop);
    if (hello == kNoFrame)
        return;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_hellos.push_back(hello);
    const int index = static_cast<int>(m_hellos.size()) - 1;
    lock.unlock();
    const HubAction action = m_script(index, hello);
    bool sent = true;
    for (std::size_t i = 0; sent && i < action.chunks.size(); ++i) {
        if (i > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(action.pauseMs));
        const std::string& chunk = action.chunks[i];
        sent = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(chunk.size());
    }
    const std::string reply = sent ? readFrameFrom(fd, action.replyWithinMs, &m_stop) : kNoFrame;
    bool closed = false;
    const auto until = Clock::now() + std::chrono::milliseconds(action.holdAfterReplyMs);
    char sink[256];
    while (action.holdAfterReplyMs > 0 && !closed && readable(fd, until, &m_stop))
        closed = ::recv(fd, sink, sizeof sink, 0) <= 0;
    lock.lock();
    m_closedByEndpoint += closed ? 1 : 0;
    m_replies.push_back(reply);
}
