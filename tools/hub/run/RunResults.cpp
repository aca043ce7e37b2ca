#include "RunResults.h"

#include "EndpointDriver.h"
#include "FlowPairing.h"
#include "HttpdStats.h"
#include "SummaryTable.h"
#include "TextFile.h"
#include "TextFormat.h"

#include <cstdio>
#include <unistd.h>

namespace hubrun {
namespace {

namespace report = roamnode::report;

std::string readFile(const std::string& path)
{
    std::string text;
    roamnode::tools::readTextFile(path, text);
    return text;
}

std::string hostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

Json::Value clockJson(const ClockOffset& clock)
{
    Json::Value out(Json::objectValue);
    out["offsetns"] = static_cast<Json::Int64>(clock.offsetNs);
    out["errorns"] = static_cast<Json::Int64>(clock.errorNs());
    out["roundtripns"] = static_cast<Json::Int64>(clock.roundTripNs);
    out["measuredat"] = static_cast<Json::Int64>(clock.atNs);
    return out;
}

std::string infoText(const Json::Value& info, const char* key)
{
    return info[key].isString() ? info[key].asString() : std::string();
}

report::EndpointInfo endpointInfo(const EndpointDriver& driver)
{
    report::EndpointInfo e;
    const Json::Value& info = driver.info();
    e.name = infoText(info, "device-givenname");
    e.id = driver.deviceId();
    for (const std::string& address : report::deviceAddresses(info))
        e.addresses += (e.addresses.empty() ? "" : ", ") + address;
    e.os = infoText(info, "device-os") + " " + infoText(info, "device-os-version");
    e.appVersion = infoText(info, "app-version");
    if (driver.clock()) {
        e.offsetNs = driver.clock()->offsetNs;
        e.offsetErrorNs = driver.clock()->errorNs();
    }
    if (driver.clockAfter()) {
        e.offsetAfterNs = driver.clockAfter()->offsetNs;
        e.offsetAfterErrorNs = driver.clockAfter()->errorNs();
        if (driver.clock()) {
            e.driftNsPerMinute = driftPerMinute(*driver.clock(), *driver.clockAfter());
            e.driftErrorNsPerMinute = driftErrorPerMinute(*driver.clock(), *driver.clockAfter());
        }
    }
    return e;
}

Json::Value endpointJson(const EndpointDriver& driver, const report::EndpointInfo& info)
{
    Json::Value endpoint(Json::objectValue);
    endpoint["deviceid"] = driver.deviceId();
    // The summary names endpoints by this.
    endpoint["label"] = driver.label();
    endpoint["info"] = driver.info();
    endpoint["addresses"] = Json::Value(Json::arrayValue);
    for (const std::string& address : driver.addresses())
        endpoint["addresses"].append(address);
    if (driver.clock()) {
        endpoint["clock"] = clockJson(*driver.clock());
        endpoint["clockoffsetns"] = static_cast<Json::Int64>(driver.clock()->offsetNs);
    }
    if (driver.clockAfter())
        endpoint["clockafter"] = clockJson(*driver.clockAfter());
    if (info.driftNsPerMinute && info.driftErrorNsPerMinute) {
        endpoint["clockdriftnsperminute"] = *info.driftNsPerMinute;
        endpoint["clockdrifterrornsperminute"] = *info.driftErrorNsPerMinute;
    }
    if (driver.hubStart() != 0)
        endpoint["hubstarttime"] = static_cast<Json::Int64>(driver.hubStart());
    endpoint["status"] = driver.phase() == EndpointDriver::Phase::Done ? "done" : "failed";
    endpoint["error"] = driver.error();
    endpoint["scenario"] = driver.scenario();
    endpoint["resultlist"] = driver.resultList();
    return endpoint;
}

} // namespace

CollectedRun collectRun(const std::vector<std::unique_ptr<EndpointDriver>>& drivers,
                        const Json::Value& scenario, const std::string& httpdStatsPath,
                        const std::string& testName)
{
    CollectedRun out;
    Json::Value& results = out.results;
    results = Json::Value(Json::objectValue);
    if (!scenario.isNull())
        results["scenario"] = scenario;
    results["endpoints"] = Json::Value(Json::arrayValue);
    report::RunInfo& run = out.info;
    std::vector<report::EndpointResults> endpoints;
    for (const auto& driver : drivers) {
        const report::EndpointInfo info = endpointInfo(*driver);
        run.endpoints.push_back(info);
        if (run.startNs == 0)
            run.startNs = driver->hubStart();
        results["endpoints"].append(endpointJson(*driver, info));
        std::vector<report::ScenarioSummary> summaries =
            report::summarize(driver->resultList(), driver->scenario(), driver->label());
        if (const std::size_t old = report::dropEarlierResults(summaries, driver->endpointStart()))
            out.notes.push_back("endpoint " + driver->label() + ": " + std::to_string(old) +
                                " result(s) of an earlier run left out");
        endpoints.push_back({driver->label(), driver->addresses(), driver->scenario(),
                             std::move(summaries), driver->hubStart()});
    }
    report::pairStreamsAndTriggers(endpoints);
    if (!httpdStatsPath.empty())
        applyConnectionStats(endpoints, parseConnectionStats(readFile(httpdStatsPath)));

    std::vector<report::ScenarioSummary>& all = out.summaries;
    bool& failed = out.failed;
    for (report::EndpointResults& endpoint : endpoints)
        for (report::ScenarioSummary& summary : endpoint.summaries) {
            for (const report::FlowSummary& flow : summary.flows)
                failed = failed || flow.failed();
            all.push_back(std::move(summary));
        }
    if (run.startNs != 0) {
        results["runstart"] = static_cast<Json::Int64>(run.startNs);
        results["runstartutc"] = report::clockTime(run.startNs);
    }
    results["summary"] = report::summaryJson(all);
    results["allflowssucceeded"] = !failed;
    results["hubhost"] = hostName();
    if (!testName.empty())
        results["test"] = testName;
    return out;
}

} // namespace hubrun
