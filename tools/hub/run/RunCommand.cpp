#include "RunCommand.h"

#include "FlowPairing.h"
#include "HtmlReport.h"
#include "HttpdStats.h"
#include "RunController.h"
#include "RunOptions.h"
#include "ScenarioFile.h"
#include "SessionAcceptor.h"
#include "SummaryTable.h"
#include "TextFormat.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <json/writer.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace hubrun {
namespace {

namespace report = roamnode::report;

bool writeFile(const std::filesystem::path& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    return static_cast<bool>(out);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool loadScenarios(const RunOptions& options, Json::Value& scenario,
                   std::map<std::string, Json::Value>& scenarios, std::vector<std::string>& notes,
                   std::string& error)
{
    if (!options.mapPath.empty()) {
        if (!readScenarioMap(options.mapPath, scenarios, error))
            return false;
    } else {
        if (!readJsonFile(options.scenarioPath, scenario, error))
            return false;
        if (!scenario.isObject()) {
            error = options.scenarioPath + ": a scenario is a JSON object";
            return false;
        }
    }
    for (const auto& [from, to] : options.portRewrites) {
        int count = rewriteDstPort(scenario, from, to);
        for (auto& entry : scenarios)
            count += rewriteDstPort(entry.second, from, to);
        notes.push_back("dstport " + std::to_string(from) + " -> " + std::to_string(to) + " in " +
                        std::to_string(count) + " flow(s)");
    }
    return true;
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

// Summaries, table, results.json and report.html of the endpoints that returned results.
// Returns the exit status: 0, 3 when a flow failed or fell short, 1 when nothing could be
// written.
int writeResults(const RunOptions& options, const RunController& controller,
                 const Json::Value& scenario)
{
    Json::Value results(Json::objectValue);
    if (!scenario.isNull())
        results["scenario"] = scenario;
    results["endpoints"] = Json::Value(Json::arrayValue);
    report::RunInfo run;
    std::vector<report::EndpointResults> endpoints;
    for (const auto& driver : controller.drivers()) {
        const report::EndpointInfo info = endpointInfo(*driver);
        run.endpoints.push_back(info);
        if (run.startNs == 0)
            run.startNs = driver->hubStart();
        results["endpoints"].append(endpointJson(*driver, info));
        std::vector<report::ScenarioSummary> summaries =
            report::summarize(driver->resultList(), driver->scenario(), driver->label());
        if (const std::size_t old = report::dropEarlierResults(summaries, driver->endpointStart()))
            std::printf("endpoint %s: %zu result(s) of an earlier run left out\n",
                        driver->label().c_str(), old);
        endpoints.push_back({driver->label(), driver->addresses(), driver->scenario(),
                             std::move(summaries), driver->hubStart()});
    }
    report::pairStreamsAndTriggers(endpoints);
    if (!options.httpdStatsPath.empty())
        applyConnectionStats(endpoints, parseConnectionStats(readFile(options.httpdStatsPath)));

    std::vector<report::ScenarioSummary> all;
    bool failed = false;
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

    report::TableOptions table;
    table.wide = options.wide;
    std::fputs(report::summaryTable(all, table).c_str(), stdout);

    std::error_code ec;
    const std::filesystem::path dir(options.outDir);
    std::filesystem::create_directories(dir, ec);
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    const std::filesystem::path reportPath = dir / "report.html";
    if (ec || !writeFile(dir / "results.json", Json::writeString(builder, results) + "\n") ||
        !writeFile(reportPath, report::htmlReport("Roamnode run", all, run))) {
        std::fprintf(stderr, "roamnode-hub run: cannot write to %s\n", options.outDir.c_str());
        return 1;
    }
    std::printf("results: %s\nreport: %s\n", (dir / "results.json").string().c_str(),
                reportPath.string().c_str());
    if (failed)
        std::puts("not every flow succeeded (exit status 3)");
    std::fflush(stdout);
    return failed ? 3 : 0;
}

} // namespace

int runCommand(int argc, char** argv)
{
    RunOptions options;
    std::string error;
    if (!parseRunOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "roamnode-hub run: %s\n%s", error.c_str(), runUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(runUsage(), stdout);
        return 0;
    }
    Json::Value scenario;
    std::map<std::string, Json::Value> scenarios;
    std::vector<std::string> notes;
    if (!loadScenarios(options, scenario, scenarios, notes, error)) {
        std::fprintf(stderr, "roamnode-hub run: %s\n", error.c_str());
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);

    boost::asio::io_context io;
    RunController controller(io, options, scenario, scenarios);
    auto acceptor = std::make_shared<SessionAcceptor>(io, controller, HubExchange::Timeouts{});
    if (!acceptor->listen(options.bindAddresses, options.port, "roamnode-hub run"))
        return 1;
    for (const std::string& note : notes)
        std::printf("%s\n", note.c_str());
    std::fflush(stdout);

    bool interrupted = false;
    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&io, &interrupted](const boost::system::error_code& ec, int) {
        if (ec == boost::asio::error::operation_aborted)
            return;
        interrupted = true;
        io.stop();
    });

    acceptor->start();
    controller.start();
    io.run();
    acceptor->close();
    if (interrupted) {
        std::fputs("\nroamnode-hub run: interrupted\n", stderr);
        return 130;
    }
    if (!controller.error().empty()) {
        std::fprintf(stderr, "roamnode-hub run: %s\n", controller.error().c_str());
        return 1;
    }

    bool allDone = true;
    bool anyResults = false;
    for (const auto& driver : controller.drivers()) {
        if (driver->phase() == EndpointDriver::Phase::Done)
            anyResults = true;
        else {
            allDone = false;
            std::fprintf(stderr, "roamnode-hub run: %s: %s\n", driver->label().c_str(),
                         driver->error().c_str());
        }
    }
    const int status = anyResults ? writeResults(options, controller, scenario) : 0;
    return allDone ? status : 1;
}

} // namespace hubrun
