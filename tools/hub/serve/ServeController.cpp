#include "ServeController.h"

#include "ArchiveSpool.h"
#include "ArchiveWriter.h"
#include "RunResults.h"
#include "bus/JsonRead.h"
#include "bus/TimePoint.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace hubserve {
namespace {

constexpr auto kTick = std::chrono::milliseconds(200);
// An endpoint silent this long is forgotten, with its last run's metrics: what peers can make
// the hub remember stays bounded.
constexpr std::int64_t kForgetAfterNs = 3600 * roamnode::kNanosecondsPerSecond;

void say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

Json::Value skippedEndpoint(const std::string& who, const char* status, const std::string& why)
{
    Json::Value endpoint(Json::objectValue);
    endpoint["deviceid"] = who;
    endpoint["status"] = status;
    endpoint["error"] = why;
    return endpoint;
}

} // namespace

ServeController::ServeController(boost::asio::io_context& io, Config config,
                                 hubarchive::ArchiveWriter& writer)
    : m_io(io), m_config(std::move(config)), m_writer(writer), m_timer(io)
{
}

ServeController::~ServeController() = default;

void ServeController::setSchedule(std::vector<ScheduledTest> tests)
{
    m_tests = std::move(tests);
    m_nextSlot.clear();
    const std::int64_t now = hubrun::RunController::hubNow();
    for (const ScheduledTest& test : m_tests)
        m_nextSlot[test.name] = nextSlot(test, now);
}

void ServeController::start()
{
    tick();
}

void ServeController::drain(std::function<void()> onIdle)
{
    m_draining = true;
    m_onIdle = std::move(onIdle);
    if (!m_runs.empty())
        say("stopping: waiting for " + std::to_string(m_runs.size()) + " run(s) to finish");
    checkIdle();
}

void ServeController::checkIdle()
{
    if (m_draining && m_runs.empty() && m_onIdle) {
        auto onIdle = std::move(m_onIdle);
        m_onIdle = nullptr;
        m_timer.cancel();
        onIdle();
    }
}

bool ServeController::registered(const Endpoint& endpoint, std::int64_t nowNs) const
{
    return endpoint.lastHelloNs != 0 &&
           nowNs - endpoint.lastHelloNs <= hubrun::EndpointDriver::kSilenceLimitNs;
}

void ServeController::tick()
{
    const std::int64_t now = hubrun::RunController::hubNow();
    if (!m_draining)
        for (const ScheduledTest& test : m_tests) {
            std::int64_t& slot = m_nextSlot[test.name];
            if (now < slot)
                continue;
            startRun(test, slot);
            slot = nextSlot(test, now);
        }
    for (auto it = m_endpoints.begin(); it != m_endpoints.end();) {
        if (!it->second.run && now - it->second.lastHelloNs > kForgetAfterNs) {
            m_latest.erase(it->first);
            it = m_endpoints.erase(it);
        } else {
            ++it;
        }
    }
    m_timer.expires_after(kTick);
    m_timer.async_wait([this](const boost::system::error_code& ec) {
        if (ec != boost::asio::error::operation_aborted)
            tick();
    });
}

void ServeController::startRun(const ScheduledTest& test, std::int64_t slotNs)
{
    const std::int64_t now = hubrun::RunController::hubNow();
    auto run = std::make_unique<Run>();
    run->test = test.name;
    run->slotNs = slotNs;
    run->scenario = test.scenario;
    std::vector<std::string> chosen;
    for (const std::string& wanted : test.endpoints) {
        std::vector<std::string> matches;
        for (const auto& [id, endpoint] : m_endpoints) {
            const Json::Value& name = endpoint.info["device-givenname"];
            if (registered(endpoint, now) &&
                (wanted == "all" || wanted == id || (name.isString() && name.asString() == wanted)))
                matches.push_back(id);
        }
        if (matches.empty() && wanted != "all")
            run->skipped.append(skippedEndpoint(wanted, "absent", "not registered"));
        for (const std::string& id : matches)
            if (std::find(chosen.begin(), chosen.end(), id) == chosen.end())
                chosen.push_back(id);
    }
    for (const std::string& id : chosen) {
        Endpoint& endpoint = m_endpoints[id];
        if (endpoint.run) {
            run->skipped.append(
                skippedEndpoint(id, "busy", "busy with test \"" + endpoint.run->test + "\""));
            continue;
        }
        run->devices.push_back(id);
    }
    for (const Json::Value& skipped : run->skipped)
        say("test " + test.name + ": endpoint " + skipped["deviceid"].asString() + " " +
            skipped["status"].asString() + " (" + skipped["error"].asString() + ")");
    Run* raw = run.get();
    m_runs.push_back(std::move(run));
    if (raw->devices.empty())
        return finishRun(raw);

    raw->options = m_config.run;
    raw->options.devices = raw->devices;
    raw->options.progress = false;
    raw->controller = std::make_unique<hubrun::RunController>(m_io, raw->options, raw->scenario,
                                                              std::map<std::string, Json::Value>{});
    // The controller calls this from inside its own handlers: finish after they return.
    raw->controller->setOnFinished(
        [this, raw] { boost::asio::post(m_io, [this, raw] { finishRun(raw); }); });
    for (const std::string& id : raw->devices)
        m_endpoints[id].run = raw;
    std::string who;
    for (const std::string& id : raw->devices)
        who += " " + id;
    say("test " + test.name + ": run on" + who);
    raw->controller->start();
}

