#include "HttpServer.h"
#include "MultiConnect.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

// Counts what one flow moved and wakes the benchmark when the flow is over.
class Counter : public MultiConnect::Listener
{
public:
    void onBytes(std::size_t bytes, roamnode::time_point) override
    {
        m_bytes += bytes;
        ++m_reports;
    }

    void onFinished() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
        m_changed.notify_all();
    }

    void waitFinished()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_finished; });
    }

    std::atomic<std::uint64_t> m_bytes{0};
    std::atomic<std::uint64_t> m_reports{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_finished = false;
};

// One flow of 500 ms against an in-process test server; arg 0 is the method (0 GET, 1 PUT).
void BM_TcpFlowLoopback(benchmark::State& state)
{
    boost::asio::io_context serverLoop;
    std::ostringstream serverLog;
    HttpServer::Config serverConfig;
    serverConfig.bindAddress = "127.0.0.1";
    HttpServer server(serverLoop, serverConfig, serverLog);
    server.start();
    std::thread serverThread([&] { serverLoop.run(); });

    std::uint64_t bytes = 0;
    std::uint64_t reports = 0;
    double seconds = 0;
    for (auto _ : state) {
        auto counter = std::make_shared<Counter>();
        MultiConnect::Config config;
        config.destination = "127.0.0.1";
        config.url = "/bench";
        config.dstPort = server.port();
        config.method = static_cast<int>(state.range(0));
        config.duration = 500000000;
        auto engine = std::make_shared<MultiConnect>(counter, config);
        const auto begin = std::chrono::steady_clock::now();
        engine->start();
        counter->waitFinished();
        engine->stop();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        bytes += counter->m_bytes;
        reports += counter->m_reports;
    }
    state.counters["MB/s"] = bytes / seconds / 1e6;
    state.counters["reports/s"] = reports / seconds;

    server.stop();
    serverLoop.stop();
    serverThread.join();
}
BENCHMARK(BM_TcpFlowLoopback)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
