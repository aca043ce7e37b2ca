#include "LoopbackPort.h"
#include "device/PXNetworkInfoMonitorResultSet.h"
#include "scenario/PXScenarioResult.h"
#include "scenario/PXScenarioWorker.h"

#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

using namespace std::chrono_literals;
using Sample = PXScenarioGaugeWorker::SpeedSample;

namespace {

// A scenario of `triggers` real triggers, each on a port of its own that nothing sends to.
std::shared_ptr<PXScenarioPlan> scenarioWithFlows(std::uint64_t duration, int triggers)
{
    auto scenario = std::make_shared<PXScenarioPlan>();
    scenario->id = 11;
    scenario->duration = duration;
    for (int i = 0; i < triggers; ++i) {
        PXTriggerPlan trigger;
        trigger.engine.source = "127.0.0.1";
        trigger.engine.srcPort = 9;
        trigger.engine.dstPort = testsupport::unusedLoopbackPort(SOCK_DGRAM);
        scenario->flows.push_back({static_cast<std::uint32_t>(i), IpVersion::V4, trigger});
    }
    return scenario;
}

PXScenarioWorker::Timing fastTiming()
{
    PXScenarioWorker::Timing timing;
    timing.gaugeInterval = 50ms;
    timing.endGrace = 10ms;
    return timing;
}

// Counts the worker's signals on the main thread, whatever thread emits them.
class WorkerSignals : public QObject
{
public:
    explicit WorkerSignals(PXScenarioWorker& worker)
    {
        connect(&worker, &PXScenarioWorker::scenarioWillStart, this, [this] {
            ++starts;
            startedAt = roamnode::nowNanoseconds();
        });
        connect(&worker, &PXScenarioWorker::scenarioEnded, this, [this] { ++ends; });
        connect(&worker, &PXScenarioWorker::scenarioRxSpeed, this,
                [this](float v) { rx.push_back(v); });
        connect(&worker, &PXScenarioWorker::scenarioTxSpeed, this,
                [this](float v) { tx.push_back(v); });
    }
    int starts = 0;
    int ends = 0;
    std::int64_t startedAt = 0;
    std::vector<float> rx;
    std::vector<float> tx;
};

} // namespace

TEST(GaugeSpeedTest, ReportsWithinOneSecondAddUpAndOlderOnesAreLeftOut)
{
    const std::int64_t t = 50 * 1000000000LL;
    const std::int64_t ms = 1000000;
    const struct
    {
        std::vector<Sample> samples; // time, milliseconds of the report, bytes per second
        float mbps;
    } cases[] = {
        {{}, 0.0f},
        {{{t, 1000, 125000.0f}, {t + 3 * ms, 1000, 125000.0f}}, 2.0f},
        // A report over 2 s counts at its own rate.
        {{{t, 2000, 250000.0f}}, 1.0f},
        // 990 ms older than the newest: left out; 989 ms: counted.
        {{{t - 990 * ms, 1000, 125000.0f}, {t, 1000, 125000.0f}}, 1.0f},
        {{{t - 989 * ms, 1000, 125000.0f}, {t, 1000, 125000.0f}}, 2.0f},
        // The walk stops at the first old report: anything before it is left out, even if newer.
        {{{t - 10 * ms, 1000, 125000.0f}, {t - 995 * ms, 1000, 125000.0f}, {t, 1000, 125000.0f}},
         1.0f},
    };
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(PXScenarioGaugeWorker::speed(c.samples, 1000ms), c.mbps)
            << &c - cases << ": " << c.samples.size() << " samples";
}

TEST(GaugeLoopTest, EmitsOnlyWhileActive)
{
    PXScenarioWorker worker(fastTiming());
    WorkerSignals seen(worker);
    // Between runs: nothing, also with reports arriving.
    worker.onFlowRxSpeed(std::chrono::system_clock::now(), 125000.0f, 1000ms);
    QTest::qWait(200);
    EXPECT_TRUE(seen.rx.empty() && seen.tx.empty());

    worker.gauge()->setActive(true);
    const auto now = std::chrono::system_clock::now();
    worker.onFlowRxSpeed(now, 125000.0f, 1000ms);
    worker.onFlowRxSpeed(now + 1ms, 125000.0f, 1000ms);
    worker.onFlowTxSpeed(now, 250000.0f, 1000ms);
    // A tick between the activation and the reports may give a 0 before their figure.
    const auto firstFigure = [](const std::vector<float>& speeds) {
        return std::find_if(speeds.begin(), speeds.end(), [](float s) { return s != 0.0f; });
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return firstFigure(seen.rx) != seen.rx.end() && firstFigure(seen.tx) != seen.tx.end();
        },
        2000));
    EXPECT_FLOAT_EQ(*firstFigure(seen.rx), 2.0f);
    EXPECT_FLOAT_EQ(*firstFigure(seen.tx), 2.0f);
    // The samples were used once: the next ticks report 0.
    const auto used = static_cast<std::size_t>(firstFigure(seen.rx) - seen.rx.begin());
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.rx.size() >= used + 3; }, 2000));
    EXPECT_FLOAT_EQ(seen.rx.back(), 0.0f);

    worker.gauge()->setActive(false);
    QTest::qWait(120);
    const auto count = seen.rx.size();
    QTest::qWait(200);
    EXPECT_EQ(seen.rx.size(), count);
}

