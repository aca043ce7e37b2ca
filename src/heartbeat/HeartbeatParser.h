#pragma once

#include "bus/AppState.h"
#include "bus/PXEventHandler.h"
#include "bus/TimePoint.h"

#include <QObject>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

class PXEventBus;
class QTimer;

// Turns one request from the hub into events on the bus, gathers the answering events and emits
// exactly one framed reply per request. It knows nothing of what the variables mean: three fixed
// tables map names to events and back.
//
// Main thread only (the bus's thread): processCommand() runs from the heartbeat manager's queued
// slot and answers arrive synchronously from the bus. No locks.
class HeartbeatParser : public QObject, public PXEventHandler
{
    Q_OBJECT

public:
    explicit HeartbeatParser(std::shared_ptr<PXEventBus> bus, QObject* parent = nullptr);
    ~HeartbeatParser() override;

    // Emits onResponse before returning, or later when the last answer arrives, or when the
    // answer timeout passes first.
    void processCommand(const std::string& payload, roamnode::time_point receivedAt);

    // How long a request waits for answers that the managers have not given yet. Once it has
    // passed, the request is answered with what arrived and "variable-error" for the rest.
    void setAnswerTimeout(std::int64_t milliseconds);

    static std::string buildHello(unsigned count, const std::string& uuid, AppState state);

    using PXEventHandler::handleEvent;
    void handleEvent(int eventId, PXEmptyEventContents) override;
    void handleEvent(int eventId, int value) override;
    void handleEvent(int eventId, float value) override;
    void handleEvent(int eventId, unsigned long value) override;
    void handleEvent(int eventId, std::string value) override;
    void handleEvent(int eventId, bool value) override;
    void handleEvent(int eventId, PXStatus value) override;

signals:
    void onResponse(std::string reply);

private slots:
    void onAnswerTimeout();

private:
    struct Pending
    {
        bool answered = false;
        std::string value;
    };

    void requestVariable(const std::string& name, roamnode::time_point receivedAt);
    // Enters the name as pending and returns the request's event id from the table, or 0 for a
    // name the table does not know (then recorded as an answered error).
    template <typename Table> int enterPending(const std::string& name, const Table& table);
    void setVariable(const std::string& name, const std::string& value,
                     roamnode::time_point receivedAt);
    void recordAnswer(int eventId, const std::string& value);
    void markAnswered(Pending& pending);
    void checkComplete();
    void reply();
    std::string replyText(bool withArrivedValues) const;
    void clearPending();

    std::shared_ptr<PXEventBus> m_bus;
    bool m_isSet = false;
    std::uint32_t m_status = 0;
    std::string m_errorMessage;
    // Why the local policy refused this request's description, naming the value; it wins over
    // the codes that follow from the refusal (a start time then finds no description).
    std::string m_refusal;
    // Names in byte order; a null record is a name announced but not requested yet.
    std::map<std::string, std::unique_ptr<Pending>> m_pending;
    // Names of m_pending not answered yet, so that each answer costs no walk over the map.
    std::size_t m_unanswered = 0;
    // True from the start of a request until its reply has been emitted.
    bool m_requestOpen = false;
    std::int64_t m_answerTimeout = 5000;
    QTimer* m_answerTimer;
};
