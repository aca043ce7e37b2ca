#include "ServeCommand.h"

#include "ArchiveWriter.h"
#include "HubTlsContext.h"
#include "MetricsServer.h"
#include "RunOptions.h"
#include "Schedule.h"
#include "ServeController.h"
#include "SessionAcceptor.h"
#include "TcpListeners.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdio>
#include <functional>

namespace hubserve {
namespace {

struct ServeOptions
{
    std::string schedulePath = "/etc/roamnode/schedule.json";
    std::string metrics; // ADDRESS:PORT; empty: none
    bool keepArchived = false;
    bool help = false;
    // Port, addresses, start delay and clock samples of every run, and where runs go.
    hubrun::RunOptions run;

    ServeOptions()
    {
        run.archive = "/var/lib/roamnode-hub/results.db";
        run.outDir = "/var/lib/roamnode-hub";
        run.registerTimeoutSeconds = 30;
        run.progress = false;
    }
};

const char* serveUsage()
{
    return "usage: roamnode-hub serve [options]\n"
           "\n"
           "Keeps listening for endpoints, answers them with \"nop\" between tests, and runs the\n"
           "tests of a schedule file on them at their times; every run goes to the archive.\n"
           "SIGHUP reads the schedule again; SIGTERM lets the runs under way finish, then exits.\n"
           "\n"
           "  --schedule FILE           the tests (default /etc/roamnode/schedule.json)\n"
           "  --archive FILE.db|URL     an SQLite file or postgresql://user@host/db\n"
           "                            (default /var/lib/roamnode-hub/results.db)\n"
           "  --out DIR                 runs not yet archived wait in DIR/pending\n"
           "                            (default /var/lib/roamnode-hub)\n"
           "  --keep-archived           move archived runs' results.json to DIR/archived\n"
           "                            instead of deleting them\n"
           "  --port N                  port to listen on (default 9100, 0 lets the system pick)\n"
           "  --bind ADDRESS            address to listen on, repeatable (default: all)\n"
           "  --metrics ADDRESS:PORT    serve the Prometheus text format on /metrics there\n"
           "  --start-in SECONDS        how far ahead each run's start is set (default 3)\n"
           "  --clock-samples N         \"localtime\" exchanges per endpoint and run (default 4)\n";
}

bool parseServeOptions(int argc, char** argv, ServeOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            continue;
        }
        if (argument == "--keep-archived") {
            options.keepArchived = true;
            continue;
        }
        if (takeHubTlsOption(argc, argv, i, options.run.tls))
            continue;
        if (i + 1 >= argc) {
            error = "unknown or incomplete option: " + argument;
            return false;
        }
        const std::string value = argv[++i];
        bool known = false;
        if (!hubrun::parseSharedRunOption(argument, value, options.run, known, error))
            return false;
        std::uint16_t port = 0;
        std::string address;
        if (known) {
        } else if (argument == "--schedule") {
            options.schedulePath = value;
        } else if (argument == "--metrics") {
            if (!roamnode::tools::splitHostPort(value, address, port)) {
                error = "--metrics wants ADDRESS:PORT: " + value;
                return false;
            }
            options.metrics = value;
        } else {
            error = "unknown option: " + argument;
            return false;
        }
    }
    return true;
}

} // namespace

int serveCommand(int argc, char** argv)
{
    ServeOptions options;
    std::string error;
    if (!parseServeOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "roamnode-hub serve: %s\n%s", error.c_str(), serveUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(serveUsage(), stdout);
        std::fputs(hubTlsUsage(), stdout);
        return 0;
    }
    std::shared_ptr<boost::asio::ssl::context> tls;
    if (options.run.tls.enabled() && !(tls = makeHubTlsContext(options.run.tls, error))) {
        std::fprintf(stderr, "roamnode-hub serve: %s\n", error.c_str());
        return 2;
    }
    std::vector<ScheduledTest> tests;
    if (!readSchedule(options.schedulePath, tests, error)) {
        std::fprintf(stderr, "roamnode-hub serve: %s\n", error.c_str());
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);

    boost::asio::io_context io;
    hubarchive::ArchiveWriter writer(options.run.archive, options.run.outDir, options.keepArchived);
    ServeController::Config config;
    config.run = options.run;
    config.outDir = options.run.outDir;
    ServeController controller(io, config, writer);
    auto acceptor = std::make_shared<SessionAcceptor>(io, controller, HubExchange::Timeouts{}, tls);
    if (!acceptor->listen(options.run.bindAddresses, options.run.port, "roamnode-hub serve"))
        return 1;
    MetricsServer metrics(io, [&controller] { return controller.metrics(); });
    if (!options.metrics.empty()) {
        std::string address;
        std::uint16_t port = 0;
        roamnode::tools::splitHostPort(options.metrics, address, port);
        if (!metrics.listen(address, port, error)) {
            std::fprintf(stderr, "roamnode-hub serve: --metrics %s: %s\n", options.metrics.c_str(),
                         error.c_str());
            return 1;
        }
        for (const std::string& where : metrics.listeningOn())
            std::printf("metrics on http://%s/metrics\n", where.c_str());
    }
    std::printf("schedule %s: %zu test(s); archive %s\n", options.schedulePath.c_str(),
                tests.size(), options.run.archive.c_str());
    std::fflush(stdout);
    controller.setSchedule(std::move(tests));

    boost::asio::signal_set stop(io, SIGINT, SIGTERM);
    boost::asio::signal_set reload(io, SIGHUP);
    std::function<void()> waitForReload = [&] {
        reload.async_wait([&](const boost::system::error_code& ec, int) {
            if (ec == boost::asio::error::operation_aborted)
                return;
            std::vector<ScheduledTest> reread;
            std::string why;
            if (readSchedule(options.schedulePath, reread, why)) {
                std::printf("schedule %s read again: %zu test(s)\n", options.schedulePath.c_str(),
                            reread.size());
                controller.setSchedule(std::move(reread));
            } else {
                std::printf("schedule %s not changed: %s\n", options.schedulePath.c_str(),
                            why.c_str());
            }
            std::fflush(stdout);
            waitForReload();
        });
    };
    waitForReload();
    stop.async_wait([&](const boost::system::error_code& ec, int) {
        if (ec == boost::asio::error::operation_aborted)
            return;
        // The runs under way collect their results first; a second signal does not wait.
        stop.async_wait([&io](const boost::system::error_code& again, int) {
            if (again != boost::asio::error::operation_aborted)
                io.stop();
        });
        controller.drain([&] {
            reload.cancel();
            stop.cancel();
            acceptor->close();
            metrics.close();
            io.stop();
        });
    });

    writer.start();
    acceptor->start();
    metrics.start();
    controller.start();
    io.run();
    acceptor->close();
    writer.stop();
    std::puts("stopped");
    return 0;
}

} // namespace hubserve
