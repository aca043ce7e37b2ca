#include "flows/MultiConnect.h"

#include "bus/TimePoint.h"

#include <QDebug>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/system_timer.hpp>
#include <boost/system/system_error.hpp>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include <sys/prctl.h>

namespace {

constexpr std::int64_t kRestartMinimumNs = 500000000;
// Keeps now + initialTimeToWait inside the clock's range whatever the hub sends.
constexpr std::int64_t kMaxWaitNs =
    std::int64_t(100) * 365 * 24 * 3600 * roamnode::kNanosecondsPerSecond;

std::string pathNameOf(const std::string& url)
{
    const std::size_t p1 = url.find('/');
    if (p1 == std::string::npos) {
        return url;
    }
    const std::size_t p2 = url.find('/', p1 + 1);
    const std::size_t p3 = p2 == std::string::npos ? p2 : url.find('/', p2 + 1);
    if (p3 == std::string::npos) {
        return url.substr(p1 + 1);
    }
    return url.substr(p1 + 1, p3 - p1 - 1);
}

} // namespace

// The engine's state. It is shared between the MultiConnect and its thread: the thread keeps it
// alive while its event loop runs, so even if the last owner of the MultiConnect lets go on the
// engine thread (inside a listener call), the loop and its handlers never outlive their state.
// Handlers therefore capture a plain pointer to it.
//
// Thread ownership: everything below except `stopped`, `joinMutex`, `thread`, `threadId` and
// `startCalled` is touched only on the engine thread once start() has run.
struct EngineState
{
    boost::asio::io_context eventLoop;
    MultiConnect::Config config;
    boost::asio::system_timer startTimer{eventLoop};
    std::int64_t firstStart = 0;
    std::int64_t connectionStart = 0;
    std::shared_ptr<TcpClient> client;
    std::weak_ptr<MultiConnect::Listener> listener;
    std::atomic<bool> stopped{false};
    std::string pathName;
    std::int64_t connectionCount = 0;
    std::thread thread;

    std::weak_ptr<MultiConnect> owner;
    std::atomic<std::thread::id> threadId{};
    std::mutex joinMutex; // start(), stop() and the destructor; never taken on the engine thread
    bool startCalled = false;
    bool finishReported = false;
    // Set when the server refused a request: the flow ends with it, without a new connection.
    std::string failure;

    void run();
    void on_start_timer(const boost::system::error_code& error);
    void start_connection(std::int64_t ns);
    void on_client_finished();
    void handle_connection_end(const boost::system::error_code& error);
    void stop_work();
    void report_finished();
    bool onEngineThread() const { return std::this_thread::get_id() == threadId.load(); }
};

class MultiConnect::Impl
{
public:
    std::shared_ptr<EngineState> state = std::make_shared<EngineState>();
};

void EngineState::run()
{
    threadId = std::this_thread::get_id();
    // A rate-limited PUT waits for its credit to the microsecond; the kernel's default 50 us of
    // timer slack would be added to every such wait.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // Handlers catch their own failures; this is the last net so that nothing ends the process.
    for (;;) {
        try {
            eventLoop.run();
            return;
        } catch (const std::exception& e) {
            qWarning() << "Multiconnect: run: error:" << e.what();
        }
    }
}

void EngineState::on_start_timer(const boost::system::error_code& error)
{
    // A stop that came after the timer had expired finds nothing to cancel; it ends here too.
    if (error == boost::asio::error::operation_aborted || stopped) {
        report_finished();
        return;
    }
    firstStart = roamnode::nowNanoseconds();
    start_connection(config.duration);
}

void EngineState::start_connection(std::int64_t ns)
{
    std::shared_ptr<MultiConnect> self = owner.lock();
    if (!self) {
        return;
    }
    ++connectionCount;
    connectionStart = roamnode::nowNanoseconds();

    std::string target = "/" + pathName;
    if (config.restart) {
        target += "-" + std::to_string(connectionCount);
    }
    target += "/";
    target += "?ns=" + std::to_string(ns);
    if (config.rateLimit > 0) {
        target += "&";
        target += "rate=" + std::to_string(config.rateLimit);
    }

    TcpClient::Config clientConfig;
    clientConfig.host = config.destination;
    clientConfig.target = target;
    clientConfig.ipv6 = config.ipv6;
    clientConfig.method = config.method;
    clientConfig.srcPort = config.srcPort;
    clientConfig.dstPort = config.dstPort;
    clientConfig.tos = config.tos;
    clientConfig.ns = ns;
    clientConfig.rateLimit = config.rateLimit;
    clientConfig.connectTimeout = config.connectTimeout;
    clientConfig.trafficTimeout = config.trafficTimeout;

    try {
        // A local reference: a client that fails at once finishes inside start(), and
        // on_client_finished drops `client` while start() is still running.
        auto newClient = std::make_shared<TcpClient>(self, clientConfig, eventLoop);
        client = newClient;
        newClient->start();
    } catch (const std::exception& e) {
        qWarning() << "Multiconnect: start_connection: error:" << e.what();
        client.reset();
        report_finished();
    }
}