// A start time almost now starts on the next pass, not at once; a long wait is taken in steps and
// never ends early; of two start times the last one set counts, whichever timer fires first.
TEST(StartTimerTest, StartsOnTheNextPassNeverEarlyAndAtTheLastStartTime)
{
    auto timing = fastTiming();
    timing.maxTimerStep = 20ms;
    PXScenarioWorker worker(timing);
    WorkerSignals seen(worker);
    worker.setScenario(scenarioWithFlows(0, 0));
    worker.setStartTime(roamnode::nowNanoseconds() + 500000);
    EXPECT_EQ(seen.starts, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.starts == 1 && seen.ends == 1; }, 2000));
    worker.setScenario(scenarioWithFlows(0, 0));
    const std::int64_t target = roamnode::nowNanoseconds() + 150000000;
    worker.setStartTime(target);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.starts == 2 && seen.ends == 2; }, 2000));
    EXPECT_GE(seen.startedAt, target - 1000000);

    worker.setScenario(scenarioWithFlows(0, 0));
    const std::int64_t now = roamnode::nowNanoseconds();
    worker.setStartTime(now + 400000000);
    worker.setStartTime(now + 40000000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.starts == 3; }, 1000));
    EXPECT_GE(seen.startedAt, now + 40000000 - 1000000);
    QTest::qWait(500);
    EXPECT_EQ(seen.starts, 3);
    const auto records = worker.takeFinishedResults();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2]->timestamp(), now + 40000000);
}

// 2^31 ms and a bit ahead (as a 32-bit count of milliseconds this would be negative) stays
// scheduled; a new hand-over drops a schedule, and an abort clears the next. A stop does not wait
// for the gauge's next one-second tick.
TEST(StartTimerTest, FarAndClearedSchedulesDoNotStartAndStopIsPrompt)
{
    PXScenarioWorker worker;
    WorkerSignals seen(worker);
    const auto scenario = scenarioWithFlows(0, 0);
    worker.setScenario(scenario);
    const std::int64_t ahead = (std::int64_t(1) << 31) * 1000000 + 5000000000LL;
    worker.setStartTime(roamnode::nowNanoseconds() + ahead);
    QTest::qWait(200);
    EXPECT_EQ(seen.starts, 0);
    EXPECT_TRUE(worker.scheduled());
    worker.setScenario(scenario);
    EXPECT_FALSE(worker.scheduled());
    worker.setStartTime(roamnode::nowNanoseconds() + 20000000);
    worker.abortScenario();
    EXPECT_FALSE(worker.scheduled());
    QTest::qWait(150);
    EXPECT_EQ(seen.starts, 0);
    const auto before = std::chrono::steady_clock::now();
    worker.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
    worker.stop();
}

// Three monitors sampling every 100 ms over 250 ms would take 9 samples; the run's budget of 7 is
// shared by them, and each run has a budget of its own. An abort mid-run ends it at once.
TEST(WorkerRunTest, RunningAgainGivesAFreshRecordWhoseMonitorsShareOneSampleLimitAndAbortEnds)
{
    PXScenarioWorker::Timing timing = fastTiming();
    timing.monitorSampleLimit = 7;
    PXScenarioWorker worker(timing);
    WorkerSignals seen(worker);
    auto scenario = scenarioWithFlows(250000000, 2);
    scenario->monitors.assign(3, {8, 100000000});
    for (int run = 1; run <= 2; ++run) {
        worker.setScenario(scenario);
        worker.setStartTime(roamnode::nowNanoseconds());
        ASSERT_TRUE(QTest::qWaitFor([&] { return seen.ends == run; }, 3000));
    }
    const auto records = worker.takeFinishedResults();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[0], records[1]);
    EXPECT_LT(records[0]->timestamp(), records[1]->timestamp());
    for (const auto& record : records) {
        ASSERT_EQ(record->flowResults().size(), 2u);
        std::size_t samples = 0;
        for (const auto& result : record->monitorResults())
            samples += dynamic_cast<const PXNetworkInfoMonitorResultSet&>(*result).samples.size();
        EXPECT_EQ(record->monitorResults().size(), 3u);
        EXPECT_EQ(samples, 7u);
    }
    EXPECT_NE(records[0]->flowResults()[0], records[1]->flowResults()[0]);

    worker.setScenario(scenarioWithFlows(60000000000, 3));
    worker.setStartTime(roamnode::nowNanoseconds());
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.starts == 3; }, 1000));
    worker.abortScenario();
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.ends == 3; }, 1000));
    const auto aborted = worker.takeFinishedResults();
    ASSERT_EQ(aborted.size(), 1u);
    ASSERT_EQ(aborted[0]->flowResults().size(), 3u);
    for (const auto& flow : aborted[0]->flowResults())
        EXPECT_EQ(flow->status(), "success");
    worker.releaseRun();
    EXPECT_FALSE(worker.executor());
}
