#pragma once

#include "LoopbackPort.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scripted hub on 127.0.0.1 for the tests: accepts one connection at a time on its own
// thread, reads the hello frame, does what the script says and records what the endpoint sent.
// Every wait is bounded; the destructor stops and joins the thread.
struct HubAction
{
    // Written one after another, each with its own send; pauseMs between them lets the endpoint
    // see them as separate reads.
    std::vector<std::string> chunks;
    int pauseMs = 0;
    // Close right after the hello, without a request: the endpoint's exchange fails.
    bool closeAfterHello = false;
    bool readReply = true;
    // Keep the connection open this long after the chunks without reading (for time-out cases).
    int holdMs = 0;
    // After reading the reply, keep the connection open until the endpoint closes it or this
    // long has passed (a hub that leaves the closing to the endpoint).
    int holdAfterReplyMs = 0;
};

// A request frame with this payload.
HubAction hubRequest(const std::string& payload);

class FakeHub
{
public:
    using Script = std::function<HubAction(int exchange, const std::string& hello)>;

    // Port 0 lets the system pick; a given port is bound with SO_REUSEADDR.
    explicit FakeHub(Script script, std::uint16_t port = 0);
    ~FakeHub();
    FakeHub(const FakeHub&) = delete;
    FakeHub& operator=(const FakeHub&) = delete;

    std::uint16_t port() const { return m_port; }
    bool listening() const { return m_listenFd >= 0; }

    void setScript(Script script);

    std::vector<std::string> hellos() const;
    // Reply payloads; an exchange that got no complete reply frame records "<none>".
    std::vector<std::string> replies() const;
    std::vector<std::size_t> replyFrameSizes() const;
    int exchanges() const;
    // Exchanges held open after the reply that the endpoint closed before the hold ended.
    int closedByEndpoint() const;

    bool waitForExchanges(int count, int timeoutMs) const;
    bool waitForReplies(std::size_t count, int timeoutMs) const;

private:
    void run();
    void serve(int fd);

    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    Script m_script;
    std::vector<std::string> m_hellos;
    std::vector<std::string> m_replies;
    std::vector<std::size_t> m_replySizes;
    int m_exchanges = 0;
    int m_closedByEndpoint = 0;

    std::thread m_thread;
};

// Reads one frame from a socket; false on error, end of stream or when timeoutMs passes.
bool readFrameFrom(int fd, int timeoutMs, std::string& payload, std::size_t* frameBytes = nullptr,
                   const std::atomic<bool>* stop = nullptr);

// A loopback port that nothing listens on.
inline std::uint16_t closedLoopbackPort()
{
    return testsupport::unusedLoopbackPort();
}
