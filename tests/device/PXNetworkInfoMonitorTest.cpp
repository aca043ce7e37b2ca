#include "device/PXNetworkInfoMonitor.h"

#include "bus/PXEventBus.h"
#include "device/PXMobileManager.h"

#include "RecordedInterfaceSystem.h"
#include "WarningCapture.h"
#include "device/InterfaceJson.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>

using R = RecordedInterfaceSystem;
using namespace std::chrono_literals;

namespace {

constexpr std::int64_t kMs = 1000000;

// A run as the scenario executor does it: start on this thread, the loop on a run thread, stop
// on the run thread when the end timer fires, the result taken there afterwards. Without an end
// time the loop runs until the monitor schedules nothing more, and stop follows.
std::shared_ptr<PXMonitorResultSet> runMonitor(PXMonitor& monitor, std::int64_t durationNs,
                                               std::chrono::milliseconds endAfter = 0ms)
{
    boost::asio::io_context loop;
    monitor.start(loop, static_cast<std::uint64_t>(durationNs));
    boost::asio::steady_timer end(loop, endAfter);
    if (endAfter > 0ms)
        end.async_wait([&](const boost::system::error_code&) { monitor.stop(); });
    std::shared_ptr<PXMonitorResultSet> result;
    std::thread runThread([&] {
        loop.run();
        monitor.stop();
        result = monitor.takeResult();
    });
    runThread.join();
    return result;
}

class MonitorTest : public testing::Test
{
protected:
    // The monitors sample through the device manager, as in the application.
    MonitorTest() : m_source(std::make_shared<PXEventBus>(), {"", "", &m_system})
    {
        m_system.entries = {R::entry("lo", "127.0.0.1"), R::entry("wlan0")};
        m_system.wirelessAnswers["wlan0"] = {R::associated("lab", 5180e6, 0xC9, 1000)};
    }

    RecordedInterfaceSystem m_system;
    PXMobileManager m_source;
};

// A set of another type throws, which fails the test.
const PXNetworkInfoMonitorResultSet& samplesOf(const std::shared_ptr<PXMonitorResultSet>& result)
{
    return dynamic_cast<const PXNetworkInfoMonitorResultSet&>(*result);
}

} // namespace

// 1 s over 10.5 s gives 11 samples; here scaled by 1/20 so the test takes about half a second.
TEST_F(MonitorTest, OneSampleAtStartThenOnePerIntervalWithinTheDuration)
{
    const std::int64_t interval = 50 * kMs;
    const std::int64_t duration = 525 * kMs;
    PXNetworkInfoMonitor monitor(7, interval, m_source);
    const auto result = runMonitor(monitor, duration);
    const auto& set = samplesOf(result);
    ASSERT_GE(set.samples.size(), 2u);
    EXPECT_EQ(m_system.addressCalls, static_cast<int>(set.samples.size()));

    // The rule, checked on the times the ticks really ran: each sample but the last left room
    // for one more interval within the duration, the last did not; a step is never shorter than
    // the interval.
    const std::int64_t first = set.samples.front().timestamp;
    for (std::size_t i = 0; i + 1 < set.samples.size(); ++i) {
        EXPECT_LE(set.samples[i].timestamp - first + interval, duration) << i;
        EXPECT_GE(set.samples[i + 1].timestamp - set.samples[i].timestamp, interval) << i;
    }
    const std::int64_t last = set.samples.back().timestamp;
    EXPECT_GT(last - first + interval, duration);

    // Each tick is armed from the moment it ran, so the loop's latency adds up over the run; as
    // long as it stays under the half interval of slack, that is 11 samples at 0, 50, ... 500 ms.
    // (A heavily loaded machine stretches the steps; the rule above still holds then.)
    const std::int64_t lateness =
        (last - first) - static_cast<std::int64_t>(set.samples.size() - 1) * interval;
    if (lateness < 25 * kMs) {
        EXPECT_EQ(set.samples.size(), 11u) << "late by " << lateness << " ns";
    }
    EXPECT_EQ(set.samples[1].interfaces.size(), 2u);
    EXPECT_EQ(set.samples[1].interfaces[1].rssi, -55);

    // A run that ends early keeps the samples so far: 0, 50, 100 ms on time; fewer when the loop
    // is late, never more.
    m_system.addressCalls = 0;
    const auto earlyResult = runMonitor(monitor, 10000 * kMs, 120ms);
    const auto& early = samplesOf(earlyResult);
    EXPECT_GE(early.samples.size(), 1u);
    EXPECT_LE(early.samples.size(), 3u);
    EXPECT_EQ(m_system.addressCalls, static_cast<int>(early.samples.size()));
}

