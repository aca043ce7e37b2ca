// One request from the hub, as the heartbeat manager hands it to processCommand, answered by the
// real managers of the application object on its bus. No scenario ever runs: the schedule a
// request may set is aborted before the event loop turns, so no traffic leaves the process.
#include "FuzzSupport.h"
#include "app/Roamnode.h"
#include "heartbeat/HeartbeatFrame.h"
#include "heartbeat/HeartbeatParser.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

using fuzzsupport::require;

namespace {

struct Endpoint
{
    Endpoint()
    {
        // The log manager writes "pxlog.txt" into the working directory.
        QDir::setCurrent(directory.path());
        parser.setAnswerTimeout(60 * 60 * 1000);
        QObject::connect(&parser, &HeartbeatParser::onResponse,
                         [this](const std::string& reply) { replies.push_back(reply); });
    }

    QTemporaryDir directory;
    Roamnode roamnode;
    HeartbeatParser parser{roamnode.getEventBus()};
    std::vector<std::string> replies;
    // A request still waiting for answers is replied to when the next one arrives.
    bool previousUnanswered = false;
};

int g_argc = 1;
char g_name[] = "fuzz_heartbeat_request";
char* g_argv[] = {g_name, nullptr};
Endpoint* g_endpoint = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    new QCoreApplication(g_argc, g_argv);
    g_endpoint = new Endpoint;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Endpoint& endpoint = *g_endpoint;
    endpoint.replies.clear();
    endpoint.parser.processCommand(std::string(reinterpret_cast<const char*>(data), size),
                                   std::chrono::system_clock::now());
    endpoint.roamnode.stopScenario();
    QCoreApplication::processEvents();

    // Answers that need the front end (none here) wait; all others reply now.
    const std::size_t allowed = endpoint.previousUnanswered ? 2 : 1;
    if (endpoint.replies.size() > allowed)
        for (const std::string& reply : endpoint.replies)
            std::fprintf(stderr, "reply: %s\n", reply.c_str());
    require(endpoint.replies.size() <= allowed, "one reply per request");
    endpoint.previousUnanswered = endpoint.replies.size() < allowed;
    for (const std::string& reply : endpoint.replies) {
        roamnode::FrameAccumulator frame;
        require(frame.add(reply) == roamnode::FrameAccumulator::State::Complete,
                "the reply is one whole frame");
        require(fuzzsupport::isJson(frame.payload()), "the reply is JSON");
    }
    return 0;
}
