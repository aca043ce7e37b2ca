#include "scenario/PXFlowResult.h"

#include "bus/JsonText.h"
#include "bus/TimePoint.h"

#include <cmath>

namespace {

constexpr std::size_t reservedEntries = 200;

using roamnode::appendNumber;

template <typename Entries, typename Value>
void appendArray(std::string& out, const char* key, const Entries& entries, Value value)
{
    out += '"';
    out += key;
    out += "\": [";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0)
            out += ", ";
        appendNumber(out, value(entries[i]));
    }
    out += ']';
}

void appendLatency(std::string& out, const PXFlowResult::LatencyEntry& entry)
{
    if (entry.count == 0) {
        out += "{}";
        return;
    }
    const double jitter =
        entry.count == 1 ? 0.0 : std::sqrt(entry.squaredDeviations / double(entry.count - 1));
    out += "{\"latencymin\": ";
    appendNumber(out, entry.min);
    out += ", \"latencymax\": ";
    appendNumber(out, entry.max);
    out += ", \"latencyavg\": ";
    appendNumber(out, static_cast<std::int64_t>(entry.mean));
    out += ", \"jitter\": ";
    appendNumber(out, static_cast<std::int64_t>(jitter));
    out += '}';
}

} // namespace

PXFlowResult::PXFlowResult(std::int64_t id) : m_id(id)
{
    m_counts.reserve(reservedEntries);
    m_latencies.reserve(reservedEntries);
}

std::int64_t PXFlowResult::second(std::int64_t time) const
{
    const std::int64_t s = m_interval * roamnode::kNanosecondsPerSecond;
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

bool PXFlowResult::addSample(std::uint64_t bytes, std::int64_t time, std::int64_t latency)
{
    std::lock_guard<std::mutex> guard(m_lock);
    addCount(bytes, time);
    if (m_latencies.empty() || second(m_latencies.back().time) < second(time))
        m_latencies.push_back(LatencyEntry{time});
    LatencyEntry& entry = m_latencies.back();
    if (latency > maxLatency || latency < -maxLatency) {
        entry.rejected += 1;
        return false;
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
    return true;
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
    std::string out;
    appendJson(out);
    return out;
}

void PXFlowResult::appendJson(std::string& out) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    // About 12 bytes per number: keeps an hour's arrays from growing the text a hundred times.
    out.reserve(out.size() + 128 + m_counts.size() * 60 + m_latencies.size() * 100);
    out += "{\"id\": ";
    appendNumber(out, m_id);
    out += ", \"status\": ";
    out += roamnode::jsonQuote(m_status);
    out += ", \"errormsg\": ";
    out += roamnode::jsonQuote(m_errorMessage);
    out += ", ";
    appendArray(out, "timestamparray", m_counts,
                [](const CountEntry& e) { return roamnode::wholeSecond(e.time); });
    out += ", ";
    appendArray(out, "packetcountarray", m_counts, [](const CountEntry& e) { return e.samples; });
    out += ", ";
    appendArray(out, "bytecountarray", m_counts, [](const CountEntry& e) { return e.bytes; });
    if (m_firstTime != 0) {
        // The hub's reader expects no blank after this one comma.
        out += ",\"timestampfirst\": ";
        appendNumber(out, m_firstTime);
        out += ", \"timestamplast\": ";
        appendNumber(out, m_lastTime);
    }
    if (!m_latencies.empty()) {
        out += ", \"latencyarray\": [";
        for (std::size_t i = 0; i < m_latencies.size(); ++i) {
            if (i > 0)
                out += ", ";
            appendLatency(out, m_latencies[i]);
        }
        out += ']';
    }
    out += '}';
}
