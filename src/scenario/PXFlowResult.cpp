#include "PXFlowResult.h"

#include "JsonText.h"

#include <QtGlobal>

#include <cmath>

namespace {

constexpr std::size_t reservedEntries = 200;

void appendArray(std::string& out, const char* key, const std::vector<std::uint64_t>& values)
{
    out += '"';
    out += key;
    out += "\": [";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += ", ";
        out += std::to_string(values[i]);
    }
    out += ']';
}

std::string latencyJson(const PXFlowResult::LatencyEntry& entry)
{
    if (entry.count == 0)
        return "{}";
    const double jitter =
        entry.count == 1 ? 0.0 : std::sqrt(entry.squaredDeviations / double(entry.count - 1));
    return "{\"latencymin\": " + std::to_string(entry.min) +
           ", \"latencymax\": " + std::to_string(entry.max) +
           ", \"latencyavg\": " + std::to_string(static_cast<std::int64_t>(entry.mean)) +
           ", \"jitter\": " + std::to_string(static_cast<std::int64_t>(jitter)) + "}";
}

} // namespace

PXFlowResult::PXFlowResult(std::int64_t id) : m_id(id)
{
    m_counts.reserve(reservedEntries);
    m_latencies.reserve(reservedEntries);
}

std::int64_t PXFlowResult::second(std::int64_t time) const
{
    const std::int64_t s = m_interval * 1000000000;
    return time / s * s;
}

void PXFlowResult::addCount(std::uint64_t bytes, std::int64_t time)
{
    // A sample that arrives late (its second before the newest entry's) counts in the newest
    // entry, so the entries stay in time order.
    if (m_counts.empty() || second(time) > second(m_counts.back().time))
        m_counts.push_back(CountEntry{time, 0, 0});
    CountEntry& entry = m_counts.back();
    entry.samples += 1;
    entry.bytes += bytes;
    if (m_firstSample) {
        m_firstTime = time;
        m_firstSample = false;
    }
    m_lastTime = time;
}

void PXFlowResult::addSample(std::uint64_t bytes, std::int64_t time)
{
    std::lock_guard<std::mutex> guard(m_lock);
    addCount(bytes, time);
}

void PXFlowResult::addSample(std::uint64_t bytes, std::int64_t time, std::int64_t latency)
{
    std::lock_guard<std::mutex> guard(m_lock);
    addCount(bytes, time);
    if (m_latencies.empty() || second(m_latencies.back().time) < second(time))
        m_latencies.push_back(LatencyEntry{time});
    LatencyEntry& entry = m_latencies.back();
    if (latency > maxLatency || latency < -maxLatency) {
        entry.rejected += 1;
        qWarning("PXFlowResult:: Rejecting timestamp, more than 60s ago! %lld",
                 static_cast<long long>(latency));
        return;
    }
    if (entry.count == 0) {
        entry.min = latency;
        entry.max = latency;
    } else if (latency < entry.min) {
        entry.min = latency;
    } else if (latency > entry.max) {
        entry.max = latency;
    }
    entry.count += 1;
    const double value = static_cast<double>(latency);
    const double delta = value - entry.mean;
    entry.mean += delta / static_cast<double>(entry.count);
    entry.squaredDeviations += delta * (value - entry.mean);
}

void PXFlowResult::addLatencyEntry(std::int64_t time)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_latencies.push_back(LatencyEntry{time});
}

void PXFlowResult::setSuccess()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_status = "success";
}

void PXFlowResult::setError(const std::string& message)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_status = "error";
    m_errorMessage = message;
}

std::string PXFlowResult::status() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_status;
}

std::string PXFlowResult::errorMessage() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_errorMessage;
}

std::int64_t PXFlowResult::firstTime() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_firstTime;
}

std::int64_t PXFlowResult::lastTime() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_lastTime;
}

std::vector<PXFlowResult::CountEntry> PXFlowResult::countEntries() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_counts;
}

std::vector<PXFlowResult::LatencyEntry> PXFlowResult::latencyEntries() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_latencies;
}

std::string PXFlowResult::json() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::uint64_t> packets;
    std::vector<std::uint64_t> bytes;
    packets.reserve(m_counts.size());
    bytes.reserve(m_counts.size());
    std::string out =
        "{\"id\": " + std::to_string(m_id) + ", \"status\": " + roamnode::jsonQuote(m_status) +
        ", \"errormsg\": " + roamnode::jsonQuote(m_errorMessage) + ", \"timestamparray\": [";
    for (std::size_t i = 0; i < m_counts.size(); ++i) {
        if (i > 0)
            out += ", ";
        out += std::to_string(m_counts[i].time / 1000000000 * 1000000000);
        packets.push_back(m_counts[i].samples);
        bytes.push_back(m_counts[i].bytes);
    }
    out += "], ";
    appendArray(out, "packetcountarray", packets);
    out += ", ";
    appendArray(out, "bytecountarray", bytes);
    if (m_firstTime != 0) {
        // The hub's reader expects no blank after this one comma.
        out += ",\"timestampfirst\": " + std::to_string(m_firstTime) +
               ", \"timestamplast\": " + std::to_string(m_lastTime);
    }
    if (!m_latencies.empty()) {
        out += ", \"latencyarray\": [";
        for (std::size_t i = 0; i < m_latencies.size(); ++i) {
            if (i > 0)
                out += ", ";
            out += latencyJson(m_latencies[i]);
        }
        out += ']';
    }
    out += '}';
    return out;
}
