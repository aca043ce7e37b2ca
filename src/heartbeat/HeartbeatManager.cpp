#include "heartbeat/HeartbeatManager.h"

#include "heartbeat/HeartbeatParser.h"

#include "bus/HubInteger.h"
#include "bus/MetaTypes.h"
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"

#include <QThread>
#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

// The session gives up on a reply this long after the parser's own answer timeout: only a main
// thread that no longer runs its event loop gets that far.
constexpr std::int64_t kReplyGraceMs = 2000;

// How long the session thread watches for a reply before it sleeps on the condition variable.
constexpr std::chrono::microseconds kReplySpin{300};

// How long destruction waits for the session thread to finish its exchange.
constexpr unsigned long kThreadEndMs = 2000;

} // namespace

struct HeartbeatManager::Impl
{
    explicit Impl(std::shared_ptr<PXEventBus> bus) : bus(bus), parser(bus) {}

    std::shared_ptr<PXEventBus> bus;

    // Written on the main thread, copied by the session thread at the start of each exchange.
    mutable std::mutex settingsMutex;
    HeartbeatSettings settings;
    std::string reachedAddress; // under settingsMutex too
    // Mirrors of the two periods, so currentInterval() needs no lock.
    std::atomic<std::int64_t> interval{1000};
    std::atomic<std::int64_t> contactInterval{1000};

    std::string uuid;
    HeartbeatParser parser;
    std::shared_ptr<HeartbeatSession> session;
    std::shared_ptr<QThread> sessionThread;
    std::int64_t scenarioStartTime = kNoStartTime;
    std::atomic<std::uint32_t> state{Stopped};
    unsigned heartbeatCount = 0;
    unsigned failuresSinceRegistration = 0;

    // The hand-over of a reply from the main thread to the session thread. Every request the
    // parser gets is answered exactly once, so counting requests and replies pairs them up.
    std::mutex replyMutex;
    std::condition_variable replyReady;
    std::string reply;
    std::uint64_t requestsSent = 0;
    // Written under the mutex; atomic so that the session thread can watch it without the lock.
    std::atomic<std::uint64_t> repliesReceived{0};
    bool shuttingDown = false;

    AppState appState = BOOTING;

    // Session thread: the last contact result it reported, so that only changes cross over.
    std::string contactFailure;
    // Main thread: the failure last told to the user; empty once the hub was reached.
    std::string reportedFailure;
};

HeartbeatManager::HeartbeatManager(std::shared_ptr<PXEventBus> bus)
    : m_impl(std::make_unique<Impl>(std::move(bus)))
{
    m_impl->session = std::make_shared<HeartbeatSession>(this);
    m_impl->sessionThread = std::make_shared<QThread>();
    m_impl->sessionThread->setObjectName("heartbeat");
    m_impl->sessionThread->start();

    roamnode::registerMetaTypes();
    qRegisterMetaType<std::shared_ptr<HeartbeatSession>>("std::shared_ptr<HeartbeatSession>");

    for (const int id :
         {SCENARIO_STARTING, SCENARIO_ENDED, SET_HEARTBEAT_INTERVAL, GET_HEARTBEAT_INTERVAL,
          SET_MAX_HEARTBEAT_FAIL_COUNT, GET_MAX_HEARTBEAT_FAIL_COUNT, DEVICE_ID,
          SET_SCENARIO_START_TIME, GET_LOCAL_TIME, APP_STATE_CHANGED}) {
        m_impl->bus->subscribe(id, this);
    }

    connect(this, &HeartbeatManager::heartbeat, this, &HeartbeatManager::onHeartbeatSignal);
    connect(this, &HeartbeatManager::heartbeatStopped, this, &HeartbeatManager::onHeartbeatStopped);
    connect(this, &HeartbeatManager::commandReceived, this, &HeartbeatManager::onCommandReceived);
    connect(this, &HeartbeatManager::contactChanged, this, &HeartbeatManager::onContactChanged);
    connect(&m_impl->parser, &HeartbeatParser::onResponse, this,
            &HeartbeatManager::onCommandResponse);

    m_impl->session->moveToThread(m_impl->sessionThread.get());
}