// An interval longer than the run, zero or negative: only the first sample. Each run gives a
// result set of its own with the same id and type.
TEST_F(MonitorTest, TwoRunsWhereNoIntervalFitsGiveOneSampleEach)
{
    for (const std::int64_t interval : {500 * kMs, std::int64_t{0}, -5 * kMs}) {
        SCOPED_TRACE(interval);
        PXNetworkInfoMonitor monitor(42, interval, m_source);
        const auto first = runMonitor(monitor, 100 * kMs, 120ms);
        const auto second = runMonitor(monitor, 100 * kMs, 10ms);
        ASSERT_NE(first, second);
        // What is left after a take is a fresh, empty set.
        const auto empty = monitor.takeResult();
        for (const auto& set : {first, second, empty}) {
            EXPECT_EQ(std::tie(set->id, set->typeName, set->status, set->errorMessage),
                      std::make_tuple(42, "networkinfo", 0, ""));
            EXPECT_EQ(samplesOf(set).samples.size(), set == empty ? 0u : 1u);
        }
    }
}

// The first sample is taken in the calling thread. A monitor stopped or destroyed with its wait
// pending takes no further sample: the wait finds its sampler stopped or gone, and the loop ends.
TEST_F(MonitorTest, FirstSampleInTheCallingThreadAndNoneAfterStopOrDestruction)
{
    for (const bool destroyed : {false, true}) {
        SCOPED_TRACE(destroyed);
        m_system.addressCalls = 0;
        boost::asio::io_context loop;
        auto monitor = std::make_unique<PXNetworkInfoMonitor>(1, 20 * kMs, m_source);
        monitor->start(loop, 1000 * kMs);
        EXPECT_EQ(m_system.addressCalls, 1); // the loop has not run at all
        if (destroyed)
            monitor.reset();
        else
            monitor->stop();
        std::thread runThread([&] { EXPECT_LE(loop.run_for(1s), 1u); });
        runThread.join();
        EXPECT_EQ(m_system.addressCalls, 1);
        if (monitor) {
            EXPECT_EQ(samplesOf(monitor->takeResult()).samples.size(), 1u);
        }
    }
}

// However many monitors a run has, together they take no more samples than its budget; each
// stops arming once the budget refuses, so the loop runs out by itself, and the limit is logged
// once.
TEST_F(MonitorTest, MonitorsOfARunShareOneSampleBudget)
{
    testsupport::WarningCapture warnings;
    const auto budget = std::make_shared<MonitorSampleBudget>(30);
    std::vector<std::unique_ptr<PXNetworkInfoMonitor>> monitors;
    boost::asio::io_context loop;
    for (int id = 0; id < 4; ++id) {
        monitors.push_back(std::make_unique<PXNetworkInfoMonitor>(id, 1, m_source));
        monitors.back()->setSampleBudget(budget);
        monitors.back()->start(loop, 10000 * kMs);
    }
    std::thread runThread([&] { loop.run(); });
    runThread.join();
    std::size_t samples = 0;
    for (auto& monitor : monitors) {
        monitor->stop();
        samples += samplesOf(monitor->takeResult()).samples.size();
    }
    EXPECT_EQ(samples, 30u);
    EXPECT_EQ(m_system.addressCalls, 30);
    const auto texts = warnings.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "Monitors reached the limit of 30 samples for this run and stop sampling");
}

TEST(NetworkInfoResultBody, ExactText)
{
    PXNetworkInfoMonitorResultSet set(3);
    EXPECT_EQ(set.resultJson(), "[]");
    set.samples.push_back({1700000000000000000, {labWifi(), labWifi()}});
    set.samples.push_back({1700000001000000000, {}});
    EXPECT_EQ(set.resultJson(), "[{\"timestamp\": 1700000000000000000,\"interfaces\": " +
                                    interfacesJson({labWifi(), labWifi()}) +
                                    "}, {\"timestamp\": 1700000001000000000,\"interfaces\": []}]");
}
