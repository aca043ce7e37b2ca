#include "EndpointDriver.h"

#include "FlowPairing.h"
#include "ScenarioFile.h"
#include "TextFormat.h"
#include "bus/JsonRead.h"
#include "bus/TimePoint.h"

#include <cmath>
#include <cstdio>

namespace hubrun {
namespace {

namespace report = roamnode::report;

constexpr std::int64_t kSecondNs = roamnode::kNanosecondsPerSecond;

std::string seconds(std::int64_t ns)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", roamnode::secondsOf(static_cast<double>(ns)));
    return text;
}

std::string clockLine(const ClockOffset& clock, std::size_t samples)
{
    char text[64];
    std::snprintf(text, sizeof text, " (best round trip %.3f ms of %zu samples)",
                  roamnode::millisecondsOf(static_cast<double>(clock.roundTripNs)), samples);
    return report::offsetText(clock.offsetNs, clock.errorNs()) + text;
}

std::string text(const Json::Value& value)
{
    if (value.isString())
        return value.asString();
    return value.isNull() ? std::string() : roamnode::compactJson(value);
}

} // namespace

EndpointDriver::EndpointDriver(std::string deviceId, Json::Value scenario, unsigned clockSamples)
    : m_deviceId(std::move(deviceId)), m_scenario(std::move(scenario)), m_clockSamples(clockSamples)
{
}

std::int64_t EndpointDriver::durationNs() const
{
    const Json::Value& duration = m_scenario["duration"];
    return duration.isIntegral() ? duration.asLargestInt() : 0;
}

std::string EndpointDriver::label() const
{
    const std::string name = text(m_info["device-givenname"]);
    return name.empty() ? m_deviceId : name + " (" + m_deviceId + ")";
}

std::set<std::string> EndpointDriver::addresses() const
{
    return report::endpointAddresses(m_info);
}

std::string EndpointDriver::identity() const
{
    std::string out = "\"" + text(m_info["device-givenname"]) + "\"";
    for (const std::string& address : report::deviceAddresses(m_info))
        out += ", " + address;
    return out;
}

void EndpointDriver::onHello(const std::string& state, std::int64_t hubNow)
{
    m_state = state;
    m_lastHello = hubNow;
    if (state == "armed" || state == "scenario-running") {
        m_sawRun = true;
        // The reply to the set was lost, but the endpoint took the scenario.
        if (m_phase == Phase::Send && m_hubStart != 0)
            m_phase = Phase::Armed;
    }
}

void EndpointDriver::release()
{
    m_released = true;
    if (m_phase == Phase::Ready)
        m_phase = Phase::Send;
}

std::string EndpointDriver::identifyRequest() const
{
    return "{\"command\": \"get\", \"app-version\": \"\", \"capabilities\": \"\", "
           "\"device-givenname\": \"\", \"device-ipv4\": \"\", \"device-ipv6\": \"\", "
           "\"device-os\": \"\", \"device-os-version\": \"\", \"interfaces\": \"\"}";
}

std::string EndpointDriver::nextRequest(std::int64_t hubNow, std::int64_t& hubStart,
                                        double startInSeconds)
{
    m_awaitingReply = true;
    m_sentAt = hubNow;
    switch (m_phase) {
    case Phase::Identify:
        return identifyRequest();
    case Phase::Clock:
    case Phase::ClockAfter:
        ++m_clockAttempts;
        return "{\"command\": \"get\", \"localtime\": \"\"}";
    case Phase::Send: {
        if (hubStart == 0)
            hubStart =
                roamnode::saturatingAdd(hubNow, roamnode::nanosecondsOfSeconds(startInSeconds));
        m_hubStart = hubStart;
        m_endpointStart = hubStart + (m_clock ? m_clock->offsetNs : 0);
        Json::Value request(Json::objectValue);
        request["command"] = "set";
        request["scenariodescription"] = m_scenario;
        request["scenariostarttime"] = static_cast<Json::UInt64>(m_endpointStart);
        return roamnode::compactJson(request);
    }
    case Phase::Diagnose: {
        Json::Value request(Json::objectValue);
        request["command"] = "set";
        request["scenariodescription"] = m_scenario;
        return roamnode::compactJson(request);
    }
    case Phase::Armed:
        // Once the endpoint is back from the run, the results are due.
        if (m_state == "registered" &&
            (m_sawRun || hubNow > m_hubStart + durationNs() + kSecondNs / 4))
            m_phase = Phase::Collect;
        else
            break;
        [[fallthrough]];
    case Phase::Collect:
        return "{\"command\": \"get\", \"resultlist\": \"\"}";
    case Phase::Reset:
        return "{\"command\": \"set\", \"resultlist\": \"\"}";
    default:
        break;
    }
    m_awaitingReply = false;
    return kNop;
}

