#include "heartbeat/HeartbeatParser.h"

#include "heartbeat/HeartbeatFrame.h"
#include "heartbeat/HeartbeatVariables.h"

#include "bus/JsonRead.h"
#include "bus/JsonText.h"
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"
#include "bus/ScenarioErrorCode.h"

#include <QTimer>

#include <json/value.h>

#include <algorithm>
#include <vector>

namespace {

// The order in which the answers are subscribed: it decides where the parser sits among the
// handlers of each answer.
const int kAnswerSubscriptionOrder[] = {
    HEARTBEAT_INTERVAL,
    HEARTBEAT_INTERVAL_SET,
    MAX_HEARTBEAT_FAIL_COUNT,
    MAX_HEARTBEAT_FAIL_COUNT_SET,
    SCENARIO_DESCRIPTION,
    SCENARIO_DESCRIPTION_SET,
    SCENARIO_START_TIME,
    SCENARIO_START_TIME_SET,
    ABORT_DETECTION_INTERVAL,
    ABORT_DETECTION_INTERVAL_SET,
    RESULT_LIST,
    RESULT_LIST_SET,
    BATTERY_LEVEL,
    DEVICE_ID,
    DEVICE_OS,
    DEVICE_OS_VERSION,
    DEVICE_GIVEN_NAME,
    DEVICE_TYPE,
    SSID,
    INTERFACES,
    NETWORK_INFO,
    APP_VERSION,
    CAPABILITIES,
    DEVICE_IPV4,
    DEVICE_IPV6,
    DEBUG_LEVEL,
    DEBUG_LEVEL_SET,
    LOG_FILE,
    LOG_FILE_SET,
    LOCAL_TIME,
    SCENARIO_DESCRIPTION_REFUSED,
};

constexpr std::uint32_t kStatusParseError = 1;
constexpr std::uint32_t kStatusVariableError = 4;
constexpr std::uint32_t kStatusJsonError = 5;

// Far more than the variables there are; a request past it is refused whole, before any of its
// names reaches a manager.
constexpr std::size_t kMaxRequestVariables = 1000;

} // namespace

