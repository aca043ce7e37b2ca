#include "device/PXNetworkInfoMonitor.h"

#include "bus/TimePoint.h"
#include "device/InterfaceSource.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/system_timer.hpp>

#include <atomic>
#include <mutex>
#include <utility>

using roamnode::saturatingAdd; // durations and intervals come from the hub

class PXNetworkInfoMonitor::Sampler : public std::enable_shared_from_this<Sampler>
{
public:
    using Sample = PXNetworkInfoMonitorResultSet::Sample;

    Sampler(boost::asio::io_context& loop, InterfaceSource& source, std::int64_t intervalNs,
            std::uint64_t durationNs, std::shared_ptr<MonitorSampleBudget> budget)
        : m_loop(loop), m_source(source), m_intervalNs(intervalNs), m_durationNs(durationNs),
          m_budget(std::move(budget))
    {
    }

    void begin()
    {
        m_startNs = roamnode::nowNanoseconds();
        tick();
    }

    // Run thread. No tick runs after this returns.
    void finish()
    {
        m_stopped = true;
        std::shared_ptr<boost::asio::system_timer> timer;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            timer = m_timer.lock();
            m_timer.reset();
        }
        if (timer)
            timer->cancel();
    }

    // The monitor is going away on some thread: a pending wait must not sample any more.
    void abandon() { m_stopped = true; }

    std::vector<Sample> takeSamples()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::move(m_samples);
    }

private:
    void tick()
    {
        if (m_stopped)
            return;
        // The run's monitors have taken all the samples it may hold: this one stops here.
        if (m_budget && !m_budget->take())
            return;
        const std::int64_t now = roamnode::nowNanoseconds();
        if (nextTickFits(now))
            arm(now);
        std::vector<InterfaceInfo> interfaces = m_source.readInterfaces();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_samples.push_back(Sample{now, std::move(interfaces)});
    }

    bool nextTickFits(std::int64_t now)
    {
        if (m_intervalNs <= 0)
            return false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // The sample about to be taken counts too.
            if (m_samples.size() + 1 >= kMaxSamples)
                return false;
        }
        // A clock set back makes the elapsed time negative; such a tick still fits.
        const std::int64_t next = saturatingAdd(now - m_startNs, m_intervalNs);
        return next <= 0 || static_cast<std::uint64_t>(next) <= m_durationNs;
    }

    // Each wait owns its timer, so no timer outlives the loop it belongs to; the sampler is held
    // only weakly.
    void arm(std::int64_t now)
    {
        auto timer = std::make_shared<boost::asio::system_timer>(m_loop);
        timer->expires_at(roamnode::fromNanoseconds(saturatingAdd(now, m_intervalNs)));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (auto previous = m_timer.lock())
                previous->cancel();
            m_timer = timer;
        }
        std::weak_ptr<Sampler> weak = shared_from_this();
        timer->async_wait([weak, timer](const boost::system::error_code& error) {
            if (error == boost::asio::error::operation_aborted)
                return;
            if (auto self = weak.lock())
                self->tick();
        });
    }

    boost::asio::io_context& m_loop;
    InterfaceSource& m_source;
    const std::int64_t m_intervalNs;
    const std::uint64_t m_durationNs;
    const std::shared_ptr<MonitorSampleBudget> m_budget; // may be null
    std::int64_t m_startNs = 0;
    std::atomic<bool> m_stopped{false};

    std::mutex m_mutex;
    std::weak_ptr<boost::asio::system_timer> m_timer; // guarded by m_mutex
    std::vector<Sample> m_samples;                    // guarded by m_mutex
};

PXNetworkInfoMonitor::PXNetworkInfoMonitor(std::int32_t id, std::int64_t intervalNs,
                                           InterfaceSource& source)
    : PXMonitor(id), m_intervalNs(intervalNs), m_source(source),
      m_result(std::make_shared<PXNetworkInfoMonitorResultSet>(id))
{
}

PXNetworkInfoMonitor::~PXNetworkInfoMonitor()
{
    if (m_sampler)
        m_sampler->abandon();
}

void PXNetworkInfoMonitor::start(boost::asio::io_context& eventLoop, std::uint64_t durationNs)
{
    if (m_sampler)
        m_sampler->abandon();
    m_sampler =
        std::make_shared<Sampler>(eventLoop, m_source, m_intervalNs, durationNs, sampleBudget());
    m_sampler->begin();
}

void PXNetworkInfoMonitor::stop()
{
    if (!m_sampler)
        return;
    m_sampler->finish();
    std::vector<PXNetworkInfoMonitorResultSet::Sample> samples = m_sampler->takeSamples();
    m_sampler.reset();
    for (auto& sample : samples)
        m_result->samples.push_back(std::move(sample));
}

std::shared_ptr<PXMonitorResultSet> PXNetworkInfoMonitor::takeResult()
{
    std::shared_ptr<PXNetworkInfoMonitorResultSet> result = std::move(m_result);
    m_result = std::make_shared<PXNetworkInfoMonitorResultSet>(id());
    return result;
}
