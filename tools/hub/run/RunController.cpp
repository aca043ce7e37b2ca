#include "RunController.h"

#include "FlowPairing.h"
#include "ScenarioFile.h"
#include "bus/JsonRead.h"
#include "bus/TimePoint.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace hubrun {
namespace {

constexpr std::int64_t kSecondNs = roamnode::kNanosecondsPerSecond;
constexpr auto kTick = std::chrono::milliseconds(250);

std::string shortId(const std::string& id)
{
    return id.size() > 8 ? id.substr(0, 8) : id;
}

} // namespace

RunController::RunController(boost::asio::io_context& io, const RunOptions& options,
                             Json::Value scenario, std::map<std::string, Json::Value> scenarios)
    : m_io(io), m_options(options), m_scenario(std::move(scenario)),
      m_scenarios(std::move(scenarios)), m_timer(io), m_tty(isatty(STDERR_FILENO) != 0)
{
}

std::int64_t RunController::hubNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

unsigned RunController::expectedEndpoints() const
{
    if (!m_scenarios.empty())
        return static_cast<unsigned>(m_scenarios.size());
    if (!m_options.devices.empty())
        return static_cast<unsigned>(m_options.devices.size());
    return m_options.endpoints == 0 ? 1 : m_options.endpoints;
}

void RunController::start()
{
    m_registerDeadline = roamnode::saturatingAdd(
        hubNow(), roamnode::nanosecondsOfSeconds(m_options.registerTimeoutSeconds));
    tick();
}

EndpointDriver* RunController::driverFor(const std::string& deviceId)
{
    for (const auto& driver : m_drivers)
        if (driver->deviceId() == deviceId)
            return driver.get();
    for (const auto& driver : m_identifying)
        if (driver->deviceId() == deviceId)
            return driver.get();
    if (m_others.count(deviceId) != 0 || m_finished)
        return nullptr;
    // Everyone is asked who it is first: a map may name it by its name or address.
    m_identifying.push_back(
        std::make_unique<EndpointDriver>(deviceId, Json::Value(), m_options.clockSamples));
    return m_identifying.back().get();
}

Json::Value RunController::scenarioFor(const EndpointDriver& driver)
{
    const std::string& id = driver.deviceId();
    if (!m_scenarios.empty()) {
        std::string problem;
        const Json::Value& name = driver.info()["device-givenname"];
        const std::string key =
            matchMapKey(m_scenarios, id, name.isString() ? name.asString() : std::string(),
                        roamnode::report::deviceAddresses(driver.info()), problem);
        const auto claimed = m_claimedKeys.find(key);
        if (!key.empty() && claimed != m_claimedKeys.end())
            problem = "the map key \"" + key + "\" names both " + claimed->second + " and " + id +
                      "; use their device ids";
        if (!problem.empty()) {
            m_error = problem;
            return Json::Value();
        }
        if (key.empty())
            return Json::Value();
        m_claimedKeys[key] = id;
        return m_scenarios[key];
    }
    if (!m_options.devices.empty()) {
        for (const std::string& wanted : m_options.devices)
            if (wanted == id)
                return m_scenario;
        return Json::Value();
    }
    return m_drivers.size() < expectedEndpoints() ? m_scenario : Json::Value();
}

void RunController::assign(const std::string& deviceId, const std::string& identifyLine)
{
    auto it = std::find_if(m_identifying.begin(), m_identifying.end(),
                           [&](const auto& d) { return d->deviceId() == deviceId; });
    if (it == m_identifying.end())
        return;
    std::unique_ptr<EndpointDriver> driver = std::move(*it);
    m_identifying.erase(it);
    const std::string who = "endpoint " + deviceId + " (" + driver->identity() + ")";
    if (driver->phase() == EndpointDriver::Phase::Failed) {
        m_others.insert(deviceId);
        print(who + " registered; it did not say who it is (" + driver->error() +
              "), it gets \"nop\"");
        return;
    }
    Json::Value scenario = scenarioFor(*driver);
    if (!m_error.empty()) {
        print(who + " registered: " + m_error);
        for (const auto& d : m_drivers)
            d->fail("the run did not start: " + m_error);
        return finish();
    }
    if (scenario.isNull()) {
        m_others.insert(deviceId);
        print(who + " registered; not part of this run, it gets \"nop\"");
        return;
    }
    driver->setScenario(std::move(scenario));
    m_drivers.push_back(std::move(driver));
    print(who + " registered (" + std::to_string(m_drivers.size()) + " of " +
          std::to_string(expectedEndpoints()) + ")");
    print(identifyLine);
}

void RunController::onHello(const std::string& peer, const std::string& hello)
{
    m_helloDevice.clear();
    m_helloPeer = peer;
    Json::Value value;
    std::string error;
    if (!roamnode::parseJson(hello, value, &error) || !value.isObject() ||
        !value["uuid"].isString() || value["uuid"].asString().empty()) {
        print("hello without a device id from " + peer + ": " + hello);
        return;
    }
    m_helloDevice = value["uuid"].asString();
    if (EndpointDriver* driver = driverFor(m_helloDevice)) {
        const std::string state = value["state"].isString() ? value["state"].asString() : "";
        driver->onHello(state, hubNow());
    }
}

