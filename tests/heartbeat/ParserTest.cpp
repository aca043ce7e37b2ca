#include "heartbeat/HeartbeatFrame.h"
#include "heartbeat/HeartbeatParser.h"
#include "heartbeat/HeartbeatVariables.h"

#include "BusRecorder.h"

#include "bus/PXEvent.h"
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"

#include <gtest/gtest.h>

#include <QTest>

#include <QTimer>

#include <functional>
#include <map>
#include <vector>

namespace {

class ParserTest : public ::testing::Test
{
protected:
    ParserTest()
        : bus(std::make_shared<PXEventBus>()),
          owners(*bus,
                 {GET_BATTERY_LEVEL, GET_SSID, GET_APP_VERSION, GET_LOCAL_TIME,
                  GET_HEARTBEAT_INTERVAL, GET_MAX_HEARTBEAT_FAIL_COUNT, GET_INTERFACES,
                  SET_HEARTBEAT_INTERVAL, SET_SCENARIO_DESCRIPTION, SET_SCENARIO_START_TIME,
                  SET_DEBUG_LEVEL},
                 [this](int id) { answerAsOwner(id); }),
          parser(bus)
    {
        QObject::connect(&parser, &HeartbeatParser::onResponse,
                         [this](const std::string& reply) { replies.push_back(reply); });
    }

    // The one reply to a request received at kReceived, unframed.
    std::string answer(const std::string& request)
    {
        const std::size_t before = replies.size();
        parser.processCommand(request, kReceived);
        EXPECT_EQ(replies.size(), before + 1) << request;
        return replies.size() == before + 1 ? unframed(replies.back()) : std::string();
    }

    static std::string unframed(const std::string& reply)
    {
        roamnode::FrameAccumulator frame;
        EXPECT_EQ(frame.add(reply), roamnode::FrameAccumulator::State::Complete) << reply;
        return frame.payload();
    }

    // Answers the way the managers that own the variables do. A description "x" is refused as
    // invalid JSON, a start time of 1 as in the past.
    void answerAsOwner(int id)
    {
        const std::string& value = owners.entries.back().text;
        const auto time =
            static_cast<unsigned long>(roamnode::toNanoseconds(owners.currentEvent->time));
        const std::map<int, std::function<void()>> owner = {
            {GET_BATTERY_LEVEL, [&] { bus->publish(BATTERY_LEVEL, 87.5f); }},
            {GET_SSID, [&] { bus->publish(SSID, "lab"); }},
            {GET_APP_VERSION, [&] { bus->publish(APP_VERSION, "2.12.3.0"); }},
            {GET_HEARTBEAT_INTERVAL, [&] { bus->publish(HEARTBEAT_INTERVAL, 2000000000UL); }},
            {GET_MAX_HEARTBEAT_FAIL_COUNT, [&] { bus->publish(MAX_HEARTBEAT_FAIL_COUNT, 2); }},
            {GET_INTERFACES, [&] { bus->publish(INTERFACES, "[{\"name\": \"lo\"}]"); }},
            {GET_LOCAL_TIME, [&] { bus->publish(LOCAL_TIME, time); }},
            {SET_HEARTBEAT_INTERVAL,
             [&] { bus->publish(HEARTBEAT_INTERVAL_SET, PXStatus::Success); }},
            {SET_SCENARIO_DESCRIPTION,
             [&] { bus->publish(SCENARIO_DESCRIPTION_SET, toPXStatus(value == "\"x\"" ? 1 : 0)); }},
            {SET_SCENARIO_START_TIME,
             [&] { bus->publish(SCENARIO_START_TIME_SET, toPXStatus(value == "1" ? 47 : 0)); }},
            {SET_DEBUG_LEVEL, [&] { bus->publish(DEBUG_LEVEL_SET, toPXStatus(49)); }},
        };
        owner.at(id)();
    }

    static constexpr roamnode::time_point kReceived{std::chrono::nanoseconds(1700000000123456789)};
    std::shared_ptr<PXEventBus> bus;
    testsupport::BusRecorder owners;
    HeartbeatParser parser;
    std::vector<std::string> replies;
};

} // namespace

