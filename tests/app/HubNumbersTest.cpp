#include "bus/HubInteger.h"
#include "bus/TimePoint.h"

#include <gtest/gtest.h>

#include <limits>

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TEST(HubInteger, ReadsPlainAndQuotedNumbersAlike)
{
    const std::vector<std::pair<std::string, std::int64_t>> cases = {
        {"2000000000", 2000000000},
        {"\"2000000000\"", 2000000000}, // a hub that quotes its numbers
        {"-5", -5},
        {"\"-5\"", -5},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"\"\"", 0},
        {"\"", 0},
        {"99999999999999999999", kMax},
        {"-99999999999999999999", kMin},
        {"1.5e9", 1},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(roamnode::hubInteger(text), expected) << text;
}

TEST(TimeArithmetic, SaturatesInsteadOfOverflowing)
{
    using namespace roamnode;
    EXPECT_EQ(saturatingAdd(1, 2), 3);
    EXPECT_EQ(saturatingAdd(kMax, 1), kMax);
    EXPECT_EQ(saturatingAdd(kMin, -1), kMin);
    EXPECT_EQ(saturatingMultiply(3, -4), -12);
    EXPECT_EQ(saturatingMultiply(kMax, 2), kMax);
    EXPECT_EQ(saturatingMultiply(kMax, -2), kMin);
    EXPECT_EQ(saturatingMultiply(kMin, -1), kMax);
    EXPECT_EQ(saturatingSigned(std::numeric_limits<std::uint64_t>::max()), kMax);
    EXPECT_EQ(saturatingSigned(7), 7);
    EXPECT_EQ(millisecondsToNanoseconds(1500), 1500000000);
    EXPECT_EQ(millisecondsToNanoseconds(kMax / 1000), kMax);
    EXPECT_EQ(nanosecondsToMilliseconds(1999999), 1);
    EXPECT_EQ(nanosecondsToMilliseconds(-1999999), -1);
    EXPECT_EQ(wholeSecond(1700000000999999999), 1700000000000000000);
}