HeartbeatManager::~HeartbeatManager()
{
    m_impl->bus->unsubscribe(this);
    m_impl->session->stop();
    m_impl->state = Stopped;

    // Ask, don't force: the running exchange is cancelled, a waiting request is woken, and the
    // thread's event loop is told to quit.
    m_impl->session->abort();
    {
        std::lock_guard<std::mutex> lock(m_impl->replyMutex);
        m_impl->shuttingDown = true;
    }
    m_impl->replyReady.notify_all();
    m_impl->sessionThread->quit();
    if (!m_impl->sessionThread->wait(kThreadEndMs)) {
        // Destroying a running QThread aborts the process; leaving the thread and the session
        // it runs behind is the lesser harm at shutdown.
        qWarning("Heartbeat: session thread did not finish in time");
        new std::shared_ptr<QThread>(std::move(m_impl->sessionThread));
        new std::shared_ptr<HeartbeatSession>(std::move(m_impl->session));
    }
    m_impl->session.reset();
    m_impl->sessionThread.reset();
}

void HeartbeatManager::start()
{
    m_impl->bus->publish(GET_DEVICE_ID);
}

void HeartbeatManager::stop()
{
    stopHeartbeat(true);
}

void HeartbeatManager::setSettings(const HeartbeatSettings& settings)
{
    std::lock_guard<std::mutex> lock(m_impl->settingsMutex);
    m_impl->settings = settings;
    m_impl->interval = settings.interval;
    m_impl->contactInterval = settings.contactInterval;
}

void HeartbeatManager::setRvpAddress(const std::string& address)
{
    const roamnode::RvpAddress parsed = roamnode::parseRvpAddress(address);
    std::lock_guard<std::mutex> lock(m_impl->settingsMutex);
    m_impl->settings.rvpAddress = address;
    m_impl->settings.rvpHost = parsed.host;
    m_impl->settings.rvpPort = parsed.port;
    m_impl->settings.tls = parsed.tls;
    m_impl->reachedAddress.clear();
}

void HeartbeatManager::setTls(std::shared_ptr<roamnode::TlsClientContext> context,
                              const std::string& whyNot)
{
    std::lock_guard<std::mutex> lock(m_impl->settingsMutex);
    m_impl->settings.tlsContext = std::move(context);
    m_impl->settings.tlsUnavailable = whyNot;
}

std::string HeartbeatManager::rvpAddress() const
{
    std::lock_guard<std::mutex> lock(m_impl->settingsMutex);
    return m_impl->settings.rvpAddress;
}

std::vector<std::string> HeartbeatManager::hubAddresses() const
{
    std::lock_guard<std::mutex> lock(m_impl->settingsMutex);
    std::vector<std::string> addresses{m_impl->settings.rvpHost};
    if (!m_impl->reachedAddress.empty())
        addresses.push_back(m_impl->reachedAddress);
    return addresses;
}

void HeartbeatManager::hubReached(const std::string& address)
{
    std::lock_guard<std::mutex> lock(m_impl->settingsMutex);
    m_impl->reachedAddress = address;
}

HeartbeatManager::HeartbeatState HeartbeatManager::heartbeatState() const
{
    return static_cast<HeartbeatState>(m_impl->state.load());
}

unsigned HeartbeatManager::heartbeatCount() const
{
    return m_impl->heartbeatCount;
}

unsigned HeartbeatManager::failuresSinceRegistration() const
{
    return m_impl->failuresSinceRegistration;
}

std::int64_t HeartbeatManager::scenarioStartTime() const
{
    return m_impl->scenarioStartTime;
}

HeartbeatSettings HeartbeatManager::settings() const
{
    std::lock_guard<std::mutex> lock(m_impl->settingsMutex);
    return m_impl->settings;
}

bool HeartbeatManager::isActive() const
{
    return m_impl->state != Stopped;
}

std::int64_t HeartbeatManager::currentInterval() const
{
    return m_impl->state == Registered ? m_impl->interval.load() : m_impl->contactInterval.load();
}

void HeartbeatManager::heartbeatDone(bool failed)
{
    emit heartbeat(failed);
}

void HeartbeatManager::sessionStopped()
{
    emit heartbeatStopped();
}

void HeartbeatManager::contactResult(const std::string& failure)
{
    if (failure == m_impl->contactFailure)
        return;
    m_impl->contactFailure = failure;
    emit contactChanged(failure);
}

