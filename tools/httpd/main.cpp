// roamnode-httpd: the HTTP test server for Roamnode's TCP flows, for tests and for trying a
// scenario on one machine.
//
//   roamnode-httpd [--port N] [--bind ADDR] [--verbose] [--stats FILE]

#include "DecimalOption.h"
#include "HttpServer.h"

#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

namespace {

// On standard output with status 0 when asked for, on standard error with 2 after a mistake.
int usage(const char* program, bool asked)
{
    std::ostream& out = asked ? std::cout : std::cerr;
    out << "usage: " << program << " [--port N] [--bind ADDR] [--verbose] [--stats FILE]\n"
        << "  --port N     TCP port to listen on (0, the default, lets the system pick)\n"
        << "  --bind ADDR  listen on this address only (default: every IPv6 and IPv4 address)\n"
        << "  --verbose    print headers, byte counts and rates of every request\n"
        << "  --stats FILE append one JSON line per finished request (method, target, bytes,\n"
        << "               seconds, client address and port, start and end time), for\n"
        << "               roamnode-hub run --httpd-stats\n"
        << "  --help       this text\n";
    return asked ? 0 : 2;
}

} // namespace

int main(int argc, char* argv[])
{
    HttpServer::Config config;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            std::uint64_t port = 0;
            if (!roamnode::tools::parseDecimal(argv[++i], 65535, port)) {
                std::cerr << "invalid port '" << argv[i] << "'\n";
                return 2;
            }
            config.port = static_cast<std::uint16_t>(port);
        } else if (std::strcmp(argv[i], "--bind") == 0 && i + 1 < argc) {
            config.bindAddress = argv[++i];
        } else if (std::strcmp(argv[i], "--verbose") == 0) {
            config.verbose = true;
        } else if (std::strcmp(argv[i], "--stats") == 0 && i + 1 < argc) {
            auto stats = std::make_shared<ConnectionStats>(argv[++i]);
            if (!stats->isOpen()) {
                std::cerr << "cannot write to '" << argv[i] << "'\n";
                return 2;
            }
            config.onConnectionFinished = [stats](const ConnectionRecord& record) {
                stats->record(record);
            };
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            return usage(argv[0], true);
        } else {
            return usage(argv[0], false);
        }
    }

    try {
        boost::asio::io_context eventLoop;
        HttpServer server(eventLoop, config, std::cout);
        server.start();
        std::cout << "listening on " << server.port() << std::endl;

        boost::asio::signal_set signals(eventLoop, SIGINT, SIGTERM);
        signals.async_wait([&](const boost::system::error_code&, int) { eventLoop.stop(); });
        // A client that vanishes mid-write must not end the server.
        std::signal(SIGPIPE, SIG_IGN);
        eventLoop.run();
    } catch (const std::exception& e) {
        std::cerr << "roamnode-httpd: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