HeartbeatParser::HeartbeatParser(std::shared_ptr<PXEventBus> bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_answerTimer(new QTimer(this))
{
    m_answerTimer->setSingleShot(true);
    connect(m_answerTimer, &QTimer::timeout, this, &HeartbeatParser::onAnswerTimeout);
    for (const int id : kAnswerSubscriptionOrder)
        m_bus->subscribe(id, this);
}

HeartbeatParser::~HeartbeatParser()
{
    m_bus->unsubscribe(this);
}

void HeartbeatParser::setAnswerTimeout(std::int64_t milliseconds)
{
    m_answerTimeout = std::max<std::int64_t>(milliseconds, 0);
}

std::string HeartbeatParser::buildHello(unsigned count, const std::string& uuid, AppState state)
{
    return roamnode::frameMessage(roamnode::flatJsonObject({
        {"heartbeatcount", std::to_string(count)},
        {"state", roamnode::jsonQuote(roamnode::heartbeatStateText(state))},
        {"uuid", roamnode::jsonQuote(uuid)},
    }));
}

void HeartbeatParser::processCommand(const std::string& payload, roamnode::time_point receivedAt)
{
    // A request still waiting for answers is answered now, so that it too gets its one reply.
    if (m_requestOpen)
        onAnswerTimeout();

    clearPending();
    m_status = 0;
    m_errorMessage.clear();
    m_refusal.clear();
    m_isSet = false;
    m_requestOpen = true;

    Json::Value root;
    std::string command = "nop";
    std::string whyInvalid;
    bool valid = roamnode::parseJson(payload, root, &whyInvalid) && root.isObject();
    if (valid && root.isMember("command")) {
        const Json::Value& member = root["command"];
        if (member.isArray() || member.isObject())
            valid = false;
        else
            command = member.asString();
    }
    if (!valid) {
        m_status = kStatusJsonError;
        m_errorMessage = "Invalid JSON";
        if (!whyInvalid.empty() && whyInvalid != "not valid JSON")
            m_errorMessage += ": " + whyInvalid;
        reply();
        return;
    }
    if (command == "nop") {
        reply();
        return;
    }
    m_isSet = command == "set";

    std::vector<std::string> names;
    for (const std::string& name : root.getMemberNames()) {
        if (name != "command")
            names.push_back(name);
    }
    if (names.size() > kMaxRequestVariables) {
        m_status = kStatusVariableError;
        m_errorMessage = "Too many variables in one request: " + std::to_string(names.size()) +
                         " (at most " + std::to_string(kMaxRequestVariables) + ")";
        reply();
        return;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        m_pending[name] = nullptr;
    m_unanswered = names.size();
    if (names.empty()) {
        reply();
        return;
    }

    for (const std::string& name : names) {
        if (!m_requestOpen)
            break;
        if (m_isSet)
            setVariable(name, roamnode::compactJson(root[name]), receivedAt);
        else
            requestVariable(name, receivedAt);
    }
    if (m_requestOpen)
        m_answerTimer->start(static_cast<int>(std::min<std::int64_t>(m_answerTimeout, INT32_MAX)));
}

void HeartbeatParser::requestVariable(const std::string& name, roamnode::time_point receivedAt)
{
    if (const int eventId = enterPending(name, roamnode::heartbeatGetMap()))
        m_bus->publish(eventId, PXEmptyEventContents(), receivedAt);
}

void HeartbeatParser::setVariable(const std::string& name, const std::string& value,
                                  roamnode::time_point receivedAt)
{
    if (const int eventId = enterPending(name, roamnode::heartbeatSetMap()))
        m_bus->publish(eventId, value, receivedAt);
}

template <typename Table>
int HeartbeatParser::enterPending(const std::string& name, const Table& table)
{
    m_pending[name] = std::make_unique<Pending>();
    const auto entry = table.find(name);
    if (entry != table.end())
        return entry->second;
    // An unknown name counts as answered, with the error reported in the reply.
    m_status = kStatusVariableError;
    m_errorMessage = "Unknown variable: " + name;
    markAnswered(*m_pending[name]);
    checkComplete();
    return 0;
}

void HeartbeatParser::handleEvent(int eventId, PXEmptyEventContents)
{
    recordAnswer(eventId, std::string());
}

void HeartbeatParser::handleEvent(int eventId, int value)
{
    recordAnswer(eventId, std::to_string(value));
}

void HeartbeatParser::handleEvent(int eventId, float value)
{
    recordAnswer(eventId, roamnode::formatFloat(value));
}

void HeartbeatParser::handleEvent(int eventId, unsigned long value)
{
    recordAnswer(eventId, std::to_string(value));
}

void HeartbeatParser::handleEvent(int eventId, std::string value)
{
    if (eventId == SCENARIO_DESCRIPTION_REFUSED) {
        if (m_requestOpen)
            m_refusal = value;
        return;
    }
    recordAnswer(eventId, roamnode::jsonQuote(value));
}

void HeartbeatParser::handleEvent(int eventId, bool value)
{
    recordAnswer(eventId, value ? "true" : "false");
}

void HeartbeatParser::handleEvent(int eventId, PXStatus value)
{
    const int code = statusCode(value);
    if (code != 0 && m_requestOpen) {
        const auto& answers = roamnode::heartbeatAnswerMap();
        const auto name = answers.find(eventId);
        const auto pending = name == answers.end() ? m_pending.end() : m_pending.find(name->second);
        // Only a refusal of something this request set fails it.
        if (pending != m_pending.end() && pending->second) {
            m_errorMessage = m_refusal.empty() ? scenarioErrorText(code) : m_refusal;
            m_status = code == 1 ? kStatusParseError : kStatusVariableError;
        }
    }
    recordAnswer(eventId, std::string());
}

void HeartbeatParser::recordAnswer(int eventId, const std::string& value)
{
    if (!m_requestOpen)
        return;
    const auto& answers = roamnode::heartbeatAnswerMap();
    const auto name = answers.find(eventId);
    if (name == answers.end())
        return;
    const auto pending = m_pending.find(name->second);
    if (pending == m_pending.end() || !pending->second)
        return;
    pending->second->value = value;
    markAnswered(*pending->second);
    checkComplete();
}

void HeartbeatParser::markAnswered(Pending& pending)
{
    if (!pending.answered && m_unanswered > 0)
        --m_unanswered;
    pending.answered = true;
}

void HeartbeatParser::checkComplete()
{
    if (m_requestOpen && m_unanswered == 0)
        reply();
}

void HeartbeatParser::onAnswerTimeout()
{
    if (!m_requestOpen)
        return;
    std::string missing;
    for (const auto& entry : m_pending) {
        if (entry.second && entry.second->answered)
            continue;
        if (!missing.empty())
            missing += ", ";
        missing += entry.first;
    }
    m_status = kStatusVariableError;
    m_errorMessage = "No answer for: " + missing;
    m_answerTimer->stop();
    const std::string text = replyText(true);
    m_requestOpen = false;
    clearPending();
    emit onResponse(text);
}

void HeartbeatParser::reply()
{
    m_answerTimer->stop();
    const std::string text = replyText(false);
    m_requestOpen = false;
    clearPending();
    emit onResponse(text);
}

std::string HeartbeatParser::replyText(bool withArrivedValues) const
{
    std::map<std::string, std::string> members;
    members["status"] = roamnode::jsonQuote(roamnode::heartbeatStatusText(m_status));
    // Always a valid JSON string: the message may quote a name the hub sent, bytes and all.
    if (m_status != 0)
        members["errormessage"] = roamnode::jsonString(m_errorMessage);
    if (!m_isSet && (m_status == 0 || withArrivedValues)) {
        for (const auto& entry : m_pending) {
            if (!entry.second || !entry.second->answered)
                continue;
            // After a time-out only real values are reported; an unknown name has none.
            if (withArrivedValues && entry.second->value.empty())
                continue;
            members[entry.first] = entry.second->value;
        }
    }
    return roamnode::frameMessage(roamnode::flatJsonObject(members));
}

void HeartbeatParser::clearPending()
{
    m_pending.clear();
    m_unanswered = 0;
}
