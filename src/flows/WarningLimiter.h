#pragma once

#include "bus/TimePoint.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

// Keeps a warning that a peer or the network can raise once per packet to one line per interval
// (a second unless told otherwise): the first goes out at once, those that follow within the
// interval are only counted, and the next line that goes out says how many were held back,
// "... (N similar suppressed)". One limiter per kind of warning.
//
// Thread: not locked; a limiter belongs to the one thread that raises its kind of warning (the
// event loop thread of an engine).
class WarningLimiter
{
public:
    using Clock = std::function<std::int64_t()>; // ns

    static constexpr std::int64_t kDefaultIntervalNs = roamnode::kNanosecondsPerSecond;

    explicit WarningLimiter(std::int64_t intervalNs = kDefaultIntervalNs,
                            Clock clock = &roamnode::nowNanoseconds);

    // The line for one more warning of this kind, or nothing when it is held back. The text is
    // made only for a line that goes out, so a held-back warning costs no allocation.
    template <typename MakeText> std::optional<std::string> next(MakeText&& makeText)
    {
        std::uint64_t heldBack = 0;
        if (!admit(heldBack))
            return std::nullopt;
        return withHeldBack(makeText(), heldBack);
    }

    // Writes the line through Qt's warning log when it goes out.
    template <typename MakeText> void warn(MakeText&& makeText)
    {
        if (auto line = next(std::forward<MakeText>(makeText)))
            print(*line);
    }

private:
    // True when a line may go out now; `heldBack` is then the count held back since the last.
    bool admit(std::uint64_t& heldBack);
    static std::string withHeldBack(std::string text, std::uint64_t heldBack);
    static void print(const std::string& line);

    std::int64_t m_interval;
    Clock m_clock;
    bool m_printed = false;
    std::int64_t m_lastPrinted = 0;
    std::uint64_t m_heldBack = 0;
};
