#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A scripted HTTP peer on loopback for the TCP engine's tests: it records every request head
// byte for byte and answers each connection as the test's script says. It runs its own
// io_context on its own thread and joins it in the destructor.
class TcpTestPeer
{
public:
    struct Reply
    {
        std::string head;          // written once the request head has arrived; empty: silence
        std::size_t bodyBytes = 0; // written after the head
        // Close this long after the request head arrived; none: when the client closes.
        std::optional<std::chrono::milliseconds> closeAfter;
    };

    struct Connection
    {
        std::string request; // the request head including the blank line
        std::uint16_t peerPort = 0;
        std::uint64_t bytesReceived = 0; // after the head
        // Every byte after the head so far is byte i of the upload pattern, (97 + i) mod 256.
        bool bodyIsLetterPattern = true;
        bool ended = false;
        std::chrono::steady_clock::time_point accepted;
    };

    using Script = std::function<Reply(std::size_t index)>;

    explicit TcpTestPeer(Script script, const std::string& address = "127.0.0.1");
    ~TcpTestPeer();

    std::uint16_t port() const { return m_port; }
    std::vector<Connection> connections();
    bool waitForConnections(std::size_t count, std::chrono::milliseconds timeout);
    bool waitForEnded(std::size_t count, std::chrono::milliseconds timeout);

    static Reply ok(std::size_t bodyBytes = 0,
                    std::optional<std::chrono::milliseconds> closeAfter = std::nullopt);

private:
    class Session;
    friend class Session;
    void accept();
    std::size_t addConnection(std::uint16_t peerPort);
    void update(std::size_t index, const std::function<void(Connection&)>& change);

    boost::asio::io_context m_eventLoop;
    boost::asio::ip::tcp::acceptor m_acceptor;
    Script m_script;
    std::uint16_t m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Connection> m_connections;
    std::thread m_thread;
};
