#include "ScenarioDescription.h"

#include "JsonField.h"
#include "JsonRead.h"
#include "PXFlowStream.h"
#include "PXFlowTcp.h"
#include "PXFlowTrigger.h"
#include "PXNetworkInfoMonitor.h"
#include "PXScenarioResult.h"


#include <array>
#include <cstring>

using roamnode::compactJson;
using roamnode::parseJson;
using roamnode::json::Field;
using roamnode::json::member;
using roamnode::json::readInt64;
using roamnode::json::readString;

namespace {

// A week: far beyond any test a hub schedules, short enough that a run always ends.
constexpr std::int64_t kMaxScenarioDurationNs = INT64_C(7) * 24 * 3600 * 1000000000;

struct FlowType
{
    const char* name;
    IpVersion ipVersion;
    FlowKind kind; // HttpGet stands for both HTTP kinds until "requestmethod" is read
};

// The six names the hub knows; a lookup never adds to this table.
constexpr std::array<FlowType, 6> flowTypes = {{
    {"tcpv4", IpVersion::V4, FlowKind::HttpGet},
    {"tcpv6", IpVersion::V6, FlowKind::HttpGet},
    {"streamv4", IpVersion::V4, FlowKind::UdpStream},
    {"streamv6", IpVersion::V6, FlowKind::UdpStream},
    {"triggerv4", IpVersion::V4, FlowKind::UdpTrigger},
    {"triggerv6", IpVersion::V6, FlowKind::UdpTrigger},
}};

const FlowType* findFlowType(const std::string& name)
{
    for (const FlowType& type : flowTypes) {
        if (name == type.name)
            return &type;
    }
    return nullptr;
}

unsigned hexDigit(unsigned char c)
{
    // Upper-case letters fall in the last branch on purpose: the hub only writes lower case.
    if (c <= '9')
        return c - 48u;
    if (c < 'k')
        return c - 87u;
    return 0;
}

ScenarioErrorCode parseFlow(const Json::Value& entry, PXScenario& scenario)
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

    const auto flowId = static_cast<std::uint32_t>(id);
    std::shared_ptr<PXFlow> flow;
    switch (type->kind) {
    case FlowKind::UdpTrigger:
        flow = std::make_shared<PXFlowTrigger>(flowId, type->ipVersion, &scenario);
        break;
    case FlowKind::UdpStream:
        flow = std::make_shared<PXFlowStream>(flowId, type->ipVersion, &scenario);
        break;
    default: {
        FlowKind kind = FlowKind::HttpGet;
        if (const ScenarioErrorCode code = PXFlowTcp::readRequestMethod(*content, kind))
            return code;
        flow = std::make_shared<PXFlowTcp>(flowId, kind, type->ipVersion, &scenario);
        break;
    }
    }
    if (const ScenarioErrorCode code = flow->parseFlowContent(*content))
        return code;
    scenario.flows.push_back(std::move(flow));
    return SCENARIO_OK;
}

ScenarioErrorCode parseMonitor(const Json::Value& entry, PXScenario& scenario)
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
    std::int64_t interval = 1000000000;
    if (readInt64(*configuration, "resultinterval", interval) == Field::WrongType)
        return SCENARIO_MONITOR_RESULTINTERVAL_NOT_INTEGER;
    scenario.monitors.push_back(
        std::make_shared<PXNetworkInfoMonitor>(static_cast<std::int32_t>(id), interval));
    return SCENARIO_OK;
}

} // namespace

std::vector<std::uint8_t> hexToBytes(const std::string& text)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const unsigned high = hexDigit(static_cast<unsigned char>(text[i]));
        const unsigned low = hexDigit(static_cast<unsigned char>(text[i + 1]));
        bytes.push_back(static_cast<std::uint8_t>((16u * high + low) % 256u));
    }
    return bytes;
}

ScenarioErrorCode parseScenarioDescription(const std::string& text,
                                           std::shared_ptr<PXScenario>& scenario)
{
    Json::Value root;
    if (!parseJson(text, root))
        return SCENARIO_INVALID_JSON;
    if (!root.isObject())
        return SCENARIO_DESCRIPTION_NOT_OBJECT;

    std::int64_t number = 0;
    if (readInt64(root, "scenarioid", number) != Field::Ok)
        return SCENARIO_NO_SCENARIOID;
    auto parsed = std::make_shared<PXScenario>();
    parsed->id = static_cast<std::int32_t>(number);
    parsed->result = std::make_shared<PXScenarioResult>(parsed->id);

    if (readInt64(root, "duration", number) != Field::Ok)
        return SCENARIO_NO_DURATION;
    if (number < 0 || number > kMaxScenarioDurationNs)
        return SCENARIO_INVALID_DURATION;
    parsed->duration = static_cast<std::uint64_t>(number);

    const Json::Value* flows = member(root, "flows");
    if (flows == nullptr || !flows->isArray())
        return SCENARIO_NO_FLOWS;
    for (const Json::Value& entry : *flows) {
        if (const ScenarioErrorCode code = parseFlow(entry, *parsed))
            return code;
    }

    // An object is walked over its member values; any other non-array value means no monitors.
    if (const Json::Value* monitors = member(root, "monitors")) {
        if (monitors->isArray() || monitors->isObject()) {
            for (const Json::Value& entry : *monitors) {
                if (const ScenarioErrorCode code = parseMonitor(entry, *parsed))
                    return code;
            }
        }
    }

    parsed->description = compactJson(root);
    scenario = std::move(parsed);
    return SCENARIO_OK;
}
