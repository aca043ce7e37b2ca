// The hub tool's side of the heartbeat: frames read with the hub's own cap, in network-sized
// chunks, and each reply handed to the driver that walks an endpoint through a run.
#include "EndpointDriver.h"
#include "FrameChannel.h"
#include "FuzzSupport.h"
#include "heartbeat/HeartbeatFrame.h"

#include <fuzzer/FuzzedDataProvider.h>

using fuzzsupport::require;
using roamnode::FrameAccumulator;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    Json::Value scenario;
    scenario["scenarioid"] = 1;
    scenario["duration"] = 1000000000;
    hubrun::EndpointDriver driver("fuzz", scenario, 2);
    driver.release();
    std::int64_t hubNow = 1700000000000000000;
    while (input.remaining_bytes() > 0 && !driver.finished()) {
        hubNow += input.ConsumeIntegralInRange<std::int64_t>(0, 10000000000);
        driver.onHello(input.ConsumeRandomLengthString(32), hubNow);
        std::int64_t hubStart = 0;
        const std::string request = driver.nextRequest(hubNow, hubStart, 2.0);
        require(fuzzsupport::isJson(request), "the hub's requests are JSON");

        FrameAccumulator frame(FrameChannel::kMaxFrameBytes);
        FrameAccumulator::State state = FrameAccumulator::State::NeedMore;
        const std::string bytes = input.ConsumeRandomLengthString(1 << 16);
        for (std::size_t at = 0; at < bytes.size() && state == FrameAccumulator::State::NeedMore;) {
            const std::size_t chunk = std::min<std::size_t>(bytes.size() - at, 1 + at % 1500);
            state = frame.add(bytes.data() + at, chunk);
            at += chunk;
        }
        if (state == FrameAccumulator::State::Complete)
            driver.onReply(frame.payload(), hubNow);
        else
            driver.onExchangeFailed();
        driver.checkDeadlines(hubNow);
        driver.progress(hubNow);
        driver.label();
    }
    return 0;
}
