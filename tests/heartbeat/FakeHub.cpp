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
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool waitReadable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

bool sendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

HubAction hubRequest(const std::string& payload)
{
    HubAction action;
    action.chunks.push_back(roamnode::frameMessage(payload));
    return action;
}

bool readFrameFrom(int fd, int timeoutMs, std::string& payload, std::size_t* frameBytes,
                   const std::atomic<bool>* stop)
{
    roamnode::FrameAccumulator frame;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[65536];
    while (frame.state() == roamnode::FrameAccumulator::State::NeedMore) {
        // Short slices, so that a hub being destroyed stops waiting at once.
        while (!waitReadable(fd, std::min(remainingMs(deadline), 20))) {
            if (remainingMs(deadline) == 0 || (stop && *stop))
                return false;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        frame.add(buffer, static_cast<std::size_t>(n));
    }
    if (frame.state() != roamnode::FrameAccumulator::State::Complete)
        return false;
    payload = frame.payload();
    if (frameBytes)
        *frameBytes = frame.accumulatedBytes();
    return true;
}

FakeHub::FakeHub(Script script, std::uint16_t port) : m_script(std::move(script))
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 16) != 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
        return;
    }
    socklen_t length = sizeof address;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this]() { run(); });
}

FakeHub::~FakeHub()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

void FakeHub::setScript(Script script)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_script = std::move(script);
}

std::vector<std::string> FakeHub::hellos() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hellos;
}

std::vector<std::string> FakeHub::replies() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_replies;
}

std::vector<std::size_t> FakeHub::replyFrameSizes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_replySizes;
}

int FakeHub::closedByEndpoint() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closedByEndpoint;
}

int FakeHub::exchanges() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_exchanges;
}

bool FakeHub::waitForExchanges(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&]() { return m_exchanges >= count; });
}

bool FakeHub::waitForReplies(std::size_t count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&]() { return m_replies.size() >= count; });
}

void FakeHub::run()
{
    while (!m_stop) {
        // Short polls so that the destructor is never kept waiting long.
        if (!waitReadable(m_listenFd, 20))
            continue;
        const int fd = ::accept(m_listenFd, nullptr, nullptr);
        if (fd < 0)
            continue;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        serve(fd);
        ::close(fd);
    }
}

void FakeHub::serve(int fd)
{
    std::string hello;
    if (!readFrameFrom(fd, 2000, hello, nullptr, &m_stop))
        return;
    Script script;
    int index = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hellos.push_back(hello);
        script = m_script;
        index = static_cast<int>(m_hellos.size()) - 1;
    }
    const HubAction action = script(index, hello);

    bool sent = !action.closeAfterHello;
    for (std::size_t i = 0; sent && i < action.chunks.size(); ++i) {
        if (i > 0 && action.pauseMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(action.pauseMs));
        sent = sendAll(fd, action.chunks[i]);
    }
    if (action.holdMs > 0) {
        // Wait for the endpoint to give up (it closes) or for the hold to end.
        const auto until = Clock::now() + std::chrono::milliseconds(action.holdMs);
        char sink[4096];
        while (remainingMs(until) > 0 && !m_stop) {
            if (!waitReadable(fd, std::min(remainingMs(until), 20)))
                continue;
            if (::recv(fd, sink, sizeof sink, 0) <= 0)
                break;
        }
    }
    std::string reply = "<none>";
    std::size_t frameBytes = 0;
    if (sent && action.readReply && action.holdMs == 0) {
        if (!readFrameFrom(fd, 8000, reply, &frameBytes, &m_stop))
            reply = "<none>";
    }
    bool endpointClosed = false;
    if (action.holdAfterReplyMs > 0) {
        const auto until = Clock::now() + std::chrono::milliseconds(action.holdAfterReplyMs);
        char sink[256];
        while (!endpointClosed && remainingMs(until) > 0 && !m_stop) {
            if (waitReadable(fd, std::min(remainingMs(until), 20)))
                endpointClosed = ::recv(fd, sink, sizeof sink, 0) <= 0;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (endpointClosed)
            ++m_closedByEndpoint;
        if (sent && action.readReply && action.holdMs == 0) {
            m_replies.push_back(reply);
            m_replySizes.push_back(frameBytes);
        }
        ++m_exchanges;
    }
    m_changed.notify_all();
}
