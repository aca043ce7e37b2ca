#pragma once

#include "heartbeat/HeartbeatSession.h"
#include "heartbeat/HeartbeatSettings.h"

#include "bus/AppState.h"
#include "bus/PXEventHandler.h"
#include "bus/TimePoint.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class PXEventBus;

// Owns the control channel: the settings, when the heartbeat runs and how often, the counts of
// good and failed exchanges, and whether the endpoint counts as registered with the hub. Hosts
// the session on a thread of its own and hands each request to the parser on the main thread.
//
// Threads: the manager, its parser, the session's timer and all bus traffic belong to the main
// thread. The session thread calls the HeartbeatSession::Parent operations: settings() takes the
// settings lock, isActive() and currentInterval() read atomics, heartbeatDone() and
// sessionStopped() only emit signals that arrive queued on the main thread, and processRequest()
// waits until the main thread has stored the reply: first briefly awake, watching the atomic
// reply count, then on the reply mutex and condition variable. The reply text itself is only
// read and written under that mutex.
class HeartbeatManager : public QObject, public PXEventHandler, public HeartbeatSession::Parent
{
    Q_OBJECT

public:
    enum HeartbeatState : std::uint32_t {
        Stopped = 0,
        Contacting = 1,
        Registered = 2,
    };

    // No scenario start time is known.
    static constexpr std::int64_t kNoStartTime = INT64_MIN;

    explicit HeartbeatManager(std::shared_ptr<PXEventBus> bus);
    ~HeartbeatManager() override;
    HeartbeatManager(const HeartbeatManager&) = delete;
    HeartbeatManager& operator=(const HeartbeatManager&) = delete;

    // Asks for the device id, which the hello carries.
    void start();
    void stop();

    // Main thread. Writes take the settings lock, so they may happen while exchanges run.
    void setSettings(const HeartbeatSettings& settings);
    // Stores the address as given plus its host and port ("host:port", "[v6]:port", ...).
    void setRvpAddress(const std::string& address);
    std::string rvpAddress() const;
    // For a "tls://" address: the context the exchanges use, or why there is none (told to the
    // user as the reason the hub cannot be reached).
    void setTls(std::shared_ptr<roamnode::TlsClientContext> context, const std::string& whyNot);
    // Any thread: the hub's numeric addresses known so far (the one given, if numeric, and the
    // one last reached), which a local policy always lets streams reach.
    std::vector<std::string> hubAddresses() const;

    HeartbeatState heartbeatState() const;
    unsigned heartbeatCount() const;
    unsigned failuresSinceRegistration() const;
    std::int64_t scenarioStartTime() const;

    // HeartbeatSession::Parent, called from the session thread (settings() from any thread).
    HeartbeatSettings settings() const override;
    bool isActive() const override;
    std::int64_t currentInterval() const override;
    void heartbeatDone(bool failed) override;
    void sessionStopped() override;
    void contactResult(const std::string& failure) override;
    void hubReached(const std::string& address) override;
    std::string processRequest(const std::string& request,
                               roamnode::time_point receivedAt) override;

    using PXEventHandler::handleEvent;
    void handleEvent(int eventId, PXEmptyEventContents) override;
    void handleEvent(int eventId, unsigned long value) override;
    void handleEvent(int eventId, std::string value) override;
    void handleEvent(int eventId, AppState value) override;

signals:
    void commandReceived(const std::string& request, roamnode::time_point receivedAt);
    void heartbeat(bool failed);
    void heartbeatStopped();
    void contactChanged(const std::string& failure);

private slots:
    void onCommandResponse(std::string reply);
    void onCommandReceived(const std::string& request, roamnode::time_point receivedAt);
    void onHeartbeatSignal(bool failed);
    void onHeartbeatStopped();
    void onContactChanged(const std::string& failure);

private:
    struct Impl;

    void setState(HeartbeatState state);
    void startHeartbeat(AppState helloState);
    void stopHeartbeat(bool publish);
    void updateHello();
    void checkStartTime();

    std::unique_ptr<Impl> m_impl;
};
