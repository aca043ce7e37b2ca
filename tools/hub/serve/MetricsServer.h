#pragma once

#include "ArchiveRecord.h"
#include "TcpListeners.h"

#include <boost/asio/io_context.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace hubserve {

// What /metrics shows: the latest finished run of every endpoint, and the hub's own counters.
struct MetricsSnapshot
{
    std::map<std::string, hubarchive::RunRecord> latestByDevice; // device id -> its last run
    std::uint64_t runs = 0, failedRuns = 0, endpointsRegistered = 0;
    std::uint64_t archived = 0, archiveFailures = 0, archivePending = 0;
};

// The Prometheus text format (version 0.0.4) of `snapshot`: one gauge per flow figure with
// labels endpoint_name, endpoint_id, scenario_id and flow_id; counters for the hub. Pure.
std::string prometheusText(const MetricsSnapshot& snapshot);

// Answers "GET /metrics" on ADDRESS:PORT with prometheusText() of what `snapshot` returns, and
// 404 to anything else; one request per connection, bounded in size and time.
//
// Thread: the hub's I/O thread; `snapshot` is called there.
class MetricsServer
{
public:
    MetricsServer(boost::asio::io_context& io, std::function<MetricsSnapshot()> snapshot);

    bool listen(const std::string& address, std::uint16_t port, std::string& error);
    std::vector<std::string> listeningOn() const { return m_listeners.listeningOn(); }
    void start();
    void close() { m_listeners.close(); }

private:
    void accept(std::size_t index);

    boost::asio::io_context& m_io;
    std::function<MetricsSnapshot()> m_snapshot;
    roamnode::tools::TcpListeners m_listeners;
};

} // namespace hubserve