// Requests answered at once from the owners' values: one reply each, in byte order of the keys.
// Among them requests a hostile hub could send: each gets one clear, valid JSON reply, built
// without holding the endpoint (the 16 MiB and million-member cases run against the binary).
TEST_F(ParserTest, RequestsAndTheirReplies)
{
    const auto members = [](std::size_t count) {
        std::string text = "{\"command\": \"get\"";
        for (std::size_t i = 0; i < count; ++i)
            text += ", \"v" + std::to_string(i) + "\": 0";
        return text + "}";
    };
    std::string zeros = "{\"command\": \"get\", \"ignored\": [0";
    for (int i = 0; i < 200000; ++i)
        zeros += ",0";
    zeros += "]}";
    const std::string jsonError =
        "{\"errormessage\": \"Invalid JSON\", \"status\": \"json-error\"}";
    const struct
    {
        std::string request;
        std::string reply;
    } cases[] = {
        {"{\"command\": \"nop\"}", "{\"status\": \"success\"}"},
        {"{}", "{\"status\": \"success\"}"},
        {"{\"command\": \"get\"}", "{\"status\": \"success\"}"},
        {"{\"command\": \"get\", \"ssid\": \"\", \"batterylevel\": \"\"}",
         "{\"batterylevel\": 87.5, \"ssid\": \"lab\", \"status\": \"success\"}"},
        {"{\"command\": \"get\", \"app-version\": 1, \"heartbeatinterval\": 1, "
         "\"max-heartbeatfailcount\": 1, \"interfaces\": 1}",
         "{\"app-version\": \"2.12.3.0\", \"heartbeatinterval\": 2000000000, "
         "\"interfaces\": [{\"name\": \"lo\"}], \"max-heartbeatfailcount\": 2, "
         "\"status\": \"success\"}"},
        // The local time is the time the request was received.
        {"{\"command\": \"get\", \"localtime\": \"\"}",
         "{\"localtime\": 1700000000123456789, \"status\": \"success\"}"},
        {"{\"command\": \"get\", \"foo\": 1, \"ssid\": 1}",
         "{\"errormessage\": \"Unknown variable: foo\", \"status\": \"variable-error\"}"},
        {"{\"command\": \"set\", \"ssid\": 1}",
         "{\"errormessage\": \"Unknown variable: ssid\", \"status\": \"variable-error\"}"},
        // A refused value: the reply carries the owner's text.
        {"{\"command\": \"set\", \"scenariodescription\": \"x\"}",
         "{\"errormessage\": \"Error in <scenariodescription>: Invalid JSON\", "
         "\"status\": \"scenario-parse-error\"}"},
        {"{\"command\": \"set\", \"scenariostarttime\": 1}",
         "{\"errormessage\": \"Error in <scenariostarttime>: the <scenariostarttime> is in "
         "the past\", \"status\": \"variable-error\"}"},
        {"{\"command\": \"set\", \"debuglevel\": \"loud\"}",
         "{\"errormessage\": \"Error in <debuglevel>: Invalid value\", "
         "\"status\": \"variable-error\"}"},
        {"{\"command\": ", jsonError},
        {"not json", jsonError},
        {"[1, 2]", jsonError}, // the root must be an object
        {"{\"command\": [\"get\"]}", jsonError},
        {"{\"command\": {\"a\": 1}}", jsonError},
        {std::string(5000, '[') + std::string(5000, ']'),
         "{\"errormessage\": \"Invalid JSON: nested deeper than 256 levels\", "
         "\"status\": \"json-error\"}"},
        {members(1001),
         "{\"errormessage\": \"Too many variables in one request: 1001 (at most 1000)\", "
         "\"status\": \"variable-error\"}"},
        {members(100001), "{\"errormessage\": \"Invalid JSON: more than 100000 values\", "
                          "\"status\": \"json-error\"}"},
        {zeros, "{\"errormessage\": \"Invalid JSON: more than 100000 values\", "
                "\"status\": \"json-error\"}"},
        // Names the reply quotes: control bytes escaped, bytes that are not UTF-8 replaced.
        {"{\"command\": \"get\", \"\\u0001\\u0000\": 1}",
         "{\"errormessage\": \"Unknown variable: \\u0001\\u0000\", "
         "\"status\": \"variable-error\"}"},
        {"{\"command\": \"get\", \"a\xff\\\"\": 1}",
         "{\"errormessage\": \"Unknown variable: a\\ufffd\\\"\", "
         "\"status\": \"variable-error\"}"},
        // 1000 unknown names are answered by one pass, not one walk over all names per answer.
        {members(1000),
         "{\"errormessage\": \"Unknown variable: v999\", \"status\": \"variable-error\"}"},
        {"{/* hub */ \"command\": \"nop\"}", "{\"status\": \"success\"}"},
        {"{\"command\": \"set\", \"heartbeatinterval\": 2000000000}", "{\"status\": \"success\"}"},
        {"{\"command\": \"set\", \"heartbeatinterval\": \"2000000000\"}",
         "{\"status\": \"success\"}"},
        {"{\"command\": \"set\", \"scenariostarttime\": 5, "
         "\"scenariodescription\": {\"scenarioid\": \"s1\", \"flows\": [1, 2]}}",
         "{\"status\": \"success\"}"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(answer(c.request), c.reply) << c.request.substr(0, 60);
    EXPECT_EQ(replies.back(), "0021#{\"status\": \"success\"}");
    // Values go to their owners as compact JSON, members in byte order.
    std::vector<std::pair<int, std::string>> given;
    for (const auto& entry : owners.entries)
        if (!entry.text.empty())
            given.emplace_back(entry.id, entry.text);
    EXPECT_EQ(given, (std::vector<std::pair<int, std::string>>{
                         {SET_SCENARIO_DESCRIPTION, "\"x\""},
                         {SET_SCENARIO_START_TIME, "1"},
                         {SET_DEBUG_LEVEL, "\"loud\""},
                         {SET_HEARTBEAT_INTERVAL, "2000000000"},
                         {SET_HEARTBEAT_INTERVAL, "\"2000000000\""},
                         {SET_SCENARIO_DESCRIPTION, "{\"flows\":[1,2],\"scenarioid\":\"s1\"}"},
                         {SET_SCENARIO_START_TIME, "5"}}));
}

// Requests whose answers are awaited get one reply each: once the owner answers, once the wait
// is over (naming what went unanswered), or at once when the next request comes. An answer that
// comes late, as any answer outside a request, makes no reply and is not kept for the next.
TEST_F(ParserTest, AwaitedAnswersGiveOneReplyEach)
{
    const struct
    {
        int timeoutMs;
        std::string request;
        std::vector<std::string> replies;
        std::function<void()> then;
    } cases[] = {
        {100,
         "{\"command\": \"get\", \"device-id\": 1, \"batterylevel\": 1}",
         {"{\"batterylevel\": 87.5, \"errormessage\": \"No answer for: device-id\", "
          "\"status\": \"variable-error\"}"},
         nullptr},
        {50,
         "{\"command\": \"set\", \"abortdetectioninterval\": 1, \"heartbeatinterval\": 1}",
         {"{\"errormessage\": \"No answer for: abortdetectioninterval\", "
          "\"status\": \"variable-error\"}"},
         nullptr},
        // The owner's answer comes a little later.
        {2000,
         "{\"command\": \"get\", \"scenariodescription\": 1}",
         {"{\"scenariodescription\": {\"scenarioid\": \"s1\"}, \"status\": \"success\"}"},
         [this] {
             QTimer::singleShot(20, [this] {
                 bus->publish(SCENARIO_DESCRIPTION, std::string("{\"scenarioid\": \"s1\"}"));
             });
         }},
        // The next request comes before the answer.
        {5000,
         "{\"command\": \"get\", \"device-id\": 1}",
         {"{\"errormessage\": \"No answer for: device-id\", \"status\": \"variable-error\"}",
          "{\"status\": \"success\"}"},
         [this] {
             parser.processCommand("{\"command\": \"nop\"}", std::chrono::system_clock::now());
             EXPECT_EQ(replies.size(), 2u) << "both answered at once";
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        replies.clear();
        parser.setAnswerTimeout(c.timeoutMs);
        parser.processCommand(c.request, std::chrono::system_clock::now());
        EXPECT_TRUE(replies.empty()) << "answered before its answers came";
        if (c.then)
            c.then();
        ASSERT_TRUE(QTest::qWaitFor([&] { return replies.size() >= c.replies.size(); }, 2000));
        bus->publish(DEVICE_ID, std::string("late"));
        bus->publish(SSID, std::string("stray"));
        bus->publish(SCENARIO_DESCRIPTION_SET, toPXStatus(1));
        QTest::qWait(50);
        std::vector<std::string> payloads;
        for (const std::string& reply : replies)
            payloads.push_back(unframed(reply));
        EXPECT_EQ(payloads, c.replies);
    }
    EXPECT_EQ(answer("{\"command\": \"get\", \"ssid\": 1}"),
              "{\"ssid\": \"lab\", \"status\": \"success\"}");
}

TEST(HeartbeatTexts, StatesStatusesFloatsAndAnswerNames)
{
    EXPECT_EQ(roamnode::heartbeatStateText(BOOTING), "booting");
    EXPECT_EQ(roamnode::heartbeatStateText(BOOTING_READY), "booting");
    EXPECT_EQ(roamnode::heartbeatStateText(ARMED), "armed");
    EXPECT_EQ(roamnode::heartbeatStateText(RUNNING), "scenario-running");
    EXPECT_EQ(roamnode::heartbeatStateText(static_cast<AppState>(17)), "Unknown");
    EXPECT_EQ(roamnode::heartbeatStatusText(2), "scenario-execute-error");
    EXPECT_EQ(roamnode::heartbeatStatusText(3), "max-heartbeatfail-error");
    // Floats are written like the standard stream writes them.
    for (const auto& [value, text] :
         std::vector<std::pair<float, std::string>>{{100.0f, "100"},
                                                    {1.2e-05f, "1.2e-05"},
                                                    {87.5f, "87.5"},
                                                    {123456789.0f, "1.23457e+08"}})
        EXPECT_EQ(roamnode::formatFloat(value), text);
    // Every answer the parser waits for belongs to a variable the hub can read.
    for (const auto& entry : roamnode::heartbeatAnswerMap())
        EXPECT_EQ(roamnode::heartbeatGetMap().count(entry.second), 1u) << entry.second;
}
