#include "HubOptions.h"

#include "DecimalOption.h"

#include <cstdint>
#include <fstream>

using roamnode::tools::parseDecimal;

const char* hubUsage()
{
    return "usage: roamnode-hub run ...      one run (roamnode-hub run --help)\n"
           "       roamnode-hub serve ...    tests on a schedule (roamnode-hub serve --help)\n"
           "       roamnode-hub export ...   the archive as CSV or NDJSON (export --help)\n"
           "       roamnode-hub [--port N] [--bind ADDRESS]... [--requests FILE]\n"
           "                    [--exit-after-replies N] [--reply-timeout MS] [--timings]\n"
           "                    [--tls-cert FILE --tls-key FILE --tls-ca FILE]\n"
           "                    [REQUEST_JSON ...]\n"
           "\n"
           "Accepts heartbeat exchanges from Roamnode endpoints. Each exchange gets the next\n"
           "request (from the command line, then from FILE, one JSON request per line), and\n"
           "{\"command\": \"nop\"} once they are used up. Prints one line per hello and per "
           "reply.\n"
           "\n"
           "  --port N                 port to listen on (default 9100, 0 lets the system pick;\n"
           "                           the \"listening on ADDRESS:PORT\" lines show it)\n"
           "  --bind ADDRESS           address to listen on, repeatable (default: all IPv4 and\n"
           "                           IPv6 interfaces)\n"
           "  --requests FILE          requests to send, one per line\n"
           "  --exit-after-replies N   exit after N replies (also --count N)\n"
           "  --reply-timeout MS       how long to wait for a reply (default 15000)\n"
           "  --timings                after each reply line print \"exchange-ns N\": the\n"
           "                           nanoseconds (steady clock) from the completion of the\n"
           "                           request's write to the completion of the reply's read\n";
}

bool readRequestFile(const std::string& path, std::vector<std::string>& requests,
                     std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        requests.push_back(line);
    }
    return true;
}

bool parseHubOptions(int argc, char** argv, HubOptions& options, std::string& error)
{
    std::vector<std::string> fileRequests;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        std::uint64_t number = 0;
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--timings") {
            options.timings = true;
        } else if (takeHubTlsOption(argc, argv, i, options.tls)) {
        } else if (argument == "--port" && hasValue) {
            if (!parseDecimal(argv[++i], 65535, number)) {
                error = "invalid port: " + std::string(argv[i]);
                return false;
            }
            options.port = static_cast<std::uint16_t>(number);
        } else if (argument == "--bind" && hasValue) {
            options.bindAddresses.push_back(argv[++i]);
        } else if (argument == "--requests" && hasValue) {
            if (!readRequestFile(argv[++i], fileRequests, error))
                return false;
        } else if ((argument == "--exit-after-replies" || argument == "--count") && hasValue) {
            if (!parseDecimal(argv[++i], UINT64_MAX, number)) {
                error = "invalid count: " + std::string(argv[i]);
                return false;
            }
            options.exitAfterReplies = number;
        } else if (argument == "--reply-timeout" && hasValue) {
            if (!parseDecimal(argv[++i], 3600000, number)) {
                error = "invalid timeout: " + std::string(argv[i]);
                return false;
            }
            options.replyTimeoutMs = static_cast<std::int64_t>(number);
        } else if (argument.size() > 1 && argument[0] == '-' && argument[1] == '-') {
            error = "unknown or incomplete option: " + argument;
            return false;
        } else {
            options.requests.push_back(argument);
        }
    }
    options.requests.insert(options.requests.end(), fileRequests.begin(), fileRequests.end());
    return true;
}
