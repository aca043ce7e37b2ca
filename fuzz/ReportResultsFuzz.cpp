// The report's reader of result lists: any JSON the endpoint might send, with or without the
// scenario description, summarised and written as table, summary JSON and HTML.
#include "FuzzSupport.h"
#include "HtmlReport.h"
#include "ResultSummary.h"
#include "SummaryTable.h"
#include "bus/JsonRead.h"

#include <json/json.h>

#include <string>

using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Read as the hub reads what an endpoint sends.
    Json::Value value;
    if (!roamnode::parseJson(std::string(reinterpret_cast<const char*>(data), size), value))
        return 0;
    // {"resultlist": [...], "description": {...}} pairs the list with its scenario; anything
    // else is taken as the list itself.
    const bool paired = value.isObject() && value.isMember("resultlist");
    const Json::Value& list = paired ? value["resultlist"] : value;
    const Json::Value& description = paired ? value["description"] : Json::Value::nullSingleton();
    const auto scenarios = roamnode::report::summarize(list, description, "endpoint");
    roamnode::report::summaryTable(scenarios);
    Json::StreamWriterBuilder writer;
    require(
        fuzzsupport::isJson(Json::writeString(writer, roamnode::report::summaryJson(scenarios))),
        "the summary JSON is JSON");
    roamnode::report::htmlReport("fuzz", scenarios);
    return 0;
}
