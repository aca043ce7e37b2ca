// addSample runs once per frame on an engine thread; resultListJson writes whole runs on the
// main thread while the heartbeat waits for its reply.
#include "scenario/PXScenarioResult.h"
#include "scenario/ScenarioDescription.h"

#include <benchmark/benchmark.h>

namespace {

constexpr std::int64_t second = 1000000000;

void BM_AddSample(benchmark::State& state)
{
    PXFlowResult result(1);
    std::int64_t time = 1700000000 * second;
    for (auto _ : state) {
        result.addSample(106, time);
        time += 10000; // 100000 frames per second
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddSample);

void BM_AddSampleWithLatency(benchmark::State& state)
{
    PXFlowResult result(1);
    std::int64_t time = 1700000000 * second;
    std::int64_t latency = 0;
    for (auto _ : state) {
        result.addSample(106, time, 50000 + (latency++ % 1000));
        time += 10000;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddSampleWithLatency);

// One record per run; each run `flows` flows of `seconds` one-second entries with latency.
std::vector<std::shared_ptr<PXScenarioResult>> largeList(int runs, int flows, int seconds)
{
    std::vector<std::shared_ptr<PXScenarioResult>> list;
    for (int r = 0; r < runs; ++r) {
        auto record = std::make_shared<PXScenarioResult>(r);
        record->setTimestamp(1700000000 * second);
        for (int f = 0; f < flows; ++f) {
            auto flow = record->createFlowResult(f);
            for (int s = 0; s < seconds; ++s) {
                for (int frame = 0; frame < 3; ++frame)
                    flow->addSample(1500, (1700000000 + s) * second + frame, 40000 + frame);
            }
            flow->setSuccess();
        }
        list.push_back(record);
    }
    return list;
}

void writeList(benchmark::State& state, const std::vector<std::shared_ptr<PXScenarioResult>>& list)
{
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = resultListJson(list);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
    state.counters["text_bytes"] = static_cast<double>(bytes);
}

void BM_ResultListJson(benchmark::State& state)
{
    writeList(state, largeList(4, 8, static_cast<int>(state.range(0))));
}
BENCHMARK(BM_ResultListJson)->Arg(60)->Arg(600);

// The largest list we expect in one answer: an hour-long run of 100 flows, every second with
// counts and latency. The heartbeat waits for it, so it must stay well under a second.
void BM_ResultListJsonHour(benchmark::State& state)
{
    writeList(state, largeList(1, 100, 3600));
}
BENCHMARK(BM_ResultListJsonHour)->Unit(benchmark::kMillisecond);

void BM_ParseDescription(benchmark::State& state)
{
    std::string flows;
    for (int i = 0; i < 32; ++i) {
        if (i > 0)
            flows += ", ";
        flows += "{\"id\": " + std::to_string(i) +
                 ", \"flowtype\": \"streamv4\", \"flow\": {\"initialtimetowait\": 0, "
                 "\"srcport\": 5000, \"dstport\": 6000, \"dstipv4\": \"10.0.0.1\", "
                 "\"interframegap\": 1000000, \"numberofframes\": 1000, \"contentlist\": [\"" +
                 std::string(2800, 'a') +
                 "\"], \"timetags\": [{\"position\": 8, "
                 "\"timeoffset\": 0}]}}";
    }
    const std::string text =
        "{\"scenarioid\": 1, \"duration\": 1000000000, \"flows\": [" + flows + "]}";
    for (auto _ : state) {
        PXScenarioPlan scenario;
        benchmark::DoNotOptimize(parseScenarioDescription(text, scenario));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ParseDescription);

} // namespace
