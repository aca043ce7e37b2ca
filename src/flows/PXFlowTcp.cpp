#include "PXFlowTcp.h"

#include "JsonField.h"
#include "PXFlowResult.h"

#include <algorithm>

using roamnode::json::Field;

namespace {

// "tcprestart" has been sent as a boolean, a number and a string over time; all are honoured.
bool readRestart(const Json::Value& content, bool fallback)
{
    const Json::Value* value = roamnode::json::member(content, "tcprestart");
    if (value == nullptr)
        return fallback;
    if (value->isBool())
        return value->asBool();
    if (value->isInt64())
        return value->asInt64() > 0;
    if (value->isUInt64())
        return true;
    if (value->isString())
        return value->asString() == "true";
    return fallback;
}

} // namespace

PXFlowTcp::PXFlowTcp(std::uint32_t id, FlowKind kind, IpVersion ipVersion, PXScenario* scenario)
    : PXFlow(id, kind, ipVersion, scenario)
{
    m_config.method = kind == FlowKind::HttpPut ? 1 : 0;
}

PXFlowTcp::~PXFlowTcp() = default;

ScenarioErrorCode PXFlowTcp::readRequestMethod(const Json::Value& content, FlowKind& kind)
{
    std::string method;
    if (roamnode::json::readString(content, "requestmethod", method) != Field::Ok)
        return SCENARIO_TCP_NO_HTTPMETHOD;
    if (method == "get")
        kind = FlowKind::HttpGet;
    else if (method == "put")
        kind = FlowKind::HttpPut;
    else
        return SCENARIO_TCP_INVALID_HTTPMETHOD;
    return SCENARIO_OK;
}

ScenarioErrorCode PXFlowTcp::parseFlowContent(const Json::Value& content)
{
    using namespace roamnode::json;
    const bool v6 = ipVersion() == IpVersion::V6;
    std::int64_t number = 0;

    FlowKind requested = kind();
    if (const ScenarioErrorCode code = readRequestMethod(content, requested))
        return code;
    if (readInt64(content, "initialtimetowait", number) != Field::Ok)
        return SCENARIO_TCP_NO_INITIALTIMETOWAIT;
    m_config.initialTimeToWait = number;
    if (readString(content, "url", m_config.url) != Field::Ok)
        return SCENARIO_TCP_NO_URL;
    // The url goes into the request line as it is: a blank would end the target early, and a
    // CR LF would start headers of the hub's choosing.
    const bool unsafe = std::any_of(m_config.url.begin(), m_config.url.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7f;
    });
    if (unsafe)
        return SCENARIO_TCP_INVALID_URL;
    if (readInt64(content, "srcport", number) != Field::Ok)
        return SCENARIO_TCP_NO_SRCPORT;
    m_config.srcPort = static_cast<std::uint16_t>(number);
    if (readInt64(content, "dstport", number) != Field::Ok)
        return SCENARIO_TCP_NO_DSTPORT;
    m_config.dstPort = static_cast<std::uint16_t>(number);
    if (readInt64(content, "duration", number) != Field::Ok)
        return SCENARIO_TCP_NO_DURATION;
    m_config.duration = number;
    if (readInt64(content, "tos", number) == Field::WrongType)
        return SCENARIO_TOS_NOT_INTEGER;
    m_config.tos = member(content, "tos") ? static_cast<std::int32_t>(number) : 0;
    if (readInt64(content, "ratelimit", number) == Field::WrongType)
        return SCENARIO_TCP_RATELIMIT_NOT_INTEGER;
    m_config.rateLimit = member(content, "ratelimit") ? number : -1;
    if (readString(content, v6 ? "dstipv6" : "dstipv4", m_config.destination) != Field::Ok)
        return v6 ? SCENARIO_TCP_NO_DSTIPV6 : SCENARIO_TCP_NO_DSTIPV4;
    m_config.restart = readRestart(content, false);
    return SCENARIO_OK;
}

void PXFlowTcp::stop()
{
    if (m_engine)
        m_engine->stop();
}

void PXFlowTcp::releaseEngine()
{
    m_engine.reset();
}

void PXFlowTcp::run()
{
    if (!prepare())
        return;
    m_config.ipv6 = ipVersion() == IpVersion::V6 ? 1 : 0;
    const std::string what = "Cannot start TCP flow " + std::to_string(id()) + " (local TCP port " +
                             std::to_string(m_config.srcPort) + ", server " + m_config.destination +
                             " port " + std::to_string(m_config.dstPort) + ")";
    startEngine(m_engine, std::weak_ptr<MultiConnect::Listener>(weak_from_this()), m_config, what);
}

void PXFlowTcp::onBytes(std::size_t bytes, roamnode::time_point now)
{
    reportBytes(now, bytes);
}

void PXFlowTcp::onFinished()
{
    finishResult();
}

void PXFlowTcp::onFailed(const std::string& reason)
{
    failResult(reason);
}
