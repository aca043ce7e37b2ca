#pragma once

#include "ArchiveRecord.h"
#include "EndpointDriver.h"
#include "HubExchange.h"
#include "MetricsServer.h"
#include "RunController.h"
#include "RunOptions.h"
#include "Schedule.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace hubarchive {
class ArchiveWriter;
}

namespace hubserve {

// The hub of `roamnode-hub serve`: answers every endpoint's heartbeat ("nop" between tests),
// asks each new endpoint who it is, and at each test's times starts a run (RunController) on
// the endpoints the test names that are free; a busy or absent endpoint is recorded in the run
// and left out. A run ends in the spool folder and goes to the archive from there.
//
// One run at a time per endpoint: an endpoint belongs to at most one run, and its exchanges go
// to that run's controller; runs on different endpoints go on side by side.
//
// Thread: everything runs on the thread driving `io`, except the archive writer's own thread.
class ServeController : public HubExchange::Listener
{
public:
    struct Config
    {
        hubrun::RunOptions run; // start delay, clock samples, registration bound of each run
        std::string outDir;
    };

    ServeController(boost::asio::io_context& io, Config config, hubarchive::ArchiveWriter& writer);
    ~ServeController() override;

    // Replaces the schedule; a run under way goes on.
    void setSchedule(std::vector<ScheduledTest> tests);
    void start();
    // No new run from now on; `onIdle` is called once no run is left (at once if none is).
    void drain(std::function<void()> onIdle);

    void onHello(const std::string& peer, const std::string& hello) override;
    std::string nextRequest() override;
    void onReply(const std::string& peer, const std::string& reply) override;
    void onExchangeFailed(const std::string& peer, const std::string& what) override;

    MetricsSnapshot metrics() const;

private:
    struct Run
    {
        std::string test;
        std::int64_t slotNs = 0;
        hubrun::RunOptions options;
        Json::Value scenario;
        std::unique_ptr<hubrun::RunController> controller;
        std::vector<std::string> devices;
        Json::Value skipped{Json::arrayValue}; // endpoints of results.json: busy or absent
    };
    struct Endpoint
    {
        std::int64_t lastHelloNs = 0;
        Json::Value info;
        std::unique_ptr<hubrun::EndpointDriver> identifier; // until it said who it is
        Run* run = nullptr;
    };

    void tick();
    void startRun(const ScheduledTest& test, std::int64_t slotNs);
    void finishRun(Run* run);
    bool registered(const Endpoint& endpoint, std::int64_t nowNs) const;
    void checkIdle();

    boost::asio::io_context& m_io;
    Config m_config;
    hubarchive::ArchiveWriter& m_writer;
    std::vector<ScheduledTest> m_tests;
    std::map<std::string, std::int64_t> m_nextSlot; // test name -> ns
    std::map<std::string, Endpoint> m_endpoints;    // device id ->
    std::list<std::unique_ptr<Run>> m_runs;
    // The exchange whose request comes next (HubExchange asks right after the hello).
    std::string m_helloDevice;
    std::string m_helloPeer;
    // peer -> the run or the identification its open exchange belongs to
    std::map<std::string, Run*> m_runByPeer;
    std::map<std::string, std::string> m_identifyByPeer;
    std::map<std::string, hubarchive::RunRecord> m_latest;
    std::uint64_t m_runsFinished = 0, m_runsFailed = 0;
    std::function<void()> m_onIdle;
    bool m_draining = false;
    boost::asio::steady_timer m_timer;
};

} // namespace hubserve
