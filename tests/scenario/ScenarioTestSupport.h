#pragma once

#include "bus/PXEventBus.h"
#include "bus/PXEventHandler.h"
#include "bus/PXEventType.h"
#include "bus/PXStatus.h"
#include "scenario/PXScenarioManager.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace scenariotest {

// Runs the Qt event loop until pred() holds or the timeout passes; returns pred().
template <typename Predicate> bool waitFor(Predicate pred, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return pred();
        QTest::qWait(5);
    }
    return true;
}

// Everything published on the ids it subscribes to, in order.
class EventRecorder : public PXEventHandler
{
public:
    struct Entry
    {
        int id = 0;
        std::string text;
        unsigned long number = 0;
        int status = -1;
        float speed = 0.0f;
    };

    using PXEventHandler::handleEvent;
    void handleEvent(int eventId, PXEmptyEventContents) override
    {
        events.push_back(make(eventId));
    }
    void handleEvent(int eventId, std::string value) override
    {
        Entry entry = make(eventId);
        entry.text = value;
        events.push_back(entry);
    }
    void handleEvent(int eventId, unsigned long value) override
    {
        Entry entry = make(eventId);
        entry.number = value;
        events.push_back(entry);
    }
    void handleEvent(int eventId, PXStatus value) override
    {
        Entry entry = make(eventId);
        entry.status = statusCode(value);
        events.push_back(entry);
    }
    void handleEvent(int eventId, float value) override
    {
        Entry entry = make(eventId);
        entry.speed = value;
        events.push_back(entry);
    }

    static Entry make(int id)
    {
        Entry entry;
        entry.id = id;
        return entry;
    }

    const Entry* last(int id) const
    {
        for (auto it = events.rbegin(); it != events.rend(); ++it) {
            if (it->id == id)
                return &*it;
        }
        return nullptr;
    }
    int count(int id) const
    {
        int n = 0;
        for (const Entry& entry : events)
            n += entry.id == id ? 1 : 0;
        return n;
    }

    std::vector<Entry> events;
};

// The scenario manager on a bus of its own, started, and a recorder of what goes over the bus.
class ManagerOnBus : public ::testing::Test
{
protected:
    ManagerOnBus()
    {
        PXScenarioWorker::Timing timing;
        timing.gaugeInterval = std::chrono::milliseconds(50);
        manager = std::make_unique<PXScenarioManager>(bus, timing);
        for (int id : {SCENARIO_DESCRIPTION_SET, SCENARIO_START_TIME, SET_SCENARIO_START_TIME,
                       SCENARIO_START_TIME_SET, ABORT_DETECTION_INTERVAL,
                       ABORT_DETECTION_INTERVAL_SET, RESULT_LIST, RESULT_LIST_SET,
                       SCENARIO_STARTING, RX_SPEED, TX_SPEED, SCENARIO_ENDED, SCENARIO_DESCRIPTION})
            bus->subscribe(id, &recorder);
        manager->start();
    }
    ~ManagerOnBus() override
    {
        manager->stop();
        manager.reset();
        bus->unsubscribe(&recorder);
    }

    // Publishes `value` on `id` and gives the status of the last `reply`; -1 when none came.
    int set(int id, const std::string& value, int reply)
    {
        bus->publish(id, value);
        const auto* answer = recorder.last(reply);
        return answer ? answer->status : -1;
    }

    std::string resultList()
    {
        bus->publish(GET_RESULT_LIST);
        return recorder.last(RESULT_LIST)->text;
    }

    std::shared_ptr<PXEventBus> bus = std::make_shared<PXEventBus>();
    EventRecorder recorder;
    std::unique_ptr<PXScenarioManager> manager;
};

} // namespace scenariotest
