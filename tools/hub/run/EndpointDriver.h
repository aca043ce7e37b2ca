#pragma once

#include "ClockOffset.h"

#include <json/value.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace hubrun {

// Drives one endpoint through a run, one request per heartbeat exchange: who it is, its clock
// offset, the scenario with its start time, then the result list, its reset, and the clock
// offset again (for the drift over the run). It only decides
// what to send and reads what comes back; RunController owns the sockets and the clock.
//
// Thread: the hub's I/O thread.
class EndpointDriver
{
public:
    enum class Phase {
        Identify,   // "get" of the device variables
        Clock,      // "get localtime" a few times
        Ready,      // waits for the other endpoints of the run
        Send,       // one "set" of the scenario and its start time
        Diagnose,   // the set was refused for want of a scenario: the scenario alone, for why
        Armed,      // the endpoint waits for the start, runs, and comes back
        Collect,    // "get resultlist"
        Reset,      // "set resultlist"
        ClockAfter, // "get localtime" again; the results are in whatever comes of it
        Done,
        Failed,
    };

    // A null scenario: the endpoint is only identified until setScenario() says it takes part.
    EndpointDriver(std::string deviceId, Json::Value scenario, unsigned clockSamples);

    void setScenario(Json::Value scenario) { m_scenario = std::move(scenario); }

    const std::string& deviceId() const { return m_deviceId; }
    Phase phase() const { return m_phase; }
    bool finished() const { return m_phase == Phase::Done || m_phase == Phase::Failed; }

    // Called for every hello of this endpoint, right before nextRequest() of the same exchange.
    void onHello(const std::string& state, std::int64_t hubNow);
    // The run's start on the hub clock, once the first scenario has gone out.
    std::string nextRequest(std::int64_t hubNow, std::int64_t& hubStart, double startInSeconds);
    // Returns a line worth printing, or empty.
    std::string onReply(const std::string& reply, std::int64_t hubNow);
    // The request of a failed exchange is sent again on the next one.
    void onExchangeFailed();
    // Bounds the phases in which the endpoint should keep talking.
    void checkDeadlines(std::int64_t hubNow);
    void fail(const std::string& error);
    // Lets the endpoint leave Ready: every endpoint of the run is.
    void release();

    const std::string& state() const { return m_state; }
    std::int64_t lastHello() const { return m_lastHello; }
    const std::string& error() const { return m_error; }
    const Json::Value& scenario() const { return m_scenario; }
    const Json::Value& info() const { return m_info; }
    const Json::Value& resultList() const { return m_resultList; }
    const std::optional<ClockOffset>& clock() const { return m_clock; }
    const std::optional<ClockOffset>& clockAfter() const { return m_clockAfter; }
    // Every address it named, loopback included (FlowPairing.h's form).
    std::set<std::string> addresses() const;
    // "name, 10.0.0.5, fe80::1": who it is, for the lines about it.
    std::string identity() const;
    std::int64_t hubStart() const { return m_hubStart; }
    // The start sent to the endpoint, on its clock; 0 before the scenario went out.
    std::int64_t endpointStart() const { return m_endpointStart; }
    std::int64_t durationNs() const;
    // "name (id)" once the name is known.
    std::string label() const;
    // The run's part of the progress line.
    std::string progress(std::int64_t hubNow) const;

    // Silence allowed outside a run, and after the scenario's end before the results are in.
    static constexpr const char* kNop = "{\"command\": \"nop\"}";

    static constexpr std::int64_t kSilenceLimitNs = 30'000'000'000;

private:
    std::string identifyRequest() const;
    // Takes one "localtime" reply; true once enough samples (or attempts) are in.
    bool takeClockSample(const Json::Value& reply, bool success, std::int64_t hubNow,
                         std::vector<ClockSample>& samples) const;

    std::string m_deviceId;
    Json::Value m_scenario;
    unsigned m_clockSamples;
    Phase m_phase = Phase::Identify;
    bool m_released = false;
    std::string m_state;
    std::int64_t m_lastHello = 0;
    bool m_sawRun = false; // a hello said "armed" or "scenario-running" after the set
    bool m_awaitingReply = false;
    std::int64_t m_sentAt = 0;
    std::vector<ClockSample> m_samples, m_samplesAfter;
    unsigned m_clockAttempts = 0;
    std::optional<ClockOffset> m_clock, m_clockAfter;
    std::int64_t m_hubStart = 0;
    std::int64_t m_endpointStart = 0;
    Json::Value m_info{Json::objectValue};
    Json::Value m_resultList{Json::arrayValue};
    std::string m_error;
    std::string m_refusal;
};

} // namespace hubrun
