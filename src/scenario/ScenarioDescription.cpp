#include "scenario/ScenarioDescription.h"

#include "bus/JsonRead.h"
#include "bus/TimePoint.h"
#include "scenario/FlowDescription.h"
#include "scenario/JsonField.h"

#include <array>

using roamnode::compactJson;
using roamnode::parseJson;
using roamnode::json::Field;
using roamnode::json::member;
using roamnode::json::readInt64;
using roamnode::json::readString;

namespace {

// A week: far beyond any test a hub schedules, short enough that a run always ends.
constexpr std::int64_t kMaxScenarioDurationNs =
    INT64_C(7) * 24 * 3600 * roamnode::kNanosecondsPerSecond;

struct FlowType
{
    const char* name;
    IpVersion ipVersion;
    // Reads the "flow" object of this type into the plan's content.
    ScenarioErrorCode (*read)(const Json::Value& content, IpVersion ipVersion, PXFlowPlan& flow);
};

ScenarioErrorCode readStream(const Json::Value& content, IpVersion ipVersion, PXFlowPlan& flow)
{
    return readStreamFlow(content, ipVersion, flow.content.emplace<Stream::Config>());
}
ScenarioErrorCode readTrigger(const Json::Value& content, IpVersion ipVersion, PXFlowPlan& flow)
{
    return readTriggerFlow(content, ipVersion, flow.content.emplace<PXTriggerPlan>());
}
// GET or PUT: "requestmethod" decides.
ScenarioErrorCode readHttp(const Json::Value& content, IpVersion ipVersion, PXFlowPlan& flow)
{
    return readHttpFlow(content, ipVersion, flow.content.emplace<MultiConnect::Config>());
}

// The six names the hub knows; a lookup never adds to this table.
constexpr std::array<FlowType, 6> flowTypes = {{
    {"tcpv4", IpVersion::V4, readHttp},
    {"tcpv6", IpVersion::V6, readHttp},
    {"streamv4", IpVersion::V4, readStream},
    {"streamv6", IpVersion::V6, readStream},
    {"triggerv4", IpVersion::V4, readTrigger},
    {"triggerv6", IpVersion::V6, readTrigger},
}};

const FlowType* findFlowType(const std::string& name)
{
    for (const FlowType& type : flowTypes) {
        if (name == type.name)
            return &type;
    }
    return nullptr;
}

ScenarioErrorCode parseFlow(const Json::Value& entry, PXScenarioPlan& scenario)
{
    if (!entry.isObject())
        return SCENARIO_FLOW_NOT_OBJECT;
    std::int64_t id = 0;
    if (readInt64(entry, "id", id) != Field::Ok)
        return SCENARIO_NO_FLOWID;
    std::string typeName;
    if (readString(entry, "flowtype", typeName) != Field::Ok)
        return SCENARIO_NO_FLOWTYPE;
    const FlowType* type = findFlowType(typeName);
    if (type == nullptr)
        return SCENARIO_UNKNOWN_FLOWTYPE;
    const Json::Value* content = member(entry, "flow");
    if (content == nullptr || !content->isObject())
        return SCENARIO_NO_FLOWCONTENT;

    PXFlowPlan flow;
    flow.id = static_cast<std::uint32_t>(id);
    flow.ipVersion = type->ipVersion;
    const ScenarioErrorCode code = type->read(*content, type->ipVersion, flow);
    if (code != SCENARIO_OK)
        return code;
    scenario.flows.push_back(std::move(flow));
    return SCENARIO_OK;
}

ScenarioErrorCode parseMonitor(const Json::Value& entry, PXScenarioPlan& scenario)
{
    if (!entry.isObject())
        return SCENARIO_MONITOR_NOT_OBJECT;
    std::string type;
    if (readString(entry, "monitortype", type) != Field::Ok)
        return SCENARIO_MONITOR_NO_TYPE;
    std::int64_t id = 0;
    if (readInt64(entry, "id", id) != Field::Ok)
        return SCENARIO_MONITOR_NO_ID;
    if (type != "wifi")
        return SCENARIO_MONITOR_UNKNOWN_TYPE;
    const Json::Value* configuration = member(entry, "monitor");
    if (configuration == nullptr || !configuration->isObject())
        return SCENARIO_MONITOR_NO_CONFIGURATION;
    std::int64_t interval = roamnode::kNanosecondsPerSecond;
    if (readInt64(*configuration, "resultinterval", interval) == Field::WrongType)
        return SCENARIO_MONITOR_RESULTINTERVAL_NOT_INTEGER;
    scenario.monitors.push_back({static_cast<std::int32_t>(id), interval});
    return SCENARIO_OK;
}

} // namespace

ScenarioErrorCode parseScenarioDescription(const std::string& text, PXScenarioPlan& scenario)
{
    Json::Value root;
    if (!parseJson(text, root))
        return SCENARIO_INVALID_JSON;
    if (!root.isObject())
        return SCENARIO_DESCRIPTION_NOT_OBJECT;

    std::int64_t number = 0;
    if (readInt64(root, "scenarioid", number) != Field::Ok)
        return SCENARIO_NO_SCENARIOID;
    PXScenarioPlan parsed;
    parsed.id = static_cast<std::int32_t>(number);

    if (readInt64(root, "duration", number) != Field::Ok)
        return SCENARIO_NO_DURATION;
    if (number < 0 || number > kMaxScenarioDurationNs)
        return SCENARIO_INVALID_DURATION;
    parsed.duration = static_cast<std::uint64_t>(number);

    const Json::Value* flows = member(root, "flows");
    if (flows == nullptr || !flows->isArray())
        return SCENARIO_NO_FLOWS;
    for (const Json::Value& entry : *flows) {
        if (const ScenarioErrorCode code = parseFlow(entry, parsed))
            return code;
    }

    // An object is walked over its member values; any other non-array value means no monitors.
    if (const Json::Value* monitors = member(root, "monitors")) {
        if (monitors->isArray() || monitors->isObject()) {
            for (const Json::Value& entry : *monitors) {
                if (const ScenarioErrorCode code = parseMonitor(entry, parsed))
                    return code;
            }
        }
    }

    parsed.description = compactJson(root);
    scenario = std::move(parsed);
    return SCENARIO_OK;
}
