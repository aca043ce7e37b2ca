// Cost of one publication on a bus holding as many registrations as the running program
// (about 150), delivered to a handful of handlers.
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

class Sink : public PXEventHandler
{
public:
    using PXEventHandler::handleEvent;
    void handleEvent(int, PXEmptyEventContents) override { ++count; }
    void handleEvent(int, std::string value) override { bytes += value.size(); }
    std::size_t count = 0;
    std::size_t bytes = 0;
};

struct Fixture
{
    Fixture() : sinks(30)
    {
        // 30 handlers with 5 ids each; ids spread over the catalogue.
        for (std::size_t i = 0; i < sinks.size(); ++i)
            for (int k = 0; k < 5; ++k)
                bus.subscribe(static_cast<int>(1 + (i * 5 + static_cast<std::size_t>(k)) % 82),
                              &sinks[i]);
    }
    PXEventBus bus;
    std::vector<Sink> sinks;
};

void BM_PublishEmpty(benchmark::State& state)
{
    Fixture f;
    for (auto _ : state)
        f.bus.publish(GET_DEVICE_OS);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PublishEmpty);

void BM_PublishResultListText(benchmark::State& state)
{
    Fixture f;
    const std::string text(static_cast<std::size_t>(state.range(0)), 'x');
    for (auto _ : state)
        f.bus.publish(RESULT_LIST, text);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PublishResultListText)->Arg(1000)->Arg(100000);

} // namespace