void HeartbeatManager::onContactChanged(const std::string& failure)
{
    Impl& d = *m_impl;
    if (failure == d.reportedFailure)
        return;
    d.reportedFailure = failure;
    if (failure.empty())
        return;
    // Once per reason: an endpoint that cannot reach its hub for a week writes a line per
    // change, not one per heartbeat.
    const HeartbeatSettings current = settings();
    const bool ipv6 = current.rvpHost.find(':') != std::string::npos;
    std::fprintf(stderr, "cannot reach %s%s%s:%u: %s\n", ipv6 ? "[" : "", current.rvpHost.c_str(),
                 ipv6 ? "]" : "", static_cast<unsigned>(current.rvpPort), failure.c_str());
    d.bus->publish(HEARTBEAT_CONNECT_FAILED);
}

std::string HeartbeatManager::processRequest(const std::string& request,
                                             roamnode::time_point receivedAt)
{
    const std::int64_t answerTimeout = settings().answerTimeout;
    std::unique_lock<std::mutex> lock(m_impl->replyMutex);
    if (m_impl->shuttingDown)
        return std::string();
    const std::uint64_t ticket = ++m_impl->requestsSent;
    emit commandReceived(request, receivedAt);
    lock.unlock();

    // The main thread answers most requests within a fraction of a millisecond. Watching for the
    // reply awake for that long spares the wake-up from the condition variable: on a busy machine
    // a woken thread can wait for a CPU until the next scheduler tick, milliseconds later. The
    // ticket counts make it harmless that the reply may be stored before anyone waits for it.
    // Yielding hands this CPU to the main thread whenever the scheduler queued it here.
    const auto spinUntil = std::chrono::steady_clock::now() + kReplySpin;
    while (m_impl->repliesReceived.load() < ticket && std::chrono::steady_clock::now() < spinUntil)
        std::this_thread::yield();

    lock.lock();
    const bool replied = m_impl->replyReady.wait_for(
        lock, std::chrono::milliseconds(std::max<std::int64_t>(answerTimeout, 0) + kReplyGraceMs),
        [this, ticket]() { return m_impl->repliesReceived >= ticket || m_impl->shuttingDown; });
    if (!replied || m_impl->shuttingDown)
        return std::string();
    std::string reply = m_impl->reply;
    lock.unlock();

    if (m_impl->state == Stopped) {
        emit heartbeatStopped();
        return std::string();
    }
    return reply;
}

void HeartbeatManager::onCommandReceived(const std::string& request,
                                         roamnode::time_point receivedAt)
{
    m_impl->parser.setAnswerTimeout(settings().answerTimeout);
    m_impl->parser.processCommand(request, receivedAt);
}

void HeartbeatManager::onCommandResponse(std::string reply)
{
    {
        std::lock_guard<std::mutex> lock(m_impl->replyMutex);
        m_impl->reply = std::move(reply);
        ++m_impl->repliesReceived;
    }
    m_impl->replyReady.notify_all();
}

void HeartbeatManager::onHeartbeatSignal(bool failed)
{
    Impl& d = *m_impl;
    ++d.heartbeatCount;

    if (d.state != Stopped) {
        bool stateChanged = false;
        if (failed) {
            ++d.failuresSinceRegistration;
            if (d.state == Registered &&
                d.failuresSinceRegistration >= settings().maxHeartbeatFailCount) {
                d.bus->publish(HEARTBEAT_FAILED);
                setState(Contacting);
                stateChanged = true;
            }
            d.bus->publish(HEARTBEAT_MISSED);
        } else {
            if (d.state == Contacting) {
                d.bus->publish(HEARTBEAT_CONNECTED);
                setState(Registered);
                d.failuresSinceRegistration = 0;
                stateChanged = true;
            }
            d.bus->publish(HEARTBEAT_OK);
        }
        if (stateChanged)
            d.session->restartTimer(currentInterval());
    }

    updateHello();
    if (d.state != Stopped)
        checkStartTime();
}

void HeartbeatManager::onHeartbeatStopped()
{
    setState(Stopped);
}

