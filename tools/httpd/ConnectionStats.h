#pragma once

#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>

// One finished connection of the test server: what the client asked for and how many body
// bytes moved in how long. The endpoint's result list has no byte counts for HTTP flows, so the
// hub reads these to show their throughput.
struct ConnectionRecord
{
    std::string method; // "GET" or "PUT"
    std::string target; // as the client sent it, e.g. "/demo/download/?ns=4000000000"
    std::uint64_t bytes = 0;
    double seconds = 0;
    std::string peer;    // "127.0.0.1:41234", "[::1]:41234"
    std::string address; // the client's address, an IPv4 one without its IPv6 mapping
    std::uint16_t port = 0;
    // When the request came and when the connection ended: system clock, ns since the epoch.
    std::int64_t startNs = 0;
    std::int64_t endNs = 0;
};

// {"method": "GET", "target": "...", "bytes": 123, "seconds": 1.5, "peer": "...",
//  "address": "...", "port": 41234, "start": NS, "end": NS}, one line, no newline.
// The target comes from the network, so it is escaped for JSON.
std::string connectionStatsLine(const ConnectionRecord& record);

// Appends one line per record to a file (--stats FILE), flushed at once so that a reader sees
// every finished connection.
//
// Thread: record() may be called from any thread; the lock keeps lines whole.
class ConnectionStats
{
public:
    explicit ConnectionStats(const std::string& path);

    bool isOpen() const { return m_out.is_open(); }
    void record(const ConnectionRecord& record);

private:
    std::mutex m_mutex;
    std::ofstream m_out;
};
