#include "RunCommand.h"

#include "FlowPairing.h"
#include "HtmlReport.h"
#include "HttpdStats.h"
#include "HubTlsContext.h"
#include "RunController.h"
#include "RunOptions.h"
#include "RunResults.h"
#include "ScenarioFile.h"
#include "SessionAcceptor.h"
#include "SummaryTable.h"
#include "TextFile.h"
#include "TextFormat.h"
#include "archive/ArchiveSpool.h"
#include "archive/ResultArchive.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <json/writer.h>

#include <csignal>
#include <cstdio>
#include <filesystem>

namespace hubrun {
namespace {

namespace report = roamnode::report;
using roamnode::tools::writeFileAtomically;

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

// Keeps the run in OUT/pending until the archive holds it, with any run an earlier hub left
// there. False, with the reason on standard error, when the archive could not take it.
bool archiveRun(const RunOptions& options, const Json::Value& results)
{
    const std::string location =
        options.archive.empty() ? (std::filesystem::path(options.outDir) / "results.db").string()
                                : options.archive;
    hubarchive::ArchiveSpool spool(options.outDir);
    std::string error;
    if (!spool.add(results, {}, error)) {
        std::fprintf(stderr, "roamnode-hub run: the run is not archived: %s\n", error.c_str());
        return false;
    }
    hubarchive::ResultArchive archive(location);
    const hubarchive::ArchiveSpool::Outcome outcome = spool.flush(archive);
    if (!outcome.error.empty()) {
        std::fprintf(stderr,
                     "roamnode-hub run: the archive did not take the run: %s\n"
                     "roamnode-hub run: %zu run(s) kept in %s; the next run or serve with this "
                     "archive and folder archives them\n",
                     outcome.error.c_str(), outcome.left, spool.folder().c_str());
        return false;
    }
    std::printf("archive: %s (%zu run(s) written)\n", archive.displayName().c_str(),
                outcome.archived);
    return true;
}

// Summaries, table, results.json and report.html of the endpoints that returned results.
// Returns the exit status: 0, 3 when a flow failed or fell short, 1 when nothing could be
// written.
int writeResults(const RunOptions& options, const RunController& controller,
                 const Json::Value& scenario)
{
    CollectedRun run = collectRun(controller.drivers(), scenario, options.httpdStatsPath, {});
    for (const std::string& note : run.notes)
        std::printf("%s\n", note.c_str());
    const std::vector<report::ScenarioSummary>& all = run.summaries;
    const bool failed = run.failed;
    const Json::Value& results = run.results;

    report::TableOptions table;
    table.wide = options.wide;
    std::fputs(report::summaryTable(all, table).c_str(), stdout);

    std::error_code ec;
    const std::filesystem::path dir(options.outDir);
    std::filesystem::create_directories(dir, ec);
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    const std::filesystem::path reportPath = dir / "report.html";
    if (ec ||
        !writeFileAtomically((dir / "results.json").string(),
                             Json::writeString(builder, results) + "\n") ||
        !writeFileAtomically(reportPath.string(),
                             report::htmlReport("Roamnode run", all, run.info))) {
        std::fprintf(stderr, "roamnode-hub run: cannot write to %s\n", options.outDir.c_str());
        return 1;
    }
    std::printf("results: %s\nreport: %s\n", (dir / "results.json").string().c_str(),
                reportPath.string().c_str());
    std::fflush(stdout);
    if (!archiveRun(options, results))
        return 1;
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
        std::fprintf(stderr, "roamnode-hub run: %s\n%s%s", error.c_str(), runUsage(),
                     hubTlsUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(runUsage(), stdout);
        std::fputs(hubTlsUsage(), stdout);
        return 0;
    }
    std::shared_ptr<boost::asio::ssl::context> tls;
    if (options.tls.enabled() && !(tls = makeHubTlsContext(options.tls, error))) {
        std::fprintf(stderr, "roamnode-hub run: %s\n", error.c_str());
        return 2;
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
    auto acceptor = std::make_shared<SessionAcceptor>(io, controller, HubExchange::Timeouts{}, tls);
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
