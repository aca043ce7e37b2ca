#include "log/PXLogManager.h"

#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"
#include "log/LogFormat.h"
#include "log/LogLevel.h"
#include "log/LogMessage.h"

#include <fstream>
#include <map>
#include <utility>

namespace {

using namespace roamnode::log;

struct Message
{
    int level;
    const char* text;
};

const std::map<int, Message>& emptyPayloadMessages()
{
    static const std::map<int, Message> table = {
        {HEARTBEAT_STARTED, {Debug, "Heartbeat started"}},
        {HEARTBEAT_STOPPED, {Debug, "Heartbeat stopped"}},
        {HEARTBEAT_FAILED, {Warning, "Failed heartbeat occured"}},
        {HEARTBEAT_CONNECTED, {Debug, "Heartbeat connected to the RVP"}},
        {HEARTBEAT_CONNECT_FAILED, {Error, "Heartbeat was not able to connect to the RVP"}},
        {GET_HEARTBEAT_INTERVAL, {Debug, "Received heartbeat request for \"Interval\" parameter"}},
        {GET_MAX_HEARTBEAT_FAIL_COUNT,
         {Debug, "Received heartbeat request for \"MaxHeartbeatFail\" parameter"}},
        {GET_SCENARIO_DESCRIPTION,
         {Debug, "Received heartbeat request for \"ScenarioDescription\" parameter"}},
        {GET_SCENARIO_START_TIME,
         {Debug, "Received heartbeat request for \"ScenarioStarttime\" parameter"}},
        {GET_RESULT_LIST,
         {Debug, "Received heartbeat request for \"ScenarioResultlist\" parameter"}},
        {GET_BATTERY_LEVEL, {Debug, "Received heartbeat request for \"BatteryLevel\" parameter"}},
        {GET_DEVICE_ID, {Debug, "Received heartbeat request for \"DeviceId\" parameter"}},
        {GET_DEVICE_OS, {Debug, "Received heartbeat request for \"DeviceOs\" parameter"}},
        {GET_DEVICE_OS_VERSION,
         {Debug, "Received heartbeat request for \"DeviceOsVersion\" parameter"}},
        {GET_DEVICE_GIVEN_NAME,
         {Debug, "Received heartbeat request for \"DeviceGivenname\" parameter"}},
        {GET_DEVICE_TYPE, {Debug, "Received heartbeat request for \"DeviceType\" parameter"}},
        {GET_SSID, {Debug, "Received heartbeat request for \"Ssid\" parameter"}},
        {GET_DEVICE_IPV4, {Debug, "Received heartbeat request for \"NetworkIpv4\" parameter"}},
        {SCENARIO_STARTING, {Debug, "Scenario will start"}},
        {SCENARIO_ENDED, {Debug, "Scenario ended"}},
    };
    return table;
}

const std::map<int, const char*>& textPayloadPrefixes()
{
    static const std::map<int, const char*> table = {
        {SET_HEARTBEAT_INTERVAL, "Set the \"Interval\" parameter to: "},
        {SET_MAX_HEARTBEAT_FAIL_COUNT, "Set the \"MaxHeartbeatFail\" parameter to: "},
        {SET_SCENARIO_DESCRIPTION, "Set the \"ScenarioDescription\" parameter to: "},
        {SET_SCENARIO_START_TIME, "Set the \"ScenarioStarttime\" parameter to: "},
        {SET_DEBUG_LEVEL, "Set the \"debuglevel\" parameter to: "},
    };
    return table;
}

const char* stateMessage(AppState state)
{
    switch (state) {
    case BOOTING:
        return "State went to BOOTING";
    case BOOTING_READY:
        return "State went to BOOTING_READY";
    case TRY_CONTACT_RVP:
        return "Heartbeat State went to TRY_CONTACT_RVP";
    case REGISTERED:
        return "State went to REGISTERED";
    case ARMED:
        return "State went to ARMED";
    case RUNNING:
        return "State went to RUNNING";
    }
    return nullptr;
}

} // namespace

class PXLogManager::Impl : public PXEventHandler
{
public:
    using PXEventHandler::handleEvent;

    Impl(std::shared_ptr<PXEventBus> bus, std::string filePath)
        : m_bus(std::move(bus)), m_filePath(std::move(filePath)),
          m_entries(LogEntries::Limits{kMaxEntries, kMaxFileBytes})
    {
    }

    void handleEvent(int eventId, PXEmptyEventContents) override;
    void handleEvent(int eventId, std::string value) override;
    void handleEvent(int eventId, AppState value) override;

    void load();
    void write() const;

    int m_threshold = Warning;
    std::shared_ptr<PXEventBus> m_bus;
    std::string m_filePath;
    LogEntries m_entries;
    // Counts every entry that entered the list (loaded ones too); drives the periodic rewrite
    // independently of the cap on the list's length.
    std::size_t m_entriesAdded = 0;

private:
    void record(int level, std::string message);
};

void PXLogManager::Impl::record(int level, std::string message)
{
    if (level < m_threshold)
        return;
    m_entries.append(std::make_shared<PXLogEntry>(
        PXLogEntry{std::chrono::system_clock::now(), level, cutMessage(std::move(message))}));
    if (++m_entriesAdded % kRewriteEvery == 0)
        write();
}

