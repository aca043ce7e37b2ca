#include "HttpServer.h"
#include "flows/MultiConnect.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

constexpr std::int64_t kDurationNs = 3000000000;

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

// One 3 s flow against an in-process test server; arg 0 is the method (0 GET, 1 PUT), arg 1
// the rate limit in bytes per second (0: none). "MB/s" is what the engine counted over the
// flow's duration, "server MB/s" what the server counted over the time it saw the request.
void BM_TcpFlowLoopback(benchmark::State& state)
{
    boost::asio::io_context serverLoop;
    std::ostringstream serverLog;
    std::mutex serverMutex;
    std::condition_variable serverChanged;
    std::uint64_t serverBytes = 0;
    double serverSeconds = 0;
    std::int64_t serverRecords = 0;
    HttpServer::Config serverConfig;
    serverConfig.bindAddress = "127.0.0.1";
    serverConfig.onConnectionFinished = [&](const ConnectionRecord& record) {
        std::lock_guard<std::mutex> lock(serverMutex);
        serverBytes += record.bytes;
        serverSeconds += record.seconds;
        ++serverRecords;
        serverChanged.notify_all();
    };
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
        config.rateLimit = state.range(1);
        config.duration = kDurationNs;
        auto engine = std::make_shared<MultiConnect>(counter, config);
        engine->start();
        counter->waitFinished();
        engine->stop();
        seconds += static_cast<double>(kDurationNs) / 1e9;
        bytes += counter->m_bytes;
        reports += counter->m_reports;
    }
    {
        // The server sees the end of a connection a moment after the client.
        std::unique_lock<std::mutex> lock(serverMutex);
        serverChanged.wait_for(lock, std::chrono::seconds(5),
                               [&] { return serverRecords >= state.iterations(); });
    }
    server.stop();
    serverLoop.stop();
    serverThread.join();

    state.counters["MB/s"] = static_cast<double>(bytes) / seconds / 1e6;
    state.counters["server MB/s"] = static_cast<double>(serverBytes) / serverSeconds / 1e6;
    state.counters["reports/s"] = static_cast<double>(reports) / seconds;
}
BENCHMARK(BM_TcpFlowLoopback)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 100000000})
    ->Args({1, 1000000000})
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

} // namespace