void EndpointDriver::onExchangeFailed()
{
    m_awaitingReply = false;
}

void EndpointDriver::fail(const std::string& error)
{
    if (finished())
        return;
    m_error = error;
    m_phase = Phase::Failed;
}

std::string EndpointDriver::onReply(const std::string& replyText, std::int64_t hubNow)
{
    if (!m_awaitingReply)
        return {};
    m_awaitingReply = false;
    Json::Value reply;
    std::string parseError;
    if (!roamnode::parseJson(replyText, reply, &parseError) || !reply.isObject()) {
        // The results are in: a garbled clock reply after them is one lost sample.
        if (m_phase == Phase::ClockAfter) {
            if (takeClockSample(Json::Value(), false, hubNow, m_samplesAfter))
                m_phase = Phase::Done;
            return {};
        }
        fail("the endpoint's reply is not a JSON object: " + parseError);
        return {};
    }
    const std::string status = text(reply["status"]);
    const std::string refusal = text(reply["errormessage"]) + " (" + status + ")";
    const bool success = status == "success";

    switch (m_phase) {
    case Phase::Identify: {
        for (const std::string& name : reply.getMemberNames())
            if (name != "status")
                m_info[name] = reply[name];
        m_phase = Phase::Clock;
        std::string line = "endpoint " + m_deviceId + ": \"" + text(m_info["device-givenname"]) +
                           "\", " + text(m_info["device-os"]) + " " +
                           text(m_info["device-os-version"]) + ", app " +
                           text(m_info["app-version"]) + ", IPv4 " + text(m_info["device-ipv4"]) +
                           ", IPv6 " + text(m_info["device-ipv6"]);
        if (!success)
            line += "\n  (" + refusal + ")";
        return line + "\n  capabilities " + text(m_info["capabilities"]);
    }
    case Phase::Clock: {
        if (!takeClockSample(reply, success, hubNow, m_samples))
            return {};
        m_clock = estimateClockOffset(m_samples);
        m_phase = m_released ? Phase::Send : Phase::Ready;
        m_clockAttempts = 0;
        if (!m_clock)
            return "endpoint " + label() + ": no clock sample; its clock is taken to be the hub's";
        return "endpoint " + label() + ": clock offset " + clockLine(*m_clock, m_samples.size());
    }
    case Phase::ClockAfter: {
        if (!takeClockSample(reply, success, hubNow, m_samplesAfter))
            return {};
        m_clockAfter = estimateClockOffset(m_samplesAfter);
        m_phase = Phase::Done;
        if (!m_clockAfter)
            return {};
        std::string line = "endpoint " + label() + ": clock offset after the run " +
                           clockLine(*m_clockAfter, m_samplesAfter.size());
        if (m_clock)
            if (const auto drift = driftPerMinute(*m_clock, *m_clockAfter))
                line += ", drift " + report::format("%+.3f", roamnode::millisecondsOf(*drift)) +
                        " \xc2\xb1 " +
                        report::format("%.3f ms/min", roamnode::millisecondsOf(*driftErrorPerMinute(
                                                          *m_clock, *m_clockAfter)));
        return line;
    }
    case Phase::Send:
        if (!success) {
            m_refusal = refusal;
            // The endpoint reports only the last refused variable, the start time, which it
            // refuses when the description before it was refused: ask for that reason.
            if (text(reply["errormessage"]).rfind("Error in <scenariostarttime>", 0) == 0) {
                m_phase = Phase::Diagnose;
                return {};
            }
            fail("the endpoint refused the scenario: " + refusal);
            return {};
        }
        m_phase = Phase::Armed;
        return "endpoint " + label() + ": scenario " + text(m_scenario["scenarioid"]) +
               " accepted, starts at " + report::timeOfDay(m_endpointStart) + " on its clock (in " +
               seconds(m_hubStart - hubNow) + ")";
    case Phase::Diagnose:
        fail("the endpoint refused the scenario: " + (success ? m_refusal : refusal));
        return {};
    case Phase::Collect:
        if (!success || !reply["resultlist"].isArray()) {
            fail("no result list: " + (success ? std::string("not an array") : refusal));
            return {};
        }
        m_resultList = reply["resultlist"];
        m_phase = Phase::Reset;
        return "endpoint " + label() + ": result list with " + std::to_string(m_resultList.size()) +
               " scenario result(s)";
    case Phase::Reset:
        m_clockAttempts = 0;
        m_phase = m_clockSamples > 0 ? Phase::ClockAfter : Phase::Done;
        return success ? std::string()
                       : "endpoint " + label() + ": the result list was not reset: " + refusal;
    default:
        return {};
    }
}

