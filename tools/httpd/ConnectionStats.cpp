#include "ConnectionStats.h"

#include <cstdio>

namespace {

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            // Control bytes, and bytes of a target that need not be UTF-8: escaped one by one
            // so that the line stays valid JSON.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

} // namespace

std::string connectionStatsLine(const ConnectionRecord& record)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.6f", record.seconds < 0 ? 0.0 : record.seconds);
    return "{\"method\": " + jsonString(record.method) +
           ", \"target\": " + jsonString(record.target) +
           ", \"bytes\": " + std::to_string(record.bytes) + ", \"seconds\": " + seconds +
           ", \"peer\": " + jsonString(record.peer) +
           ", \"address\": " + jsonString(record.address) +
           ", \"port\": " + std::to_string(record.port) +
           ", \"start\": " + std::to_string(record.startNs) +
           ", \"end\": " + std::to_string(record.endNs) + "}";
}

ConnectionStats::ConnectionStats(const std::string& path) : m_out(path, std::ios::app) {}

void ConnectionStats::record(const ConnectionRecord& record)
{
    const std::string line = connectionStatsLine(record) + "\n";
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_out << line;
    m_out.flush();
}
