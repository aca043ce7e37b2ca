#include "heartbeat/HeartbeatFrame.h"
#include "heartbeat/HeartbeatParser.h"

#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

void BM_FrameMessage(benchmark::State& state)
{
    const std::string payload(static_cast<std::size_t>(state.range(0)), 'x');
    for (auto _ : state)
        benchmark::DoNotOptimize(roamnode::frameMessage(payload));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FrameMessage)->Arg(64)->Arg(150000);

// A frame arriving in reads of the session's buffer size.
void BM_FrameReassembly(benchmark::State& state)
{
    const std::string frame =
        roamnode::frameMessage(std::string(static_cast<std::size_t>(state.range(0)), 'x'));
    for (auto _ : state) {
        roamnode::FrameAccumulator accumulator;
        for (std::size_t offset = 0; offset < frame.size(); offset += roamnode::kReceiveBufferBytes)
            accumulator.add(frame.data() + offset,
                            std::min(roamnode::kReceiveBufferBytes, frame.size() - offset));
        benchmark::DoNotOptimize(accumulator.payload());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frame.size()));
}
BENCHMARK(BM_FrameReassembly)->Arg(64)->Arg(1 << 20);

class Answers : public PXEventHandler
{
public:
    using PXEventHandler::handleEvent;
    explicit Answers(std::shared_ptr<PXEventBus> bus) : m_bus(std::move(bus))
    {
        m_bus->subscribe(GET_SSID, this);
        m_bus->subscribe(GET_BATTERY_LEVEL, this);
    }
    ~Answers() override { m_bus->unsubscribe(this); }
    void handleEvent(int id, PXEmptyEventContents) override
    {
        if (id == GET_SSID)
            m_bus->publish(SSID, std::string("lab"));
        else
            m_bus->publish(BATTERY_LEVEL, 87.5f);
    }

private:
    std::shared_ptr<PXEventBus> m_bus;
};

// One request through the parser, the bus and two answering handlers, to the framed reply.
void BM_ParserGet(benchmark::State& state)
{
    auto bus = std::make_shared<PXEventBus>();
    Answers answers(bus);
    HeartbeatParser parser(bus);
    std::size_t replyBytes = 0;
    QObject::connect(&parser, &HeartbeatParser::onResponse,
                     [&](const std::string& reply) { replyBytes += reply.size(); });
    for (auto _ : state)
        parser.processCommand("{\"command\": \"get\", \"ssid\": \"\", \"batterylevel\": \"\"}",
                              std::chrono::system_clock::now());
    benchmark::DoNotOptimize(replyBytes);
}
BENCHMARK(BM_ParserGet);

} // namespace

BENCHMARK_MAIN();
