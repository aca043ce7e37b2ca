#pragma once

#include "bus/PXEventHandler.h"
#include "bus/PXStatus.h"

#include <QCoreApplication>
#include <QTest>

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

} // namespace scenariotest