void ServeController::finishRun(Run* run)
{
    const auto it =
        std::find_if(m_runs.begin(), m_runs.end(), [run](const auto& r) { return r.get() == run; });
    if (it == m_runs.end())
        return;
    static const std::vector<std::unique_ptr<hubrun::EndpointDriver>> none;
    hubrun::CollectedRun collected = hubrun::collectRun(
        run->controller ? run->controller->drivers() : none, run->scenario, {}, run->test);
    Json::Value& results = collected.results;
    if (!results.isMember("runstart"))
        results["runstart"] = static_cast<Json::Int64>(run->slotNs);
    results["scenario"] = run->scenario;
    for (const Json::Value& skipped : run->skipped)
        results["endpoints"].append(skipped);
    std::size_t endpointsFailed = run->skipped.size();
    if (run->controller)
        for (const auto& driver : run->controller->drivers())
            endpointsFailed += driver->phase() != hubrun::EndpointDriver::Phase::Done ? 1 : 0;
    const bool failed = collected.failed || endpointsFailed > 0;
    if (run->controller && !run->controller->error().empty())
        say("test " + run->test + ": " + run->controller->error());

    const hubarchive::RunRecord record = hubarchive::recordFromResults(results);
    for (const std::string& id : run->devices) {
        m_endpoints[id].run = nullptr;
        m_latest[id] = record;
    }
    for (auto peer = m_runByPeer.begin(); peer != m_runByPeer.end();)
        peer = peer->second == run ? m_runByPeer.erase(peer) : std::next(peer);
    ++m_runsFinished;
    m_runsFailed += failed ? 1 : 0;

    hubarchive::ArchiveSpool spool(m_config.outDir);
    std::string error;
    if (spool.add(results, run->test, error))
        m_writer.submit();
    else
        std::fprintf(stderr, "roamnode-hub serve: test %s: the run is lost: %s\n",
                     run->test.c_str(), error.c_str());
    say("test " + run->test + ": run finished" +
        (endpointsFailed > 0
             ? ", " + std::to_string(endpointsFailed) + " endpoint(s) busy, absent or failed"
             : "") +
        (collected.failed ? ", not every flow succeeded" : ""));
    m_runs.erase(it);
    checkIdle();
}

void ServeController::onHello(const std::string& peer, const std::string& hello)
{
    m_helloDevice.clear();
    m_helloPeer = peer;
    Json::Value value;
    if (!roamnode::parseJson(hello, value) || !value.isObject() || !value["uuid"].isString() ||
        value["uuid"].asString().empty())
        return;
    m_helloDevice = value["uuid"].asString();
    Endpoint& endpoint = m_endpoints[m_helloDevice];
    const std::int64_t now = hubrun::RunController::hubNow();
    if (!registered(endpoint, now))
        say("endpoint " + m_helloDevice + " registered");
    endpoint.lastHelloNs = now;
    if (endpoint.run)
        endpoint.run->controller->onHello(peer, hello);
}

std::string ServeController::nextRequest()
{
    const std::string device = m_helloDevice;
    m_helloDevice.clear();
    const auto it = m_endpoints.find(device);
    if (device.empty() || it == m_endpoints.end())
        return hubrun::EndpointDriver::kNop;
    Endpoint& endpoint = it->second;
    if (endpoint.run) {
        const std::string request = endpoint.run->controller->nextRequest();
        if (request != hubrun::EndpointDriver::kNop)
            m_runByPeer[m_helloPeer] = endpoint.run;
        return request;
    }
    if (endpoint.info.isNull()) {
        if (!endpoint.identifier)
            endpoint.identifier =
                std::make_unique<hubrun::EndpointDriver>(device, Json::Value(), 0);
        std::int64_t unused = 0;
        m_identifyByPeer[m_helloPeer] = device;
        return endpoint.identifier->nextRequest(hubrun::RunController::hubNow(), unused, 0);
    }
    return hubrun::EndpointDriver::kNop;
}

void ServeController::onReply(const std::string& peer, const std::string& reply)
{
    const auto run = m_runByPeer.find(peer);
    if (run != m_runByPeer.end()) {
        Run* owner = run->second;
        m_runByPeer.erase(run);
        owner->controller->onReply(peer, reply);
        return;
    }
    const auto identify = m_identifyByPeer.find(peer);
    if (identify == m_identifyByPeer.end())
        return;
    Endpoint& endpoint = m_endpoints[identify->second];
    const std::string device = identify->second;
    m_identifyByPeer.erase(identify);
    if (!endpoint.identifier)
        return;
    endpoint.identifier->onReply(reply, hubrun::RunController::hubNow());
    if (endpoint.identifier->phase() == hubrun::EndpointDriver::Phase::Identify)
        return;
    endpoint.info = endpoint.identifier->info();
    say("endpoint " + device + " is " + endpoint.identifier->identity());
    endpoint.identifier.reset();
}

void ServeController::onExchangeFailed(const std::string& peer, const std::string& what)
{
    m_identifyByPeer.erase(peer);
    const auto run = m_runByPeer.find(peer);
    if (run == m_runByPeer.end())
        return;
    Run* owner = run->second;
    m_runByPeer.erase(run);
    owner->controller->onExchangeFailed(peer, what);
}

MetricsSnapshot ServeController::metrics() const
{
    MetricsSnapshot snapshot;
    snapshot.latestByDevice = m_latest;
    snapshot.runs = m_runsFinished;
    snapshot.failedRuns = m_runsFailed;
    const std::int64_t now = hubrun::RunController::hubNow();
    for (const auto& entry : m_endpoints)
        snapshot.endpointsRegistered += registered(entry.second, now) ? 1 : 0;
    const auto& counters = m_writer.counters();
    snapshot.archived = counters.archived;
    snapshot.archiveFailures = counters.failures;
    snapshot.archivePending = counters.pending;
    return snapshot;
}

} // namespace hubserve