void HeartbeatManager::handleEvent(int eventId, PXEmptyEventContents)
{
    Impl& d = *m_impl;
    switch (eventId) {
    case SCENARIO_STARTING:
        stopHeartbeat(true);
        break;
    case SCENARIO_ENDED:
        d.scenarioStartTime = kNoStartTime;
        startHeartbeat(d.appState);
        break;
    case GET_HEARTBEAT_INTERVAL:
        // What was set, even where the timer uses a longer period.
        d.bus->publish(HEARTBEAT_INTERVAL,
                       static_cast<unsigned long>(settings().interval) * 1000000UL);
        break;
    case GET_MAX_HEARTBEAT_FAIL_COUNT:
        d.bus->publish(MAX_HEARTBEAT_FAIL_COUNT,
                       static_cast<int>(settings().maxHeartbeatFailCount));
        break;
    case GET_LOCAL_TIME: {
        // The time the parser stamped on the request: when it was received, not now.
        const roamnode::time_point received =
            currentEvent ? currentEvent->time : std::chrono::system_clock::now();
        d.bus->publish(LOCAL_TIME, static_cast<unsigned long>(roamnode::toNanoseconds(received)));
        break;
    }
    default:
        break;
    }
}

void HeartbeatManager::handleEvent(int eventId, unsigned long value)
{
    if (eventId != SET_SCENARIO_START_TIME)
        return;
    const auto nanoseconds = static_cast<std::int64_t>(value);
    m_impl->scenarioStartTime = nanoseconds / 1000 * 1000;
    checkStartTime();
}

void HeartbeatManager::handleEvent(int eventId, std::string value)
{
    Impl& d = *m_impl;
    switch (eventId) {
    case SET_HEARTBEAT_INTERVAL: {
        // Nanoseconds in, milliseconds kept; the running timer keeps its period until the next
        // start or state change.
        const std::int64_t milliseconds =
            roamnode::nanosecondsToMilliseconds(roamnode::hubInteger(value));
        {
            std::lock_guard<std::mutex> lock(d.settingsMutex);
            d.settings.interval = milliseconds;
            d.interval = milliseconds;
        }
        d.bus->publish(HEARTBEAT_INTERVAL_SET, PXStatus::Success);
        break;
    }
    case SET_MAX_HEARTBEAT_FAIL_COUNT: {
        const std::int64_t count = roamnode::hubInteger(value);
        {
            std::lock_guard<std::mutex> lock(d.settingsMutex);
            d.settings.maxHeartbeatFailCount = static_cast<std::uint32_t>(count);
        }
        d.bus->publish(MAX_HEARTBEAT_FAIL_COUNT_SET, PXStatus::Success);
        break;
    }
    case DEVICE_ID:
        d.uuid = value;
        break;
    default:
        break;
    }
}

void HeartbeatManager::handleEvent(int eventId, AppState value)
{
    if (eventId != APP_STATE_CHANGED)
        return;
    m_impl->appState = value;
    if (value == TRY_CONTACT_RVP)
        startHeartbeat(TRY_CONTACT_RVP);
}

void HeartbeatManager::setState(HeartbeatState state)
{
    m_impl->state = state;
}

void HeartbeatManager::startHeartbeat(AppState helloState)
{
    Impl& d = *m_impl;
    d.session->setHelloMessage(HeartbeatParser::buildHello(d.heartbeatCount, d.uuid, helloState));
    setState(Contacting);
    d.session->start();
    d.bus->publish(HEARTBEAT_STARTED);
}

void HeartbeatManager::stopHeartbeat(bool publish)
{
    m_impl->session->stop();
    setState(Stopped);
    if (publish)
        m_impl->bus->publish(HEARTBEAT_STOPPED);
}

void HeartbeatManager::updateHello()
{
    Impl& d = *m_impl;
    d.session->setHelloMessage(HeartbeatParser::buildHello(d.heartbeatCount, d.uuid, d.appState));
}

void HeartbeatManager::checkStartTime()
{
    Impl& d = *m_impl;
    if (d.scenarioStartTime == kNoStartTime)
        return;
    // A huge "heartbeatinterval" must not wrap.
    const std::int64_t ahead = roamnode::saturatingAdd(
        roamnode::nowNanoseconds(), roamnode::millisecondsToNanoseconds(d.interval.load()));
    if (ahead >= d.scenarioStartTime)
        stopHeartbeat(false);
}
