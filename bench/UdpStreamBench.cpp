// How fast the stream engine sends when every frame is due: the catch-up path (bursts of 128,
// one clock reading per burst, a time tag per frame), next to plain send_to calls on a socket.
#include "flows/Stream.h"
#include "flows/UdpContext.h"

#include <benchmark/benchmark.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/post.hpp>

#include <atomic>
#include <future>

using boost::asio::ip::udp;

namespace {

// Counts frames without a lock: the engine calls it on its context's thread for every frame.
class CountingListener : public Stream::Listener
{
public:
    void onFrameSent(roamnode::time_point now, std::size_t) override
    {
        const std::int64_t ns = roamnode::toNanoseconds(now);
        if (m_frames.fetch_add(1, std::memory_order_relaxed) == 0)
            m_first = ns;
        m_last = ns;
    }
    void onFinished() override
    {
        if (!m_done.exchange(true))
            m_finished.set_value();
    }

    std::future<void> finished() { return m_finished.get_future(); }
    std::uint64_t frames() const { return m_frames.load(); }
    std::int64_t span() const { return m_last - m_first; }

private:
    std::atomic<std::uint64_t> m_frames{0};
    std::int64_t m_first = 0;
    std::int64_t m_last = 0;
    std::atomic<bool> m_done{false};
    std::promise<void> m_finished;
};

// The frames go to a socket that nobody reads: loopback drops what does not fit, the sender
// does not notice, which is what is measured here.
struct Sink
{
    boost::asio::io_context io;
    udp::socket socket{io, udp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0)};
};

void BM_StreamCatchUp(benchmark::State& state)
{
    Sink sink;
    const auto frameSize = static_cast<std::size_t>(state.range(0));
    const bool tagged = state.range(1) != 0;
    // The loop's thread runs before the stream starts, so its start is not measured.
    auto context = UdpContext::get(false, 0);
    context->start();
    std::promise<void> up;
    boost::asio::post(context->eventLoop(), [&up] { up.set_value(); });
    up.get_future().wait();

    std::uint64_t total = 0;
    for (auto _ : state) {
        FrameTemplate frame;
        frame.bytes.assign(frameSize, 0x5a);
        frame.hasTimeTag = tagged;
        frame.position = 8;
        Stream::Config config;
        config.destination = "127.0.0.1";
        config.dstPort = sink.socket.local_endpoint().port();
        // 10 ns apart: every frame is due long before it can be sent, for 50 ms.
        config.interFrameGap = 10;
        config.numberOfFrames = 5000000;
        config.frames = {frame};
        auto listener = std::make_shared<CountingListener>();
        auto finished = listener->finished();
        Stream stream(listener, config);
        stream.start();
        finished.wait();
        stream.stop();
        state.SetIterationTime(static_cast<double>(listener->span()) / 1e9);
        total += listener->frames();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(total));
    state.SetBytesProcessed(static_cast<std::int64_t>(total * frameSize));
}
BENCHMARK(BM_StreamCatchUp)
    ->Args({64, 0})
    ->Args({64, 1})
    ->Args({1400, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_PlainSendTo(benchmark::State& state)
{
    Sink sink;
    boost::asio::io_context io;
    udp::socket socket(io, udp::endpoint(udp::v4(), 0));
    socket.non_blocking(true);
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(state.range(0)), 0x5a);
    const udp::endpoint to(boost::asio::ip::make_address("127.0.0.1"),
                           sink.socket.local_endpoint().port());
    for (auto _ : state) {
        boost::system::error_code ec;
        benchmark::DoNotOptimize(socket.send_to(boost::asio::buffer(frame), to, 0, ec));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PlainSendTo)->Arg(64)->Arg(1400)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
