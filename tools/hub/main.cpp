// roamnode-hub: a hub for local runs and tests. Endpoints connect to it as to the Rallyhub; it
// hands each exchange the next request and prints the hellos and replies, one line each (with
// --timings also how long the endpoint took to reply).

#include "HubExchange.h"
#include "HubOptions.h"
#include "HubTlsContext.h"
#include "RequestQueue.h"
#include "SessionAcceptor.h"
#include "archive/ExportCommand.h"
#include "run/RunCommand.h"
#include "serve/ServeCommand.h"

#include <QCoreApplication>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

// One line per event on standard output, flushed at once so a reading process sees each line
// as it happens. Line breaks inside a payload become spaces (in JSON they are only white space).
void printLine(const std::string& kind, const std::string& text)
{
    std::string line = kind + " " + text;
    for (char& c : line) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class HubController : public HubExchange::Listener
{
public:
    HubController(boost::asio::io_context& io, RequestQueue& requests, std::uint64_t exitAfter,
                  bool timings)
        : m_io(io), m_requests(requests), m_exitAfter(exitAfter), m_timings(timings)
    {
    }

    void onHello(const std::string&, const std::string& hello) override
    {
        printLine("hello", hello);
    }

    std::string nextRequest() override
    {
        const std::string request = m_requests.next();
        printLine("request", request);
        return request;
    }

    void onReply(const std::string&, const std::string& reply) override
    {
        printLine("reply", reply);
        ++m_replies;
        // run() returns once the current handler is done, so the exchange-ns line still follows.
        if (m_exitAfter != 0 && m_replies >= m_exitAfter)
            m_io.stop();
    }

    // Benchmark scripts parse this line: keep its form.
    void onExchangeTimed(const std::string&, std::chrono::nanoseconds exchange) override
    {
        if (m_timings)
            printLine("exchange-ns", std::to_string(exchange.count()));
    }

    void onExchangeFailed(const std::string& peer, const std::string& what) override
    {
        std::fprintf(stderr, "exchange with %s failed: %s\n", peer.c_str(), what.c_str());
    }

private:
    boost::asio::io_context& m_io;
    RequestQueue& m_requests;
    std::uint64_t m_exitAfter;
    bool m_timings;
    std::uint64_t m_replies = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "run") {
        // Qt SQL loads its database drivers as plugins, which needs the application object.
        QCoreApplication application(argc, argv);
        return hubrun::runCommand(argc - 1, argv + 1);
    }
    if (argc > 1 && std::string(argv[1]) == "export") {
        QCoreApplication application(argc, argv);
        return hubarchive::exportCommand(argc - 1, argv + 1);
    }
    if (argc > 1 && std::string(argv[1]) == "serve") {
        QCoreApplication application(argc, argv);
        return hubserve::serveCommand(argc - 1, argv + 1);
    }
    HubOptions options;
    std::string error;
    if (!parseHubOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "roamnode-hub: %s\n%s%s", error.c_str(), hubUsage(), hubTlsUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(hubUsage(), stdout);
        std::fputs(hubTlsUsage(), stdout);
        return 0;
    }
    std::shared_ptr<boost::asio::ssl::context> tls;
    if (options.tls.enabled() && !(tls = makeHubTlsContext(options.tls, error))) {
        std::fprintf(stderr, "roamnode-hub: %s\n", error.c_str());
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);

    boost::asio::io_context io;
    RequestQueue requests(options.requests);
    HubController controller(io, requests, options.exitAfterReplies, options.timings);

    HubExchange::Timeouts timeouts;
    timeouts.hello = std::chrono::milliseconds(options.helloTimeoutMs);
    timeouts.reply = std::chrono::milliseconds(options.replyTimeoutMs);
    auto acceptor = std::make_shared<SessionAcceptor>(io, controller, timeouts, tls);
    if (!acceptor->listen(options.bindAddresses, options.port, "roamnode-hub"))
        return 1;

    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&io](const boost::system::error_code& ec, int) {
        if (ec == boost::asio::error::operation_aborted)
            return;
        io.stop();
    });

    acceptor->start();
    io.run();
    acceptor->close();
    return 0;
}
