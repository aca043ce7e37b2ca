// The endpoint's reader of request frames, fed the bytes in the chunks a network might cut them
// into, under a cap the input chooses too.
#include "FuzzSupport.h"
#include "heartbeat/HeartbeatFrame.h"

#include <fuzzer/FuzzedDataProvider.h>

using fuzzsupport::require;
using roamnode::FrameAccumulator;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const bool smallCap = input.ConsumeBool();
    const std::size_t cap = smallCap ? input.ConsumeIntegralInRange<std::size_t>(0, 4096)
                                     : roamnode::kMaxRequestFrameBytes;
    FrameAccumulator frame(cap);
    FrameAccumulator::State state = FrameAccumulator::State::NeedMore;
    while (input.remaining_bytes() > 0 && state == FrameAccumulator::State::NeedMore) {
        const auto chunkSize = input.ConsumeIntegralInRange<std::size_t>(1, 4096);
        const std::string chunk = input.ConsumeBytesAsString(chunkSize);
        state = frame.add(chunk);
        require(frame.accumulatedBytes() <= cap + roamnode::kReceiveBufferBytes,
                "the reader holds no more than its cap and one read");
    }
    if (state == FrameAccumulator::State::Complete) {
        const std::string payload = frame.payload();
        require(payload.size() <= cap, "a complete payload is within the cap");
        // What the endpoint frames reads back the same.
        FrameAccumulator again;
        require(again.add(roamnode::frameMessage(payload)) == FrameAccumulator::State::Complete &&
                    again.payload() == payload,
                "frameMessage and the reader agree");
    }
    roamnode::parseFrameLength(input.ConsumeRemainingBytesAsString());
    return 0;
}
