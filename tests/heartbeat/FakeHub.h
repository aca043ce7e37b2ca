#pragma once

#include "heartbeat/HeartbeatFrame.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scripted hub on 127.0.0.1 for what the real hub never does: requests in pieces, frames that
// lie about their length, a close right after the hello, a connection held open. It serves one
// connection at a time on its own thread, reads the hello, does what the script says and records
// what the endpoint sent. Every wait is bounded; the destructor stops and joins the thread.
struct HubAction
{
    // Written one after another, pauseMs apart, so that the endpoint sees separate reads.
    std::vector<std::string> chunks;
    int pauseMs = 0;
    // How long the hub waits for the reply (or for the endpoint to close); 0 closes at once.
    int replyWithinMs = 8000;
    // After the reply, keep the connection open until the endpoint closes it or this passes.
    int holdAfterReplyMs = 0;
};

inline HubAction hubRequest(const std::string& payload)
{
    return {{roamnode::frameMessage(payload)}};
}

class FakeHub
{
public:
    using Script = std::function<HubAction(int exchange, const std::string& hello)>;

    explicit FakeHub(Script script);
    ~FakeHub();

    std::uint16_t port() const { return m_port; }
    // Hellos as they arrive. Per ended exchange: the reply payload ("<none>" when no complete
    // frame came).
    std::vector<std::string> hellos() const { return locked(m_hellos); }
    std::vector<std::string> replies() const { return locked(m_replies); }
    // Connections accepted, whether or not a hello came.
    int accepted() const { return m_accepted; }
    // Exchanges held open after the reply that the endpoint closed before the hold ended.
    int closedByEndpoint() const { return locked(m_closedByEndpoint); }

private:
    template <typename T> T locked(const T& value) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return value;
    }
    void serve(int fd);

    const Script m_script;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_hellos;
    std::vector<std::string> m_replies;
    int m_closedByEndpoint = 0;
    std::atomic<int> m_accepted{0};
    std::thread m_thread;
};
