#pragma once

#include "flows/Stream.h"
#include "flows/Trigger.h"
#include "flows/UdpContext.h"

#include "LoopbackPort.h"
#include "WarningCapture.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace udptest {

using namespace std::chrono_literals;

// What an engine reports, kept under a lock: the engine's context thread adds, the test thread
// waits (bounded) and reads.
template <typename Frame> class ReportLog
{
public:
    bool waitFinished(std::chrono::milliseconds timeout = 5000ms)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_finished > 0; });
    }
    bool waitFrames(std::size_t count, std::chrono::milliseconds timeout = 5000ms)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_awaited = count;
        return m_changed.wait_for(lock, timeout, [&] { return m_frames.size() >= count; });
    }
    std::vector<Frame> frames() { return locked(m_frames); }
    int finishedCount() { return locked(m_finished); }
    std::thread::id handlerThread() { return locked(m_thread); }
    // System time of the first end, in ns.
    std::int64_t finishedAt() { return locked(m_finishedAt); }
    // The reason of the first failure; empty when there was none.
    std::string failure() { return locked(m_failure); }

protected:
    void add(const Frame& frame)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.push_back(frame);
        m_thread = std::this_thread::get_id();
        // Waking the test thread for every frame would slow the sender down on a busy machine.
        if (m_frames.size() == m_awaited)
            m_changed.notify_all();
    }
    // A failure counts as an end as well; its reason is kept.
    void end(const std::string& failure = {})
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_finished++ == 0)
            m_finishedAt = roamnode::nowNanoseconds();
        if (m_failure.empty())
            m_failure = failure;
        m_changed.notify_all();
    }

private:
    template <typename T> T locked(const T& value)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return value;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Frame> m_frames;
    std::size_t m_awaited = 0;
    int m_finished = 0;
    std::int64_t m_finishedAt = 0;
    std::string m_failure;
    std::thread::id m_thread;
};

struct SentFrame
{
    roamnode::time_point now;
    std::size_t bytes;
};

class StreamRecorder : public Stream::Listener, public ReportLog<SentFrame>
{
public:
    void onFrameSent(roamnode::time_point now, std::size_t bytes) override { add({now, bytes}); }
    void onFinished() override { end(); }
    void onFailed(const std::string& reason) override { end(reason); }

    // A stream may send until Stream::kEndGraceNs after its last frame's slot, and a busy
    // machine can keep the loop from running for longer than that: either all `count` frames
    // went out, or the end came after the end time (startTime is at least `before`) and the
    // stream said how many it sent.
    void expectCompleteOrEndedLate(std::size_t count, std::int64_t before, std::int64_t gap);
};

struct ReceivedFrame
{
    roamnode::time_point now;
    std::size_t bytes;
    bool withLatency;
    std::int64_t latency;
};

class TriggerRecorder : public Trigger::Listener, public ReportLog<ReceivedFrame>
{
public:
    void onFrameReceived(roamnode::time_point now, std::size_t bytes) override
    {
        add({now, bytes, false, 0});
    }
    void onFrameReceivedWithLatency(roamnode::time_point now, std::size_t bytes,
                                    std::int64_t latencyNs) override
    {
        add({now, bytes, true, latencyNs});
    }
    void onFinished() override { end(); }
};

// A plain loopback socket playing the far end of the test traffic.
class Peer
{
public:
    struct Datagram
    {
        std::vector<std::uint8_t> bytes;
        boost::asio::ip::udp::endpoint sender;
    };

    explicit Peer(bool ipv6 = false);

    std::uint16_t port() const;
    void sendTo(std::uint16_t port, const std::vector<std::uint8_t>& bytes);
    // One datagram, or nothing when none comes within the timeout.
    std::optional<Datagram> receive(std::chrono::milliseconds timeout = 2000ms);
    // Datagrams that are already queued, without waiting.
    std::size_t pending();

private:
    bool m_ipv6;
    boost::asio::io_context m_io;
    boost::asio::ip::udp::socket m_socket;
};

using testsupport::WarningCapture;

// Holds the context's loop in one handler until released, as a busy neighbour on the same port
// would: timers expire and datagrams queue up meanwhile. The loop's thread sleeps meanwhile, so
// it is not the one the scheduler makes wait afterwards.
class LoopStall
{
public:
    explicit LoopStall(UdpContext& context);
    ~LoopStall() { release(); }
    // Waits (bounded) until the loop's thread has entered the stall.
    bool waitHeld();
    void releaseAt(std::int64_t ns);
    void release();

private:
    std::promise<void> m_release;
    // Shared with the handler, which may run after the stall is gone.
    std::shared_ptr<std::promise<void>> m_held = std::make_shared<std::promise<void>>();
    std::atomic<bool> m_released{false};
};

// Runs on the context's loop a handler that hands out every datagram queued on the socket, and
// waits for it: afterwards the triggers of the context have seen whatever was sent before.
bool handOutQueued(UdpContext& context);

// The calling thread in a network namespace of its own with loopback up, for tests that shape
// loopback (tc) without touching the host's. Needs root; ready() says whether it could be made.
// The thread returns to its own namespace on destruction.
class PrivateNetwork
{
public:
    PrivateNetwork();
    ~PrivateNetwork();
    bool ready() const { return m_ready; }
    const std::string& why() const { return m_why; }
    // Runs an ip or tc command inside the namespace; true when it exited with 0.
    bool run(const std::string& command);

private:
    int m_home = -1;
    bool m_ready = false;
    std::string m_why;
};

// The registry's context of (family, port) with its loop thread already running, so that a
// stream's schedule does not pay for the thread's start on a busy machine.
std::shared_ptr<UdpContext> runningContext(bool ipv6, std::uint16_t port = 0);

} // namespace udptest