void EngineState::on_client_finished()
{
    client.reset();
    const std::int64_t remaining = config.duration - (roamnode::nowNanoseconds() - firstStart);
    // A server that refused one request refuses the next: restarting would only make
    // connections as fast as it answers.
    if (remaining > kRestartMinimumNs && config.restart && !stopped && failure.empty()) {
        boost::asio::post(eventLoop, [this] { handle_connection_end({}); });
        return;
    }
    report_finished();
}

void EngineState::handle_connection_end(const boost::system::error_code& error)
{
    if (error) {
        qWarning().nospace() << "Multiconnect: handle_connection_end: error: "
                             << error.message().c_str() << " (code " << error.value() << ")";
        return;
    }
    const std::int64_t remaining = config.duration - (roamnode::nowNanoseconds() - firstStart);
    // Every connection after the first uses a port chosen by the system: the first one's port
    // may still be held by the closed connection.
    config.srcPort = 0;
    if (stopped) {
        return;
    }
    if (remaining >= 1) {
        start_connection(remaining);
    } else {
        // Only a clock step back can bring this about; the flow still learns that it is over.
        report_finished();
    }
}

void EngineState::stop_work()
{
    startTimer.cancel();
    if (std::shared_ptr<TcpClient> current = client) {
        current->finish();
    }
}

void EngineState::report_finished()
{
    if (finishReported) {
        return;
    }
    finishReported = true;
    if (std::shared_ptr<MultiConnect::Listener> flow = listener.lock()) {
        if (failure.empty()) {
            flow->onFinished();
        } else {
            flow->onFailed(failure);
        }
    }
}

MultiConnect::MultiConnect(const std::shared_ptr<Listener>& listener, const Config& config)
    : m_impl(std::make_unique<Impl>())
{
    boost::system::error_code error;
    boost::asio::ip::make_address(config.destination, error);
    if (error) {
        throw boost::system::system_error(error, "invalid destination address '" +
                                                     config.destination + "'");
    }
    EngineState& state = *m_impl->state;
    state.config = config;
    state.listener = listener;
    state.pathName = pathNameOf(config.url);
}

MultiConnect::~MultiConnect()
{
    std::shared_ptr<EngineState> state = m_impl->state;
    if (state->onEngineThread()) {
        // The last owner let go inside a listener call: the thread cannot join itself. It ends
        // on its own once the queued stop has closed the connection, and keeps the state alive
        // until then.
        state->stopped = true;
        boost::asio::post(state->eventLoop, [raw = state.get()] { raw->stop_work(); });
        std::lock_guard<std::mutex> lock(state->joinMutex);
        if (state->thread.joinable()) {
            state->thread.detach();
        }
        return;
    }
    stop();
}

void MultiConnect::start()
{
    std::shared_ptr<MultiConnect> self = shared_from_this();
    std::shared_ptr<EngineState> state = m_impl->state;
    std::lock_guard<std::mutex> lock(state->joinMutex);
    if (state->startCalled || state->stopped) {
        return;
    }
    state->startCalled = true;
    state->owner = self;

    const std::int64_t wait =
        std::clamp<std::int64_t>(state->config.initialTimeToWait, 0, kMaxWaitNs);
    state->startTimer.expires_at(std::chrono::system_clock::now() +
                                 std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                     std::chrono::nanoseconds(wait)));
    state->startTimer.async_wait([raw = state.get()](const boost::system::error_code& error) {
        raw->on_start_timer(error);
    });
    state->thread = std::thread([state] { state->run(); });
    state->threadId = state->thread.get_id();
}

void MultiConnect::stop()
{
    std::shared_ptr<EngineState> state = m_impl->state;
    state->stopped = true;
    boost::asio::post(state->eventLoop, [raw = state.get()] { raw->stop_work(); });
    if (state->onEngineThread()) {
        return;
    }
    std::lock_guard<std::mutex> lock(state->joinMutex);
    if (state->thread.joinable()) {
        state->thread.join();
    }
    // The thread has ended (or never ran): nothing else touches the client now.
    state->client.reset();
}

const std::string& MultiConnect::pathName() const
{
    return m_impl->state->pathName;
}

void MultiConnect::onClientFinished()
{
    m_impl->state->on_client_finished();
}

void MultiConnect::onClientFailed(const std::string& reason)
{
    m_impl->state->failure = reason;
}

void MultiConnect::onBytes(std::size_t bytes, roamnode::time_point now)
{
    if (std::shared_ptr<Listener> flow = m_impl->state->listener.lock()) {
        flow->onBytes(bytes, now);
    }
}
