// roamnode_testmain: Qt SQL loads its drivers as plugins, which needs the application object.

#include "ArchiveSpool.h"
#include "ResultArchive.h"
#include "bus/JsonRead.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {

TEST(HubArchive, ALongRunGoesFromTheSpoolIntoTheArchiveWhole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Json::Value results;
    ASSERT_TRUE(roamnode::parseJson(R"({"runstart": 1796659303000000000,
        "endpoints": [{"deviceid": "d", "label": "d"}],
        "summary": [{"endpoint": "d", "flows": [{"id": 1, "type": "streamv4"}]}]})",
                                    results));
    // An hour of one flow: far more values than a peer's message may hold, but the hub's own.
    Json::Value& flow = results["summary"][0]["flows"][0];
    for (int i = 0; i < 3600; ++i) {
        Json::Value second(Json::objectValue);
        second["second"] = static_cast<Json::Int64>(1796659303000000000 + i * 1000000000LL);
        for (const char* key : {"packets", "bytes", "latencycount", "latencyminns", "latencyavgns",
                                "latencymaxns", "latencysdns"})
            second[key] = i;
        flow["seconds"].append(second);
    }
    for (int i = 0; i < 80000; ++i)
        results["padding"].append(i);

    const std::string out = dir.path().toStdString();
    hubarchive::ArchiveSpool spool(out);
    std::string error;
    ASSERT_TRUE(spool.add(results, "long", error)) << error;
    hubarchive::ResultArchive archive(out + "/results.db");
    const auto outcome = spool.flush(archive);
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(outcome.archived, 1u);
    EXPECT_TRUE(spool.pending().empty());

    std::uint64_t packets = 0, rows = 0;
    ASSERT_TRUE(archive.forEachSecond(
        {},
        [&](const hubarchive::ResultArchive::SecondRecord& r) {
            packets += r.second.packets;
            return ++rows > 0;
        },
        error))
        << error;
    EXPECT_EQ(rows, 3600u);
    EXPECT_EQ(packets, 3599u * 3600u / 2);
}

} // namespace
