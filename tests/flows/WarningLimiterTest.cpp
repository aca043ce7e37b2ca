#include "flows/WarningLimiter.h"

#include <gtest/gtest.h>

TEST(WarningLimiter, OneLineASecondAndTheNextSaysHowManyWereHeldBackWhateverTheClockDoes)
{
    constexpr std::int64_t kSecond = 1000000000;
    std::int64_t now = 5 * kSecond;
    WarningLimiter limiter(kSecond, [&now] { return now; });
    int made = 0;
    const auto text = [&made] {
        ++made;
        return std::string("far tag");
    };

    EXPECT_EQ(limiter.next(text), "far tag");
    for (int i = 0; i < 1000; ++i) {
        now += kSecond / 1000 - 1;
        EXPECT_FALSE(limiter.next(text)) << i;
    }
    // A held-back warning does not even make its text.
    EXPECT_EQ(made, 1);
    now = 6 * kSecond;
    EXPECT_EQ(limiter.next(text), "far tag (1000 similar suppressed)");
    // The count starts again after each line that goes out.
    now += kSecond;
    EXPECT_EQ(limiter.next(text), "far tag");
    EXPECT_EQ(made, 3);
    // A clock that steps back does not silence the kind.
    EXPECT_FALSE(limiter.next(text));
    now = kSecond;
    EXPECT_EQ(limiter.next(text), "far tag (1 similar suppressed)");
    now += kSecond / 2;
    EXPECT_FALSE(limiter.next(text));
}
