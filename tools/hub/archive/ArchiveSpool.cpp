#include "ArchiveSpool.h"

#include "ArchiveRecord.h"
#include "ResultArchive.h"
#include "TextFile.h"
#include "bus/JsonRead.h"

#include <json/reader.h>
#include <json/writer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>

namespace fs = std::filesystem;

namespace hubarchive {
namespace {

std::atomic<unsigned> g_sequence{0};

// The hub's own file, not a peer's text: a long run holds far more values than
// roamnode::parseJson lets a peer send, and must come back whole.
bool parseOwnJson(const std::string& text, Json::Value& value, std::string& why)
{
    roamnode::JsonLimits limits;
    limits.values = std::numeric_limits<std::size_t>::max();
    return roamnode::parseJson(text, value, &why, limits);
}

// Letters, digits, '-' and '_' of a test name: the rest would be a path.
std::string fileWord(const std::string& text)
{
    std::string word;
    for (const char c : text)
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')
            word += c;
    return word.empty() ? "run" : word.substr(0, 40);
}

} // namespace

ArchiveSpool::ArchiveSpool(std::string outDir, bool keepArchived)
    : m_pending((fs::path(outDir) / "pending").string()),
      m_archived(keepArchived ? (fs::path(outDir) / "archived").string() : std::string())
{
}

bool ArchiveSpool::add(const Json::Value& results, const std::string& test, std::string& error)
{
    std::error_code ec;
    fs::create_directories(m_pending, ec);
    (void)ec; // a folder that cannot be made shows in the write below
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    char stamp[64];
    std::snprintf(
        stamp, sizeof stamp, "%020lld-%04u-",
        static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()),
        ++g_sequence % 10000);
    const fs::path path = fs::path(m_pending) / (stamp + fileWord(test) + ".json");
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    if (!roamnode::tools::writeFileAtomically(path.string(),
                                              Json::writeString(builder, results) + "\n")) {
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}

std::vector<std::string> ArchiveSpool::pending() const
{
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(m_pending, ec))
        if (entry.path().extension() == ".json")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

ArchiveSpool::Outcome ArchiveSpool::flush(ResultArchive& archive)
{
    Outcome outcome;
    const std::vector<std::string> files = pending();
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::string text;
        if (!roamnode::tools::readTextFile(files[i], text))
            continue; // taken by another hub meanwhile
        Json::Value results;
        std::string why;
        std::error_code ec;
        if (!parseOwnJson(text, results, why) || !results.isObject()) {
            // Never deleted: set aside where a person can look at it.
            fs::rename(files[i], files[i] + ".unreadable", ec);
            std::fprintf(stderr, "roamnode-hub: %s is not a run's results (%s); left as %s\n",
                         files[i].c_str(), why.c_str(), (files[i] + ".unreadable").c_str());
            continue;
        }
        const auto start = std::chrono::steady_clock::now();
        if (!archive.write(recordFromResults(results), outcome.error)) {
            outcome.left = files.size() - i;
            return outcome;
        }
        outcome.lastWriteMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        ++outcome.archived;
        if (m_archived.empty()) {
            fs::remove(files[i], ec);
        } else {
            fs::create_directories(m_archived, ec);
            fs::rename(files[i], fs::path(m_archived) / fs::path(files[i]).filename(), ec);
        }
    }
    return outcome;
}

} // namespace hubarchive
