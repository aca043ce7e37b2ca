#include "RunOptions.h"

#include "DecimalOption.h"

namespace hubrun {
using roamnode::tools::parseDecimal;
using roamnode::tools::parseSeconds;

const char* runUsage()
{
    return "usage: roamnode-hub run SCENARIO.json [options]\n"
           "       roamnode-hub run --map MAP.json [options]\n"
           "\n"
           "Waits for endpoints to register, sends them the scenario with a start time, follows\n"
           "the run, collects and resets the result lists, prints a per-flow summary and writes\n"
           "results.json and report.html.\n"
           "\n"
           "  --port N                  port to listen on (default 9100, 0 lets the system pick)\n"
           "  --bind ADDRESS            address to listen on, repeatable (default: all)\n"
           "  --device ID               drive the endpoint with this device id, repeatable\n"
           "  --endpoints N             wait for N endpoints and drive them all at once\n"
           "  --map FILE                JSON object: endpoint -> scenario (object or file name);\n"
           "                            an endpoint is its device id (roamnode --device-id), or\n"
           "                            its given name or address where only one key matches\n"
           "  --start-in SECONDS        how far ahead the start is scheduled (default 3)\n"
           "  --out DIR                 where results go (default ./roamnode-results)\n"
           "  --register-timeout SECONDS  how long to wait for endpoints (default 120)\n"
           "  --rewrite-port FROM=TO    replace every \"dstport\" FROM in the scenario by TO\n"
           "  --httpd-stats FILE        roamnode-httpd --stats file: throughput of HTTP flows\n"
           "  --clock-samples N         \"localtime\" exchanges per endpoint, before the run and\n"
           "                            after it (default 4)\n"
           "  --wide                    every column of the summary table (default: fits 100)\n"
           "  --archive FILE.db|URL     also keep the run in this archive: an SQLite file or\n"
           "                            postgresql://user@host/db (default: OUT/results.db)\n"
           "\n"
           "Exit status: 0 every flow of every endpoint succeeded and no stream fell short;\n"
           "1 an endpoint refused the scenario, did not register in time or did not come back,\n"
           "or the results could not be written or archived (the run then waits in OUT/pending\n"
           "for the next run or serve); 2 a bad command line or scenario file;\n"
           "3 the run completed but a flow failed (an error, or an HTTP flow the server counted\n"
           "no byte of) or a stream sent less than 99.9 % of its planned frames;\n"
           "130 interrupted.\n";
}

bool parsePortRewrite(const std::string& text, std::pair<std::uint16_t, std::uint16_t>& rewrite)
{
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos)
        return false;
    std::uint64_t from = 0, to = 0;
    if (!parseDecimal(text.substr(0, equals), 65535, from) ||
        !parseDecimal(text.substr(equals + 1), 65535, to) || from == 0 || to == 0)
        return false;
    rewrite = {static_cast<std::uint16_t>(from), static_cast<std::uint16_t>(to)};
    return true;
}

bool parseSharedRunOption(const std::string& argument, const std::string& value,
                          RunOptions& options, bool& known, std::string& error)
{
    std::uint64_t number = 0;
    known = true;
    if (argument == "--port") {
        if (!parseDecimal(value, 65535, number)) {
            error = "invalid port: " + value;
            return false;
        }
        options.port = static_cast<std::uint16_t>(number);
    } else if (argument == "--bind") {
        options.bindAddresses.push_back(value);
    } else if (argument == "--start-in") {
        if (!parseSeconds(value, 86400, options.startInSeconds)) {
            error = "invalid start delay: " + value;
            return false;
        }
    } else if (argument == "--out") {
        options.outDir = value;
    } else if (argument == "--archive") {
        options.archive = value;
    } else if (argument == "--clock-samples") {
        if (!parseDecimal(value, 100, number) || number == 0) {
            error = "invalid number of clock samples: " + value;
            return false;
        }
        options.clockSamples = static_cast<unsigned>(number);
    } else {
        known = false;
    }
    return true;
}

bool parseRunOptions(int argc, char** argv, RunOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        const std::string value = hasValue ? argv[i + 1] : std::string();
        std::uint64_t number = 0;
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            continue;
        }
        if (argument == "--wide") {
            options.wide = true;
            continue;
        }
        if (takeHubTlsOption(argc, argv, i, options.tls))
            continue;
        if (argument.rfind("--", 0) != 0) {
            if (!options.scenarioPath.empty()) {
                error = "more than one scenario: " + argument;
                return false;
            }
            options.scenarioPath = argument;
            continue;
        }
        if (!hasValue) {
            error = "unknown or incomplete option: " + argument;
            return false;
        }
        ++i;
        bool known = false;
        if (!parseSharedRunOption(argument, value, options, known, error))
            return false;
        if (known) {
        } else if (argument == "--device") {
            options.devices.push_back(value);
        } else if (argument == "--endpoints") {
            if (!parseDecimal(value, 1000, number) || number == 0) {
                error = "invalid number of endpoints: " + value;
                return false;
            }
            options.endpoints = static_cast<unsigned>(number);
        } else if (argument == "--map") {
            options.mapPath = value;
        } else if (argument == "--register-timeout") {
            if (!parseSeconds(value, 86400, options.registerTimeoutSeconds)) {
                error = "invalid timeout: " + value;
                return false;
            }
        } else if (argument == "--rewrite-port") {
            std::pair<std::uint16_t, std::uint16_t> rewrite;
            if (!parsePortRewrite(value, rewrite)) {
                error = "invalid port rewrite (FROM=TO): " + value;
                return false;
            }
            options.portRewrites.push_back(rewrite);
        } else if (argument == "--httpd-stats") {
            options.httpdStatsPath = value;
        } else {
            error = "unknown option: " + argument;
            return false;
        }
    }
    if (options.help)
        return true;
    if (options.scenarioPath.empty() == options.mapPath.empty()) {
        error = options.mapPath.empty() ? "no scenario given"
                                        : "give either a scenario or --map, not both";
        return false;
    }
    if (!options.mapPath.empty() && (!options.devices.empty() || options.endpoints != 0)) {
        error = "--map names the endpoints itself; --device and --endpoints do not apply";
        return false;
    }
    if (!options.devices.empty() && options.endpoints != 0 &&
        options.endpoints != options.devices.size()) {
        error = "--endpoints disagrees with the number of --device options";
        return false;
    }
    return true;
}

} // namespace hubrun
