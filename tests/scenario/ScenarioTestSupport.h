#pragma once

#include "BusRecorder.h"
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"
#include "scenario/PXScenarioManager.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

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

// The scenario manager on a bus of its own, started, and a recorder of what goes over the bus.
class ManagerOnBus : public ::testing::Test
{
protected:
    ManagerOnBus()
    {
        PXScenarioWorker::Timing timing;
        timing.gaugeInterval = std::chrono::milliseconds(50);
        manager = std::make_unique<PXScenarioManager>(bus, timing);
        manager->start();
    }
    ~ManagerOnBus() override
    {
        manager->stop();
        manager.reset();
    }

    // Publishes `value` on `id` and gives the status of the last `reply`; -1 when none came.
    int set(int id, const std::string& value, int reply)
    {
        ++published[id];
        bus->publish(id, value);
        return std::stoi(recorder.last(reply).value_or("-1"));
    }

    std::string resultList()
    {
        bus->publish(GET_RESULT_LIST);
        return recorder.lastText(RESULT_LIST);
    }

    // The last answer on `id` to the request `request`, as a number.
    unsigned long answer(int request, int id)
    {
        bus->publish(request);
        return std::stoul(recorder.last(id).value_or("0"));
    }

    std::shared_ptr<PXEventBus> bus = std::make_shared<PXEventBus>();
    testsupport::BusRecorder recorder{
        *bus,
        {SCENARIO_DESCRIPTION_SET, SCENARIO_START_TIME, SET_SCENARIO_START_TIME,
         SCENARIO_START_TIME_SET, ABORT_DETECTION_INTERVAL, ABORT_DETECTION_INTERVAL_SET,
         RESULT_LIST, RESULT_LIST_SET, SCENARIO_STARTING, SCENARIO_ENDED, SCENARIO_DESCRIPTION}};
    // The requests the test published, per id: the rest on the same id is the manager's.
    std::map<int, int> published;
    std::unique_ptr<PXScenarioManager> manager;
};

} // namespace scenariotest
