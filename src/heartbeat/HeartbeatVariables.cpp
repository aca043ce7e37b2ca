#include "heartbeat/HeartbeatVariables.h"

#include "bus/PXEventType.h"

#include <locale>
#include <sstream>

namespace roamnode {

const std::map<std::string, int>& heartbeatGetMap()
{
    static const std::map<std::string, int> table = {
        {"heartbeatinterval", GET_HEARTBEAT_INTERVAL},
        {"max-heartbeatfailcount", GET_MAX_HEARTBEAT_FAIL_COUNT},
        {"scenariodescription", GET_SCENARIO_DESCRIPTION},
        {"scenariostarttime", GET_SCENARIO_START_TIME},
        {"abortdetectioninterval", GET_ABORT_DETECTION_INTERVAL},
        {"resultlist", GET_RESULT_LIST},
        {"batterylevel", GET_BATTERY_LEVEL},
        {"device-id", GET_DEVICE_ID},
        {"device-os", GET_DEVICE_OS},
        {"device-os-version", GET_DEVICE_OS_VERSION},
        {"device-givenname", GET_DEVICE_GIVEN_NAME},
        {"device-type", GET_DEVICE_TYPE},
        {"device-ipv4", GET_DEVICE_IPV4},
        {"device-ipv6", GET_DEVICE_IPV6},
        {"debuglevel", GET_DEBUG_LEVEL},
        {"logfile", GET_LOG_FILE},
        {"localtime", GET_LOCAL_TIME},
        {"ssid", GET_SSID},
        {"interfaces", GET_INTERFACES},
        {"networkinfo", GET_NETWORK_INFO},
        {"app-version", GET_APP_VERSION},
        {"capabilities", GET_CAPABILITIES},
    };
    return table;
}

const std::map<std::string, int>& heartbeatSetMap()
{
    static const std::map<std::string, int> table = {
        {"heartbeatinterval", SET_HEARTBEAT_INTERVAL},
        {"max-heartbeatfailcount", SET_MAX_HEARTBEAT_FAIL_COUNT},
        {"scenariodescription", SET_SCENARIO_DESCRIPTION},
        {"scenariostarttime", SET_SCENARIO_START_TIME},
        {"abortdetectioninterval", SET_ABORT_DETECTION_INTERVAL},
        {"resultlist", SET_RESULT_LIST},
        {"debuglevel", SET_DEBUG_LEVEL},
        {"logfile", SET_LOG_FILE},
    };
    return table;
}

const std::map<int, std::string>& heartbeatAnswerMap()
{
    static const std::map<int, std::string> table = {
        {HEARTBEAT_INTERVAL, "heartbeatinterval"},
        {HEARTBEAT_INTERVAL_SET, "heartbeatinterval"},
        {MAX_HEARTBEAT_FAIL_COUNT, "max-heartbeatfailcount"},
        {MAX_HEARTBEAT_FAIL_COUNT_SET, "max-heartbeatfailcount"},
        {SCENARIO_DESCRIPTION, "scenariodescription"},
        {SCENARIO_DESCRIPTION_SET, "scenariodescription"},
        {SCENARIO_START_TIME, "scenariostarttime"},
        {SCENARIO_START_TIME_SET, "scenariostarttime"},
        {ABORT_DETECTION_INTERVAL, "abortdetectioninterval"},
        {ABORT_DETECTION_INTERVAL_SET, "abortdetectioninterval"},
        {RESULT_LIST, "resultlist"},
        {RESULT_LIST_SET, "resultlist"},
        {BATTERY_LEVEL, "batterylevel"},
        {DEVICE_ID, "device-id"},
        {DEVICE_OS, "device-os"},
        {DEVICE_OS_VERSION, "device-os-version"},
        {DEVICE_GIVEN_NAME, "device-givenname"},
        {DEVICE_TYPE, "device-type"},
        {SSID, "ssid"},
        {INTERFACES, "interfaces"},
        {NETWORK_INFO, "networkinfo"},
        {APP_VERSION, "app-version"},
        {CAPABILITIES, "capabilities"},
        {DEVICE_IPV4, "device-ipv4"},
        {DEVICE_IPV6, "device-ipv6"},
        {DEBUG_LEVEL, "debuglevel"},
        {DEBUG_LEVEL_SET, "debuglevel"},
        {LOG_FILE, "logfile"},
        {LOG_FILE_SET, "logfile"},
        {LOCAL_TIME, "localtime"},
    };
    return table;
}

std::string heartbeatStatusText(std::uint32_t status)
{
    switch (status) {
    case 0:
        return "success";
    case 1:
        return "scenario-parse-error";
    case 2:
        return "scenario-execute-error";
    case 3:
        return "max-heartbeatfail-error";
    case 4:
        return "variable-error";
    default:
        return "json-error";
    }
}

std::string heartbeatStateText(AppState state)
{
    switch (state) {
    case BOOTING:
    case BOOTING_READY:
        return "booting";
    case TRY_CONTACT_RVP:
        return "try-contact-rvp";
    case REGISTERED:
        return "registered";
    case ARMED:
        return "armed";
    case RUNNING:
        return "scenario-running";
    }
    return "Unknown";
}

std::string formatFloat(float value)
{
    std::ostringstream out;
    // The hub parses a dot, whatever the user's locale says.
    out.imbue(std::locale::classic());
    out << value;
    return out.str();
}

} // namespace roamnode
