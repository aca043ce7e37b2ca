// The executor's run: its length, its end, an abort, and the end-time arithmetic.
#include "UdpTestPeers.h"
#include "scenario/PXFlowResult.h"
#include "scenario/PXScenarioExecutor.h"
#include "scenario/PXScenarioResult.h"
#include "scenario/flows/PXFlow.h"

#include <gtest/gtest.h>

#include <limits>

using namespace std::chrono_literals;

namespace {

// A flow without engine that records what the executor asks of it.
class RecordingFlow : public PXFlow
{
public:
    explicit RecordingFlow(std::uint32_t id)
        : PXFlow(id, FlowKind::UdpTrigger, IpVersion::V4, std::make_shared<PXFlowResult>(id))
    {
    }

    void stop() override { ++stops; }
    void releaseEngine() override
    {
        // The executor releases after every flow has been stopped.
        stoppedBeforeRelease = stops.load() > 0;
        ++releases;
    }
    void run() override { ++runs; }

    std::atomic<int> runs{0};
    std::atomic<int> stops{0};
    std::atomic<int> releases{0};
    std::atomic<bool> stoppedBeforeRelease{false};
};

// Counts the ends of a run and keeps the system time of the first, in ns.
class FinishWaiter : public PXScenarioExecutor::Listener, public udptest::ReportLog<int>
{
public:
    void onScenarioFinished() override { end(); }
};

std::shared_ptr<PXScenarioRun> scenarioWithFlows(std::uint64_t duration, int flows)
{
    auto run = std::make_shared<PXScenarioRun>();
    run->duration = duration;
    run->result = std::make_shared<PXScenarioResult>(1);
    for (int i = 0; i < flows; ++i)
        run->flows.push_back(std::make_shared<RecordingFlow>(i));
    return run;
}

RecordingFlow& recording(const std::shared_ptr<PXFlow>& flow)
{
    return static_cast<RecordingFlow&>(*flow);
}

} // namespace

// A run lasts its duration plus the grace, runs each flow once, then stops them all and only
// then releases them, once each.
TEST(ScenarioExecutorTest, RunsItsDurationPlusGraceAndStopsThenReleasesEachFlowOnce)
{
    FinishWaiter waiter;
    auto scenario = scenarioWithFlows(100000000, 3);
    auto executor = std::make_shared<PXScenarioExecutor>(&waiter, scenario);
    const std::int64_t started = roamnode::nowNanoseconds();
    executor->start();
    EXPECT_TRUE(executor->running());
    for (const auto& flow : scenario->flows)
        EXPECT_EQ(recording(flow).runs, 1);
    ASSERT_TRUE(waiter.waitFinished(3000ms));
    EXPECT_GE(waiter.finishedAt() - started, 345000000);
    EXPECT_LT(waiter.finishedAt() - started, 1500000000);
    for (const auto& flow : scenario->flows) {
        EXPECT_EQ(recording(flow).stops, 1);
        EXPECT_EQ(recording(flow).releases, 1);
        EXPECT_TRUE(recording(flow).stoppedBeforeRelease);
    }
    EXPECT_TRUE(executor->finished());
    EXPECT_FALSE(executor->running());
    executor->stop(); // after the end: nothing more happens
    executor.reset();
    EXPECT_EQ(recording(scenario->flows[0]).stops, 1);
    EXPECT_EQ(waiter.finishedCount(), 1);
}

// An abort ends the run at once, and a second one finds it stopping; an executor dropped while it
// runs still ends its run.
TEST(ScenarioExecutorTest, AbortStopsAtOnceAndADroppedExecutorStillEnds)
{
    FinishWaiter waiter;
    auto scenario = scenarioWithFlows(60000000000, 2);
    auto executor = std::make_shared<PXScenarioExecutor>(&waiter, scenario);
    executor->start();
    const std::int64_t aborted = roamnode::nowNanoseconds();
    executor->stop();
    executor->stop();
    ASSERT_TRUE(waiter.waitFinished(2000ms));
    EXPECT_LT(waiter.finishedAt() - aborted, 1000000000);
    for (const auto& flow : scenario->flows) {
        EXPECT_EQ(recording(flow).stops, 1);
        EXPECT_EQ(recording(flow).releases, 1);
    }
    executor->join();
    EXPECT_EQ(waiter.finishedCount(), 1);

    FinishWaiter dropped;
    auto shortRun = scenarioWithFlows(50000000, 1);
    std::make_shared<PXScenarioExecutor>(&dropped, shortRun, 0ns)->start();
    ASSERT_TRUE(dropped.waitFinished(2000ms));
    EXPECT_EQ(recording(shortRun->flows[0]).releases, 1);
}

TEST(ScenarioExecutorTest, EndTimeSaturates)
{
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(PXScenarioExecutor::endTime(1000, 5, 250ms), 1000 + 5 + 250000000);
    EXPECT_EQ(PXScenarioExecutor::endTime(1000, std::numeric_limits<std::uint64_t>::max(), 250ms),
              max);
    EXPECT_EQ(PXScenarioExecutor::endTime(1000, std::uint64_t(max) - 10, 250ms), max);
    EXPECT_EQ(PXScenarioExecutor::endTime(max - 5, 1, 0ns), max - 4);
    EXPECT_EQ(PXScenarioExecutor::endTime(max - 5, 10, 0ns), max);
}
