// The log file loader on any bytes: bounded, and what it keeps writes, reloads and answers as
// valid JSON.
#include "FuzzSupport.h"
#include "log/LogFormat.h"
#include "log/LogMessage.h"

#include <sstream>

using fuzzsupport::require;
using roamnode::log::LogEntries;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Small bounds, so inputs of a few KiB reach them.
    const LogEntries::Limits limits{64, 32 * 1024};
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    LogEntries entries(limits);
    roamnode::log::readLogFile(in, entries);
    require(entries.size() <= limits.maxEntries, "at most the entry bound");
    require(entries.size() <= 1 || entries.fileBytes() <= limits.maxFileBytes,
            "at most the byte bound");
    for (const auto& entry : entries.list()) {
        require(entry->level >= 0 && entry->level <= 4, "only the five levels load");
        require(entry->message.size() <= roamnode::log::kMaxMessageBytes + 3, "messages are cut");
    }

    const std::string json = roamnode::log::logJson(entries.list());
    require(fuzzsupport::isJson(json), "the logfile answer is JSON");
    require(fuzzsupport::isUtf8(json), "the logfile answer is UTF-8");

    std::ostringstream out;
    roamnode::log::writeLogFile(out, entries.list());
    require(out.str().size() == entries.fileBytes(), "fileBytes is what the file takes");
    std::istringstream reread(out.str());
    LogEntries again(limits);
    roamnode::log::readLogFile(reread, again);
    require(again.size() == entries.size(), "a written file loads the same entries");
    for (std::size_t i = 0; i < again.size(); ++i) {
        const auto& a = *entries.list()[i];
        const auto& b = *again.list()[i];
        require(a.level == b.level && a.time == b.time && a.message == b.message,
                "a written entry loads unchanged");
    }
    return 0;
}