void PXLogManager::Impl::handleEvent(int eventId, PXEmptyEventContents)
{
    const auto& table = emptyPayloadMessages();
    if (const auto it = table.find(eventId); it != table.end()) {
        record(it->second.level, it->second.text);
    } else if (eventId == GET_LOG_FILE) {
        m_bus->publish(LOG_FILE, logJson(m_entries.list()));
    } else if (eventId == GET_DEBUG_LEVEL) {
        m_bus->publish(DEBUG_LEVEL, levelName(m_threshold));
    }
}

void PXLogManager::Impl::handleEvent(int eventId, std::string value)
{
    if (eventId == SET_LOG_FILE) {
        // The hub empties the log; the file follows at the next periodic rewrite or stop.
        m_entries.clear();
        m_bus->publish(LOG_FILE_SET, PXStatus::Success);
        return;
    }
    if (eventId == SET_RESULT_LIST) {
        record(Debug, "Resetting the \"ScenarioResultlist\" parameter");
        return;
    }
    const auto& prefixes = textPayloadPrefixes();
    const auto it = prefixes.find(eventId);
    if (it == prefixes.end())
        return;
    // Recorded against the old threshold, before a new one takes effect. Only what the message
    // keeps is copied: the value may be a description of megabytes.
    record(Debug, it->second + value.substr(0, kMaxMessageBytes + 1));
    if (eventId == SET_DEBUG_LEVEL) {
        // The heartbeat hands over the compact JSON of the value, so a hub that sends the level
        // as a JSON string ("debug") delivers it with its quotes; take the name inside them.
        std::string name = value;
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
        if (const auto level = levelFromName(name)) {
            m_threshold = *level;
            m_bus->publish(DEBUG_LEVEL_SET, PXStatus::Success);
        } else {
            m_bus->publish(DEBUG_LEVEL_SET, toPXStatus(49));
        }
    }
}

void PXLogManager::Impl::handleEvent(int eventId, AppState value)
{
    if (eventId != APP_STATE_CHANGED)
        return;
    if (const char* message = stateMessage(value))
        record(Debug, message);
}

void PXLogManager::Impl::load()
{
    std::ifstream file(m_filePath, std::ios::binary | std::ios::ate);
    if (!file)
        return;
    // Only the newest entries fit the list, and the endpoint never writes a file past the byte
    // bound: of a larger file (damaged, or not ours) the tail is read, so a start does not wait
    // for hundreds of megabytes. The reader skips the cut-off entry at the seam.
    const std::streamoff size = file.tellg();
    const auto tail = static_cast<std::streamoff>(2 * kMaxFileBytes);
    file.seekg(size > tail ? size - tail : 0);
    // Loaded entries skip the threshold and do not trigger a rewrite.
    m_entriesAdded += readLogFile(file, m_entries);
}

void PXLogManager::Impl::write() const
{
    std::ofstream file(m_filePath, std::ios::binary | std::ios::trunc);
    if (!file)
        return;
    writeLogFile(file, m_entries.list());
}

PXLogManager::PXLogManager(std::shared_ptr<PXEventBus> bus, std::string filePath)
    : m_impl(std::make_unique<Impl>(std::move(bus), std::move(filePath)))
{
    for (const int id : {GET_DEBUG_LEVEL,
                         SET_DEBUG_LEVEL,
                         GET_LOG_FILE,
                         SET_LOG_FILE,
                         GET_BATTERY_LEVEL,
                         GET_DEVICE_GIVEN_NAME,
                         GET_DEVICE_ID,
                         GET_DEVICE_OS,
                         GET_DEVICE_OS_VERSION,
                         GET_DEVICE_TYPE,
                         HEARTBEAT_FAILED,
                         GET_HEARTBEAT_INTERVAL,
                         SET_HEARTBEAT_INTERVAL,
                         GET_MAX_HEARTBEAT_FAIL_COUNT,
                         SET_MAX_HEARTBEAT_FAIL_COUNT,
                         HEARTBEAT_CONNECTED,
                         HEARTBEAT_CONNECT_FAILED,
                         HEARTBEAT_STARTED,
                         HEARTBEAT_STOPPED,
                         GET_DEVICE_IPV4,
                         GET_SSID,
                         GET_SCENARIO_DESCRIPTION,
                         SET_SCENARIO_DESCRIPTION,
                         SCENARIO_ENDED,
                         GET_RESULT_LIST,
                         SET_RESULT_LIST,
                         GET_SCENARIO_START_TIME,
                         SET_SCENARIO_START_TIME,
                         SCENARIO_STARTING,
                         APP_STATE_CHANGED})
        m_impl->m_bus->subscribe(id, m_impl.get());
}

PXLogManager::~PXLogManager()
{
    m_impl->m_bus->unsubscribe(m_impl.get());
}

void PXLogManager::start()
{
    m_impl->load();
}

void PXLogManager::stop()
{
    m_impl->write();
}

std::size_t PXLogManager::entryCount() const
{
    return m_impl->m_entries.size();
}

int PXLogManager::threshold() const
{
    return m_impl->m_threshold;
}
