#include "MetricsServer.h"

#include "bus/TimePoint.h"

#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <cmath>
#include <cstdio>
#include <memory>

namespace hubserve {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;

// Label values escape backslash, quote and line feed.
std::string label(const std::string& value)
{
    std::string out;
    for (const char c : value) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

std::string number(double value)
{
    if (std::isnan(value))
        return "NaN";
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

class Family
{
public:
    Family(std::string& out, const char* name, const char* type, const char* help)
        : m_out(out), m_name(name)
    {
        m_out +=
            std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void sample(const std::string& labels, double value)
    {
        m_out += m_name + (labels.empty() ? "" : "{" + labels + "}") + " " + number(value) + "\n";
    }

private:
    std::string& m_out;
    std::string m_name;
};

struct FlowGauge
{
    const char* name;
    const char* help;
    std::optional<double> (*value)(const hubarchive::FlowRow&);
};

const FlowGauge kFlowGauges[] = {
    {"roamnode_flow_throughput_mbps", "Mean throughput of the flow over its whole seconds, Mbit/s.",
     [](const hubarchive::FlowRow& f) { return f.meanMbps; }},
    {"roamnode_flow_loss_ratio", "Frames lost of frames sent (paired triggers), 0 to 1.",
     [](const hubarchive::FlowRow& f) { return f.lossRatio; }},
    {"roamnode_flow_latency_avg_seconds", "Mean one-way latency of the flow.",
     [](const hubarchive::FlowRow& f) {
         return f.latencyAvgNs ? std::optional<double>(roamnode::secondsOf(*f.latencyAvgNs))
                               : std::nullopt;
     }},
    {"roamnode_flow_latency_max_seconds", "Highest one-way latency of the flow.",
     [](const hubarchive::FlowRow& f) {
         return f.latencyMaxNs ? std::optional<double>(roamnode::secondsOf(*f.latencyMaxNs))
                               : std::nullopt;
     }},
    {"roamnode_flow_latency_sd_seconds", "Standard deviation of the one-way latency.",
     [](const hubarchive::FlowRow& f) {
         return f.latencySdNs ? std::optional<double>(roamnode::secondsOf(*f.latencySdNs))
                              : std::nullopt;
     }},
    {"roamnode_flow_http_mbps", "Mean throughput of an HTTP flow, Mbit/s.",
     [](const hubarchive::FlowRow& f) {
         return f.isHttp() ? f.meanMbps : std::optional<double>();
     }},
};

// One connection: read the request head (at most 8 KiB, 5 s), answer, close.
class MetricsExchange : public std::enable_shared_from_this<MetricsExchange>
{
public:
    MetricsExchange(tcp::socket socket, std::function<MetricsSnapshot()>& snapshot)
        : m_socket(std::move(socket)), m_timer(m_socket.get_executor()), m_request(8192),
          m_snapshot(snapshot)
    {
    }

    void start()
    {
        auto self = shared_from_this();
        m_timer.expires_after(std::chrono::seconds(5));
        m_timer.async_wait([self](const boost::system::error_code& ec) {
            if (!ec)
                self->m_socket.close();
        });
        asio::async_read_until(m_socket, m_request, "\r\n\r\n",
                               [self](const boost::system::error_code& ec, std::size_t) {
                                   if (!ec)
                                       self->answer();
                                   else
                                       self->m_timer.cancel();
                               });
    }

private:
    void answer()
    {
        std::string line(asio::buffers_begin(m_request.data()),
                         asio::buffers_end(m_request.data()));
        line = line.substr(0, line.find("\r\n"));
        // "GET /metrics HTTP/1.1" or "GET /metrics?query HTTP/1.1"
        const bool metrics = line.rfind("GET /metrics", 0) == 0 && line.size() > 12 &&
                             (line[12] == ' ' || line[12] == '?');
        const std::string body = metrics ? prometheusText(m_snapshot()) : "not found\n";
        m_response = std::string(metrics ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") +
                     "Content-Type: " +
                     (metrics ? "text/plain; version=0.0.4; charset=utf-8" : "text/plain") +
                     "\r\nContent-Length: " + std::to_string(body.size()) +
                     "\r\nConnection: close\r\n\r\n" + body;
        auto self = shared_from_this();
        asio::async_write(m_socket, asio::buffer(m_response),
                          [self](const boost::system::error_code&, std::size_t) {
                              boost::system::error_code ignored;
                              self->m_socket.shutdown(tcp::socket::shutdown_both, ignored);
                              self->m_timer.cancel();
                          });
    }

    tcp::socket m_socket;
    asio::steady_timer m_timer;
    asio::streambuf m_request;
    std::function<MetricsSnapshot()>& m_snapshot;
    std::string m_response;
};

} // namespace

std::string prometheusText(const MetricsSnapshot& snapshot)
{
    std::string out;
    for (const FlowGauge& gauge : kFlowGauges) {
        Family family(out, gauge.name, "gauge", gauge.help);
        for (const auto& [device, run] : snapshot.latestByDevice) {
            std::string name;
            for (const auto& e : run.endpoints)
                if (e.deviceId == device)
                    name = e.name;
            for (const hubarchive::FlowRow& flow : run.flows) {
                const auto value = gauge.value(flow);
                if (flow.deviceId != device || !value)
                    continue;
                family.sample("endpoint_name=\"" + label(name) + "\",endpoint_id=\"" +
                                  label(device) + "\",scenario_id=\"" +
                                  std::to_string(flow.scenarioId) + "\",flow_id=\"" +
                                  std::to_string(flow.flowId) + "\"",
                              *value);
            }
        }
    }
    {
        Family family(out, "roamnode_endpoint_rssi_dbm", "gauge",
                      "Last RSSI the endpoint's monitor saw in its last run.");
        for (const auto& [device, run] : snapshot.latestByDevice) {
            const hubarchive::MonitorRow* last = nullptr;
            std::string name;
            for (const auto& e : run.endpoints)
                if (e.deviceId == device)
                    name = e.name;
            for (const auto& m : run.monitors)
                if (m.deviceId == device && m.rssi && (!last || m.timeNs >= last->timeNs))
                    last = &m;
            if (last)
                family.sample("endpoint_name=\"" + label(name) + "\",endpoint_id=\"" +
                                  label(device) + "\",scenario_id=\"" +
                                  std::to_string(run.scenarioId) + "\"",
                              static_cast<double>(*last->rssi));
        }
    }
    const struct
    {
        const char* name;
        const char* type;
        const char* help;
        std::uint64_t value;
    } hub[] = {
        {"roamnode_hub_runs_total", "counter", "Scheduled runs finished.", snapshot.runs},
        {"roamnode_hub_run_failures_total", "counter",
         "Runs with an endpoint that failed, was busy or absent, or a flow that failed.",
         snapshot.failedRuns},
        {"roamnode_hub_endpoints_registered", "gauge", "Endpoints heard from in the last 30 s.",
         snapshot.endpointsRegistered},
        {"roamnode_hub_archived_runs_total", "counter", "Runs written to the archive.",
         snapshot.archived},
        {"roamnode_hub_archive_failures_total", "counter", "Failed attempts to write the archive.",
         snapshot.archiveFailures},
        {"roamnode_hub_archive_pending_runs", "gauge", "Runs waiting in the results folder.",
         snapshot.archivePending},
    };
    for (const auto& h : hub)
        Family(out, h.name, h.type, h.help).sample({}, static_cast<double>(h.value));
    return out;
}

MetricsServer::MetricsServer(asio::io_context& io, std::function<MetricsSnapshot()> snapshot)
    : m_io(io), m_snapshot(std::move(snapshot)), m_listeners(io)
{
}

bool MetricsServer::listen(const std::string& address, std::uint16_t port, std::string& error)
{
    return m_listeners.listen({address}, port, error);
}

void MetricsServer::start()
{
    for (std::size_t i = 0; i < m_listeners.acceptors().size(); ++i)
        accept(i);
}

void MetricsServer::accept(std::size_t index)
{
    m_listeners.acceptors()[index]->async_accept(
        [this, index](const boost::system::error_code& ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted || !m_listeners.acceptors()[index]->is_open())
                return;
            if (!ec)
                std::make_shared<MetricsExchange>(std::move(socket), m_snapshot)->start();
            accept(index);
        });
}

} // namespace hubserve
