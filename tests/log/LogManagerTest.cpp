#include "BusRecorder.h"
#include "JsonParse.h"
#include "bus/PXEventBus.h"
#include "bus/PXEventType.h"
#include "log/LogFormat.h"
#include "log/LogMessage.h"
#include "log/PXLogManager.h"

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace {

using namespace roamnode::log;

const std::string kEllipsis = "\xE2\x80\xA6";

EntryList decodeLogFile(const std::string& text)
{
    std::istringstream in(text);
    LogEntries entries({PXLogManager::kMaxEntries, PXLogManager::kMaxFileBytes});
    readLogFile(in, entries);
    return entries.list();
}

// How many KiB more the peak resident size (VmHWM, reset first) grew while `run` ran.
template <typename Run> long peakGrowthKiB(Run run)
{
    const auto peak = [] {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmHWM:", 0) == 0)
                return std::stol(line.substr(6));
        return -1L;
    };
    std::ofstream clear("/proc/self/clear_refs");
    EXPECT_TRUE(static_cast<bool>(clear << "5" << std::flush));
    const long before = peak();
    run();
    return peak() - before;
}

class LogManagerTest : public ::testing::Test
{
protected:
    std::string path() const { return m_dir.filePath("pxlog.txt").toStdString(); }
    std::string readFile() const
    {
        std::ifstream in(path(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    // The status of the last answer to a "set" on `reply`, as a number.
    int status(int reply) const { return std::stoi(m_answers.last(reply).value_or("-1")); }
    std::string logFile()
    {
        m_bus->publish(GET_LOG_FILE);
        return m_answers.lastText(LOG_FILE);
    }

    QTemporaryDir m_dir;
    std::shared_ptr<PXEventBus> m_bus = std::make_shared<PXEventBus>();
    testsupport::BusRecorder m_answers{*m_bus,
                                       {LOG_FILE, DEBUG_LEVEL, DEBUG_LEVEL_SET, LOG_FILE_SET}};
};

std::shared_ptr<PXLogEntry> entry(int level, std::int64_t ms, std::string message)
{
    return std::make_shared<PXLogEntry>(
        PXLogEntry{roamnode::fromNanoseconds(ms * 1000000), level, std::move(message)});
}

} // namespace

// The default threshold keeps warnings and above only; the message that sets the level is
// recorded against the level before it. A hub writes {"command": "set", "debuglevel": "error"}:
// the level arrives as "\"error\"" and is accepted; anything that is not a level is refused
// with 49 and changes nothing.
TEST_F(LogManagerTest, DebugLevelRecordsEveryRowAndItsOwnMessageAgainstTheOldThreshold)
{
    PXLogManager manager(m_bus, path());
    m_bus->publish(HEARTBEAT_STARTED);
    m_bus->publish(APP_STATE_CHANGED, REGISTERED);
    m_bus->publish(SET_SCENARIO_DESCRIPTION, "{}");
    EXPECT_EQ(manager.entryCount(), 0u);
    m_bus->publish(HEARTBEAT_FAILED);
    m_bus->publish(HEARTBEAT_CONNECT_FAILED);
    EXPECT_EQ(manager.entryCount(), 2u);
    m_bus->publish(SET_DEBUG_LEVEL, "debug");
    EXPECT_EQ(status(DEBUG_LEVEL_SET), 0);
    EXPECT_EQ(manager.threshold(), 0);
    EXPECT_EQ(manager.entryCount(), 2u);

    m_bus->publish(SET_DEBUG_LEVEL, "info");
    EXPECT_EQ(manager.entryCount(), 3u);
    m_bus->publish(GET_DEBUG_LEVEL);
    EXPECT_EQ(m_answers.lastText(DEBUG_LEVEL), "info");

    m_bus->publish(SET_DEBUG_LEVEL, "debug");
    const int rowsBefore = static_cast<int>(manager.entryCount());
    for (const int id : {1, 2, 5, 6, 7, 10, 14, 16, 20, 28, 36, 38, 43, 45, 47, 49, 64, 59, 32, 35})
        m_bus->publish(id);
    for (const int id : {8, 12, 17, 21, 30})
        m_bus->publish(id, std::string("x"));
    for (const AppState s : {BOOTING, BOOTING_READY, TRY_CONTACT_RVP, REGISTERED, ARMED, RUNNING})
        m_bus->publish(APP_STATE_CHANGED, s);
    EXPECT_EQ(static_cast<int>(manager.entryCount()) - rowsBefore, 20 + 5 + 6);
    // The numeric republication of an accepted start time is not a log row.
    m_bus->publish(SET_SCENARIO_START_TIME, 5UL);
    EXPECT_EQ(static_cast<int>(manager.entryCount()) - rowsBefore, 31);

    for (const char* bad : {"DEBUG", "verbose", "\"DEBUG\"", "\"", ""}) {
        m_bus->publish(SET_DEBUG_LEVEL, std::string(bad));
        EXPECT_EQ(status(DEBUG_LEVEL_SET), 49) << bad;
        EXPECT_EQ(manager.threshold(), 0);
    }
    m_bus->publish(SET_DEBUG_LEVEL, "\"error\"");
    EXPECT_EQ(status(DEBUG_LEVEL_SET), 0);
    EXPECT_EQ(manager.threshold(), 3);
}

// The file is rewritten at every 25th entry and at the stop; a start loads it again. Setting
// "logfile" empties the list but not the file, until the next rewrite.
TEST_F(LogManagerTest, RewritesFileEveryTwentyFifthEntryAndAtTheStop)
{
    std::ofstream(path(), std::ios::binary) << "2;1000;loaded;";
    {
        PXLogManager manager(m_bus, path());
        manager.start();
        ASSERT_EQ(manager.entryCount(), 1u);
        for (int i = 0; i < 23; ++i)
            m_bus->publish(HEARTBEAT_FAILED);
        EXPECT_EQ(manager.entryCount(), 24u);
        EXPECT_EQ(readFile(), "2;1000;loaded;"); // not yet rewritten
        m_bus->publish(HEARTBEAT_FAILED);
        EXPECT_EQ(decodeLogFile(readFile()).size(), 25u);
        m_bus->publish(SET_DEBUG_LEVEL, "debug");
        m_bus->publish(SET_HEARTBEAT_INTERVAL, "a;b\\c"); // a separator inside a message
        manager.stop();
    }
    PXLogManager reloaded(m_bus, path());
    reloaded.start();
    const std::string log = logFile();
    EXPECT_NE(log.find("Set the \\\\\\\"Interval\\\\\\\" parameter to: a;b\\\\c"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\"loaded\""), std::string::npos);
    EXPECT_NE(log.find("Failed heartbeat occured"), std::string::npos);
    EXPECT_EQ(reloaded.entryCount(), 26u);

    const std::string file = readFile();
    m_bus->publish(SET_LOG_FILE, "anything");
    EXPECT_EQ(status(LOG_FILE_SET), 0);
    EXPECT_EQ(reloaded.entryCount(), 0u);
    EXPECT_EQ(readFile(), file);
    EXPECT_EQ(logFile(), "[]");
    reloaded.stop();
    EXPECT_EQ(readFile(), "");
}

TEST_F(LogManagerTest, LongValuesAreCutAndTheFileStaysWithinItsBound)
{
    PXLogManager manager(m_bus, path());
    m_bus->publish(SET_DEBUG_LEVEL, "debug");
    // Each value alone is cut; together they would still make a file of 4.4 MiB.
    const std::string value(2 * kMaxMessageBytes, 'v');
    for (int i = 0; i < 1100; ++i)
        m_bus->publish(SET_HEARTBEAT_INTERVAL, value);
    manager.stop();
    const std::string file = readFile();
    EXPECT_LE(file.size(), PXLogManager::kMaxFileBytes);
    EXPECT_GT(file.size(), PXLogManager::kMaxFileBytes - 2 * kMaxMessageBytes);
    const EntryList back = decodeLogFile(file);
    ASSERT_FALSE(back.empty());
    EXPECT_EQ(back.back()->message.size(), kMaxMessageBytes + kEllipsis.size());
}

// A 200 MiB hole of NUL bytes (a sparse file, so nothing is written) before more entries than
// the list keeps, and 50 MB of ';': the loader goes field by field, keeping the newest entries,
// and holds little at any time.
TEST_F(LogManagerTest, HugeFilesLoadFieldByFieldKeepingTheNewestEntries)
{
    std::ofstream(path(), std::ios::binary) << "2;1;before the hole;";
    ASSERT_EQ(truncate(path().c_str(), static_cast<off_t>(200u * 1024 * 1024)), 0);
    {
        std::ofstream out(path(), std::ios::binary | std::ios::app);
        for (std::size_t i = 0; i < PXLogManager::kMaxEntries + 5; ++i)
            out << "2;" << i << ";entry " << i << ";";
        out << ";3;77;last;";
    }
    PXLogManager manager(m_bus, path());
    EXPECT_LT(peakGrowthKiB([&] { manager.start(); }), 64 * 1024) << "KiB more at the peak";
    ASSERT_EQ(manager.entryCount(), PXLogManager::kMaxEntries);
    const std::string log = logFile();
    EXPECT_EQ(log.find("before the hole"), std::string::npos);
    EXPECT_EQ(log.find("\"entry 5\""), std::string::npos);
    EXPECT_NE(log.find("\"entry 6\""), std::string::npos);
    EXPECT_NE(log.find("\"last\""), std::string::npos);

    std::ofstream(path(), std::ios::binary) << std::string(50u * 1000 * 1000, ';');
    PXLogManager semicolons(std::make_shared<PXEventBus>(), path());
    EXPECT_LT(peakGrowthKiB([&] { semicolons.start(); }), 64 * 1024) << "KiB more at the peak";
    EXPECT_EQ(semicolons.entryCount(), 0u);
}

TEST(LogFormat, FileFormatAndItsEscapes)
{
    const EntryList entries = {entry(2, 1700000000123, "plain"), entry(0, 5, "semi;colon"),
                               entry(4, 6, "back\\slash")};
    std::ostringstream out;
    writeLogFile(out, entries);
    const std::string text = out.str();
    EXPECT_EQ(text, "2;1700000000123;plain;0;5;semi\\;colon;4;6;back\\\\slash;");
    // Read back, the entries give the same text again: every field survives the round trip.
    std::ostringstream again;
    writeLogFile(again, decodeLogFile(text));
    EXPECT_EQ(again.str(), text);
}

// Older files and truncated tails load; fields that make no entry are skipped until they do again.
TEST(LogFormat, FieldsThatMakeNoEntryAreSkippedUntilTheyDoAgain)
{
    const std::string longMessage(3 * kMaxMessageBytes, 'm');
    // A file and the messages of the entries read from it.
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"", {}},
        {";;;;;;;;;", {}},
        // A file from before escaping (a lone backslash stays literal) with a truncated tail.
        {"1;10;a\\b;2;20;second;3;30;cut", {"a\\b", "second"}},
        // An old file's unescaped ';' leaves a stray field behind.
        {"0;5;semi;colon;4;6;next;", {"semi", "next"}},
        {"x;9;1;5;a;", {"a"}},                      // a level that is no level
        {"7;5;a;2;5;b;", {"b"}},                    // a level out of range
        {"2;12a;b;2;3;c;", {"c"}},                  // milliseconds that are no number
        {"2;99999999999999999999;a;2;1;b;", {"b"}}, // past the time type
        {"2;9223372036855;a;2;-1;b;", {"b"}},       // nanoseconds past the time type
        {std::string(3 * kMaxMessageBytes, '1') + ";2;1;x;", {"x"}},
        {"2;1;" + longMessage + ";", {cutMessage(longMessage)}},
        {std::string("2;1;\0bin\xff;", 10), {std::string("\0bin\xff", 5)}},
    };
    for (const auto& [file, expected] : cases) {
        std::vector<std::string> messages;
        for (const auto& e : decodeLogFile(file))
            messages.push_back(e->message);
        EXPECT_EQ(messages, expected) << file.substr(0, 60);
    }
}

TEST(LogFormat, MessagesAreCutAtACharacterBoundary)
{
    const std::string euro = "\xE2\x82\xAC";
    EXPECT_EQ(cutMessage(std::string(kMaxMessageBytes, 'a')), std::string(kMaxMessageBytes, 'a'));
    EXPECT_EQ(cutMessage(std::string(kMaxMessageBytes + 1, 'a')),
              std::string(kMaxMessageBytes, 'a') + kEllipsis);
    // The euro sign would straddle the bound: it goes whole.
    const std::string text = std::string(kMaxMessageBytes - 1, 'a') + euro + "tail";
    EXPECT_EQ(cutMessage(text), std::string(kMaxMessageBytes - 1, 'a') + kEllipsis);
    // Not UTF-8 at all: cut where the bound is.
    const std::string binary(kMaxMessageBytes + 10, '\x80');
    EXPECT_EQ(cutMessage(binary), std::string(kMaxMessageBytes, '\x80') + kEllipsis);
}

TEST(LogFormat, JsonAnswer)
{
    EXPECT_EQ(logJson({}), "[]");
    EXPECT_EQ(logJson({entry(2, 1, "say \"hi\"\r\nnow"), entry(0, 2, "x")}),
              "[{\"timestamp\": 1000000, \"message\": \"say \\\\\\\"hi\\\\\\\"now\", \"level\": "
              "\"warning\"}, {\"timestamp\": 2000000, \"message\": \"x\", \"level\": \"debug\"}]");

    // Any bytes give valid UTF-8 and valid JSON.
    const std::string bytes("bin\0\x01\x1f\xff\xfe\xc3(\xe2\x82\xed\xa0\x80ok\xc3\xa9{}", 22);
    const std::string json =
        logJson({entry(2, 1, bytes), entry(0, 2, "{\"json\": 1}"), entry(1, 3, "[1]")});
    const QByteArray utf8 = QByteArray::fromStdString(json);
    EXPECT_EQ(QString::fromUtf8(utf8).toUtf8(), utf8) << json;
    EXPECT_TRUE(testsupport::parsed(json)) << json;
    // Raw control bytes are not allowed inside JSON strings (lenient readers let them pass).
    EXPECT_TRUE(std::none_of(json.begin(), json.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x20; }));
    EXPECT_NE(json.find("\xEF\xBF\xBD"), std::string::npos);
    EXPECT_NE(json.find("ok\xc3\xa9"), std::string::npos); // valid characters stay
}