std::string RunController::nextRequest()
{
    const std::string device = m_helloDevice;
    m_helloDevice.clear();
    EndpointDriver* driver = device.empty() || m_finished ? nullptr : driverFor(device);
    if (!driver || driver->finished())
        return EndpointDriver::kNop;
    const std::string request = driver->nextRequest(hubNow(), m_hubStart, m_options.startInSeconds);
    // A "nop" waits for nothing; the exchange that the endpoint cuts short when it stops its
    // heartbeat before the start is one of those.
    if (request != EndpointDriver::kNop)
        m_pendingByPeer[m_helloPeer] = device;
    return request;
}

void RunController::onReply(const std::string& peer, const std::string& reply)
{
    const auto it = m_pendingByPeer.find(peer);
    if (it == m_pendingByPeer.end())
        return;
    const std::string device = it->second;
    m_pendingByPeer.erase(it);
    for (const auto& driver : m_identifying) {
        if (driver->deviceId() != device)
            continue;
        const std::string line = driver->onReply(reply, hubNow());
        if (driver->phase() != EndpointDriver::Phase::Identify)
            assign(device, line);
        return checkProgress();
    }
    for (const auto& driver : m_drivers) {
        if (driver->deviceId() != device)
            continue;
        const bool wasFinished = driver->finished();
        const std::string line = driver->onReply(reply, hubNow());
        if (!line.empty())
            print(line);
        if (!wasFinished && driver->phase() == EndpointDriver::Phase::Failed)
            print("endpoint " + driver->label() + ": " + driver->error());
    }
    checkProgress();
}

void RunController::onExchangeFailed(const std::string& peer, const std::string& what)
{
    const auto it = m_pendingByPeer.find(peer);
    if (it == m_pendingByPeer.end())
        return;
    for (const auto* drivers : {&m_drivers, &m_identifying})
        for (const auto& driver : *drivers)
            if (driver->deviceId() == it->second)
                driver->onExchangeFailed();
    print("exchange with " + it->second + " (" + peer + ") failed: " + what);
    m_pendingByPeer.erase(it);
}

void RunController::tick()
{
    checkProgress();
    if (m_finished)
        return;
    showProgress();
    m_timer.expires_after(kTick);
    m_timer.async_wait([this](const boost::system::error_code& error) {
        if (error == boost::asio::error::operation_aborted)
            return;
        tick();
    });
}

void RunController::checkProgress()
{
    if (m_finished)
        return;
    const std::int64_t now = hubNow();
    const bool allRegistered = m_drivers.size() >= expectedEndpoints();
    if (!allRegistered && now > m_registerDeadline) {
        m_error = std::to_string(m_drivers.size()) + " of " + std::to_string(expectedEndpoints()) +
                  " endpoint(s) registered within " +
                  std::to_string(static_cast<long>(m_options.registerTimeoutSeconds)) + " s";
        for (const auto& driver : m_drivers)
            driver->fail("the run did not start: not every endpoint registered");
        return finish();
    }
    for (const auto& driver : m_drivers) {
        const bool wasFinished = driver->finished();
        driver->checkDeadlines(now);
        if (!wasFinished && driver->finished())
            print("endpoint " + driver->label() + ": " + driver->error());
    }
    // One start for all: the scenarios go out once every endpoint knows its clock offset.
    if (allRegistered && !m_released) {
        bool ready = true;
        for (const auto& driver : m_drivers)
            ready =
                ready && (driver->phase() == EndpointDriver::Phase::Ready || driver->finished());
        if (ready) {
            m_released = true;
            for (const auto& driver : m_drivers)
                driver->release();
        }
    }
    bool done = allRegistered;
    for (const auto& driver : m_drivers)
        done = done && driver->finished();
    if (done)
        finish();
}

void RunController::finish()
{
    m_finished = true;
    if (m_tty && m_progressShown)
        std::fputs("\r\033[K", stderr);
    m_timer.cancel();
    if (m_onFinished)
        m_onFinished();
    else
        m_io.stop();
}

void RunController::print(const std::string& line)
{
    if (m_tty && m_progressShown) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void RunController::showProgress()
{
    if (!m_options.progress)
        return;
    const std::int64_t now = hubNow();
    std::string line, key;
    if (m_drivers.size() < expectedEndpoints()) {
        line = "waiting for endpoints: " + std::to_string(m_drivers.size()) + " of " +
               std::to_string(expectedEndpoints()) + " registered, " +
               std::to_string((m_registerDeadline - now) / kSecondNs) + " s left";
        key = "waiting " + std::to_string(m_drivers.size());
    }
    for (const auto& driver : m_drivers) {
        if (!line.empty())
            line += " | ";
        const std::string progress = driver->progress(now);
        line += (m_drivers.size() > 1 ? shortId(driver->deviceId()) + ": " : "") + progress;
        key += std::to_string(static_cast<int>(driver->phase())) + driver->state() + ";";
    }
    if (m_tty) {
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
        m_progressShown = true;
    } else if (key != m_lastProgressKey) {
        // Not a terminal: one line per change of phase or state instead of a live line.
        m_lastProgressKey = key;
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
}

} // namespace hubrun
