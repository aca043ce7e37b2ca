#include "UdpTestPeers.h"
#include "scenario/PXFlowResult.h"
#include "scenario/PXScenarioExecutor.h"
#include "scenario/PXScenarioResult.h"
#include "scenario/flows/PXFlow.h"

#include <gtest/gtest.h>

#include <limits>

using namespace std::chrono_literals;

namespace {

// What the executor asks of the flows of a run, in order ("run 0", "stop 0", "release 0", ...),
// and the ends of the run, the first one timed in ns of system time.
class RunLog : public PXScenarioExecutor::Listener, public udptest::ReportLog<std::string>
{
public:
    void onScenarioFinished() override { end(); }
    void note(const std::string& call) { add(call); }
};

class RecordingFlow : public PXFlow
{
public:
    RecordingFlow(std::uint32_t id, RunLog& log)
        : PXFlow(id, FlowKind::UdpTrigger, IpVersion::V4, std::make_shared<PXFlowResult>(id)),
          m_log(log)
    {
    }
    void run() override { m_log.note("run " + std::to_string(id())); }
    void stop() override { m_log.note("stop " + std::to_string(id())); }
    void releaseEngine() override { m_log.note("release " + std::to_string(id())); }

private:
    RunLog& m_log;
};

std::shared_ptr<PXScenarioRun> scenarioWithFlows(std::uint64_t duration, int flows, RunLog& log)
{
    auto run = std::make_shared<PXScenarioRun>();
    run->duration = duration;
    run->result = std::make_shared<PXScenarioResult>(1);
    for (int i = 0; i < flows; ++i)
        run->flows.push_back(std::make_shared<RecordingFlow>(i, log));
    return run;
}

// The calls of a whole run of `flows` flows: each run, then each stopped, then each released.
std::vector<std::string> wholeRun(int flows)
{
    std::vector<std::string> calls;
    for (const char* call : {"run ", "stop ", "release "})
        for (int i = 0; i < flows; ++i)
            calls.push_back(call + std::to_string(i));
    return calls;
}

} // namespace

TEST(ScenarioExecutorTest, RunsItsDurationPlusGraceOrStopsAtAnAbortThenReleasesEachFlowOnce)
{
    RunLog log;
    RunLog aborting; // outlives the executor that tells it
    auto executor =
        std::make_shared<PXScenarioExecutor>(&log, scenarioWithFlows(100000000, 3, log));
    const std::int64_t started = roamnode::nowNanoseconds();
    executor->start();
    EXPECT_TRUE(executor->running());
    EXPECT_EQ(log.frames(), (std::vector<std::string>{"run 0", "run 1", "run 2"}));
    ASSERT_TRUE(log.waitFinished(3000ms));
    EXPECT_GE(log.finishedAt() - started, 345000000);
    EXPECT_LT(log.finishedAt() - started, 1500000000);
    EXPECT_EQ(log.frames(), wholeRun(3));
    EXPECT_TRUE(executor->finished());
    EXPECT_FALSE(executor->running());
    executor->stop(); // after the end: nothing more happens
    executor.reset();
    EXPECT_EQ(log.frames(), wholeRun(3));
    EXPECT_EQ(log.finishedCount(), 1);

    // An abort stops at once; a second one finds the run stopping.
    executor = std::make_shared<PXScenarioExecutor>(&aborting,
                                                    scenarioWithFlows(60000000000, 2, aborting));
    executor->start();
    const std::int64_t aborted = roamnode::nowNanoseconds();
    executor->stop();
    executor->stop();
    ASSERT_TRUE(aborting.waitFinished(2000ms));
    EXPECT_LT(aborting.finishedAt() - aborted, 1000000000);
    EXPECT_EQ(aborting.frames(), wholeRun(2));
    executor->join();
    EXPECT_EQ(aborting.finishedCount(), 1);

    // Dropped at once, an executor still ends its run.
    RunLog dropped;
    std::make_shared<PXScenarioExecutor>(&dropped, scenarioWithFlows(50000000, 1, dropped), 0ns)
        ->start();
    ASSERT_TRUE(dropped.waitFinished(2000ms));
    EXPECT_EQ(dropped.frames(), wholeRun(1));
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
