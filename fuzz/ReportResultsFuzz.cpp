// The report's reader of result lists: any JSON the endpoint might send, with or without the
// scenario description, summarised and written as table, summary JSON and HTML.
#include "FuzzSupport.h"
#include "HtmlReport.h"
#include "ResultSummary.h"
#include "SummaryTable.h"

#include <json/json.h>

#include <memory>

using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    const char* text = reinterpret_cast<const char*>(data);
    if (!reader->parse(text, text + size, &value, &errors))
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
