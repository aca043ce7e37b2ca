#pragma once

#include <cstdint>
#include <vector>

// One frame of a stream's content list, with its optional send-time tag.
struct FrameTemplate
{
    std::vector<std::uint8_t> bytes;
    bool hasTimeTag = false;
    // Counted back from the end of the frame: position 8 puts the tag in the last 8 bytes.
    std::uint64_t position = 0;
    std::int64_t timeOffset = 0; // ns
};
