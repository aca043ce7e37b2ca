#pragma once

#include "EndpointDriver.h"
#include "HubExchange.h"
#include "RunOptions.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace hubrun {

// The hub side of `roamnode-hub run`: tells endpoints apart by the "uuid" of their hellos, asks
// each new one who it is, decides whether it takes part (its id, or for a map also its name or
// address), gives each driven endpoint its driver's next request and every other one a "nop",
// and prints the run's messages and its progress line.
//
// The exchange of a hello is known in nextRequest() because HubExchange asks for the request
// right after reporting the hello, with nothing in between on the single I/O thread; replies are
// matched to their endpoint by the connection's peer address, unique while it is open.
//
// Thread: everything runs on the thread driving `io`.
class RunController : public HubExchange::Listener
{
public:
    // `scenarios`: device id -> scenario for a map run; otherwise `scenario` goes to the
    // endpoints named in options.devices, or to the first options.endpoints (default 1) that
    // register.
    RunController(boost::asio::io_context& io, const RunOptions& options, Json::Value scenario,
                  std::map<std::string, Json::Value> scenarios);

    void start();
    // Called, on the I/O thread, once the run is over, instead of stopping `io`: for a hub that
    // goes on after the run. It must not destroy the controller from inside the call.
    void setOnFinished(std::function<void()> onFinished) { m_onFinished = std::move(onFinished); }
    bool finished() const { return m_finished; }

    void onHello(const std::string& peer, const std::string& hello) override;
    std::string nextRequest() override;
    void onReply(const std::string& peer, const std::string& reply) override;
    void onExchangeFailed(const std::string& peer, const std::string& what) override;

    // Set when the run ended before every endpoint registered.
    const std::string& error() const { return m_error; }
    const std::vector<std::unique_ptr<EndpointDriver>>& drivers() const { return m_drivers; }

    static std::int64_t hubNow();

private:
    unsigned expectedEndpoints() const;
    EndpointDriver* driverFor(const std::string& deviceId);
    // The scenario of an endpoint that has said who it is; null when it takes no part.
    Json::Value scenarioFor(const EndpointDriver& driver);
    // Moves an identified endpoint from m_identifying to the run or to m_others.
    void assign(const std::string& deviceId, const std::string& identifyLine);
    void tick();
    void checkProgress();
    void print(const std::string& line);
    void showProgress();
    void finish();

    boost::asio::io_context& m_io;
    const RunOptions& m_options;
    Json::Value m_scenario;
    std::map<std::string, Json::Value> m_scenarios;
    std::vector<std::unique_ptr<EndpointDriver>> m_drivers;
    // Endpoints asked who they are, not yet known to take part or not.
    std::vector<std::unique_ptr<EndpointDriver>> m_identifying;
    std::map<std::string, std::string> m_claimedKeys; // map key -> device id
    std::set<std::string> m_others;                   // endpoints that only get "nop"
    // Of the exchange whose request comes next.
    std::string m_helloDevice;
    std::string m_helloPeer;
    std::map<std::string, std::string> m_pendingByPeer;
    std::int64_t m_registerDeadline = 0;
    std::int64_t m_hubStart = 0;
    bool m_released = false;
    bool m_finished = false;
    std::string m_error;
    boost::asio::steady_timer m_timer;
    bool m_tty = false;
    std::string m_lastProgressKey;
    bool m_progressShown = false;
    std::function<void()> m_onFinished;
};

} // namespace hubrun
