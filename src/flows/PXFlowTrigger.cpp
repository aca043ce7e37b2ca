#include "PXFlowTrigger.h"

#include "JsonField.h"
#include "PXFlowResult.h"

using roamnode::json::Field;

PXFlowTrigger::PXFlowTrigger(std::uint32_t id, IpVersion ipVersion, PXScenario* scenario)
    : PXFlow(id, FlowKind::UdpTrigger, ipVersion, scenario),
      m_frameOverhead(ipVersion == IpVersion::V6 ? 62 : 42)
{
    m_config.ipv6 = ipVersion == IpVersion::V6 ? 1 : 0;
    if (scenario != nullptr)
        m_config.receiveDuration = scenario->duration;
}

PXFlowTrigger::~PXFlowTrigger() = default;

ScenarioErrorCode PXFlowTrigger::parseFlowContent(const Json::Value& content)
{
    using namespace roamnode::json;
    const bool v6 = ipVersion() == IpVersion::V6;
    std::int64_t number = 0;

    if (readInt64(content, "srcport", number) != Field::Ok)
        return SCENARIO_TRIGGER_NO_SRCPORT;
    m_config.srcPort = static_cast<std::uint16_t>(number);
    if (readInt64(content, "dstport", number) != Field::Ok)
        return SCENARIO_TRIGGER_NO_DSTPORT;
    m_config.dstPort = static_cast<std::uint16_t>(number);
    if (readString(content, v6 ? "srcipv6" : "srcipv4", m_config.source) != Field::Ok)
        return v6 ? SCENARIO_TRIGGER_NO_SRCIPV6 : SCENARIO_TRIGGER_NO_SRCIPV4;

    if (readInt64(content, "sizemin", number) == Field::WrongType)
        return SCENARIO_TRIGGER_SIZE_NOT_INTEGER;
    m_sizeMin = member(content, "sizemin") ? number : 0;
    if (readInt64(content, "sizemax", number) == Field::WrongType)
        return SCENARIO_TRIGGER_SIZE_NOT_INTEGER;
    m_sizeMax = member(content, "sizemax") ? number : 1600;
    if (readInt64(content, "tos", number) == Field::WrongType)
        return SCENARIO_TOS_NOT_INTEGER;
    m_tos = member(content, "tos") ? static_cast<std::int32_t>(number) : 0;

    const Json::Value* latency = member(content, "latency");
    if (latency == nullptr)
        return SCENARIO_OK;
    if (!latency->isObject())
        return SCENARIO_LATENCY_NOT_OBJECT;
    std::string type;
    if (readString(*latency, "type", type) != Field::Ok)
        return SCENARIO_LATENCY_NO_TYPE;
    // "none" measures like "average": the hub uses both to ask for latency.
    if (type != "none" && type != "average")
        return SCENARIO_LATENCY_INVALID_TYPE;
    if (readInt64(*latency, "position", number) != Field::Ok)
        return SCENARIO_LATENCY_NO_POSITION;
    // Compared as unsigned: a negative position passes, as the hub has always seen it.
    if (static_cast<std::uint64_t>(number) < 8)
        return SCENARIO_LATENCY_INVALID_POSITION;
    m_config.latencyPosition = static_cast<std::uint64_t>(number);
    if (readInt64(*latency, "timeoffset", number) != Field::Ok)
        return SCENARIO_LATENCY_NO_TIMEOFFSET;
    m_config.latencyTimeOffset = number;
    m_config.latencyOn = true;
    return SCENARIO_OK;
}

void PXFlowTrigger::stop()
{
    if (m_engine)
        m_engine->stop();
}

void PXFlowTrigger::releaseEngine()
{
    m_engine.reset();
}

void PXFlowTrigger::resetSpeed()
{
    PXFlow::resetSpeed();
    if (m_config.latencyOn && result())
        result()->addLatencyEntry(lastReport());
}

void PXFlowTrigger::run()
{
    if (!prepare())
        return;
    const std::string what = "Cannot start Trigger flow " + std::to_string(id()) +
                             " (local UDP port " + std::to_string(m_config.dstPort) + ", source " +
                             m_config.source + " port " + std::to_string(m_config.srcPort) + ")";
    startEngine(m_engine, std::weak_ptr<Trigger::Listener>(weak_from_this()), m_config, what);
}

void PXFlowTrigger::onFrameReceived(roamnode::time_point now, std::size_t bytes)
{
    const std::uint64_t counted = bytes + m_frameOverhead;
    reportBytes(now, counted);
    result()->addSample(counted, roamnode::toNanoseconds(now));
}

void PXFlowTrigger::onFrameReceivedWithLatency(roamnode::time_point now, std::size_t bytes,
                                               std::int64_t latencyNs)
{
    const std::uint64_t counted = bytes + m_frameOverhead;
    reportBytes(now, counted);
    if (!result()->addSample(counted, roamnode::toNanoseconds(now), latencyNs)) {
        m_rejectedTagWarnings.warn([latencyNs] {
            return "PXFlowResult:: Rejecting timestamp, more than 60s ago! " +
                   std::to_string(latencyNs);
        });
    }
}

void PXFlowTrigger::onFinished()
{
    finishResult();
}