bool EndpointDriver::takeClockSample(const Json::Value& reply, bool success, std::int64_t hubNow,
                                     std::vector<ClockSample>& samples) const
{
    if (success && reply["localtime"].isIntegral())
        samples.push_back({m_sentAt, reply["localtime"].asLargestInt(), hubNow});
    // Failed exchanges do not count as samples, but the attempts are bounded.
    return samples.size() >= m_clockSamples || m_clockAttempts >= 3 * m_clockSamples;
}

void EndpointDriver::checkDeadlines(std::int64_t hubNow)
{
    if (finished())
        return;
    if (m_phase == Phase::ClockAfter) {
        // The results are in; a silent endpoint only costs the second offset.
        if (m_lastHello != 0 && hubNow - m_lastHello > kSilenceLimitNs)
            m_phase = Phase::Done;
        return;
    }
    if (m_phase == Phase::Armed) {
        // The heartbeat is silent from shortly before the start to the end of the run.
        if (hubNow > m_hubStart + durationNs() + kSilenceLimitNs)
            fail("the endpoint did not come back after the run");
        return;
    }
    if (m_lastHello != 0 && hubNow - m_lastHello > kSilenceLimitNs)
        fail("the endpoint stopped its heartbeat");
}

std::string EndpointDriver::progress(std::int64_t hubNow) const
{
    switch (m_phase) {
    case Phase::Identify:
    case Phase::Clock:
        return "identifying";
    case Phase::Ready:
        return "ready, waiting for the others";
    case Phase::Send:
        return "sending the scenario";
    case Phase::Diagnose:
        return "refused, asking why";
    case Phase::Armed:
        if (hubNow < m_hubStart)
            return m_state + ", start in " + seconds(m_hubStart - hubNow);
        if (m_state == "registered" && m_lastHello > m_hubStart)
            return "registered again, " + seconds(hubNow - m_hubStart) + " after the start";
        // The endpoint's heartbeat pauses from about a second before the start to the end.
        return "running, " + seconds(hubNow - m_hubStart) + " of " + seconds(durationNs()) +
               (hubNow - m_lastHello > 3 * kSecondNs / 2 ? " (heartbeat silent)" : "");
    case Phase::Collect:
    case Phase::Reset:
        return m_state + ", collecting results";
    case Phase::ClockAfter:
        return "measuring its clock again";
    case Phase::Done:
        return "done";
    case Phase::Failed:
        return "failed";
    }
    return {};
}

} // namespace hubrun
