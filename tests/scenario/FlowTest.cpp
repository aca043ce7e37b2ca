#include "DescriptionEdits.h"
#include "LoopbackPort.h"
#include "UdpTestPeers.h"
#include "flows/DatagramBatch.h"
#include "flows/UdpContext.h"
#include "scenario/flows/PXFlowStream.h"
#include "scenario/flows/PXFlowTcp.h"
#include "scenario/flows/PXFlowTrigger.h"

#include <boost/asio/ip/udp.hpp>

#include <QTest>

#include <gtest/gtest.h>

#include <poll.h>

using namespace std::chrono_literals;
using descriptiontest::runOf;
using roamnode::fromNanoseconds;

namespace {

// The kernel stamps datagrams on arrival only a moment after the first socket asks for stamps
// (it turns them on in deferred work, which a busy machine may run late); until then a datagram
// is stamped when it is read. True once a datagram `socket` sent itself was stamped before it was
// read (bounded); the socket keeps stamps wanted while it lives.
bool arrivalStampsOn(boost::asio::ip::udp::socket& socket)
{
    socket.set_option(
        boost::asio::detail::socket_option::boolean<SOL_SOCKET, SO_TIMESTAMPNS>(true));
    const auto batch = DatagramBatch::create();
    const auto stampedOnArrival = [&] {
        socket.send_to(boost::asio::buffer("x", 1), socket.local_endpoint());
        pollfd readable{socket.native_handle(), POLLIN, 0};
        if (::poll(&readable, 1, 1000) != 1)
            return false;
        const std::int64_t before = roamnode::nowNanoseconds();
        boost::system::error_code error;
        return batch->receive(socket.native_handle(), error) == 1 &&
               batch->at(0).receiveTime <= before;
    };
    return batch && QTest::qWaitFor(stampedOnArrival, 5000);
}

// The speed reports of a flow as they are emitted, as "tx BYTES in MS ms" (or "rx ...").
class ReportCollector : public QObject
{
public:
    explicit ReportCollector(PXFlow& flow)
    {
        for (const bool tx : {true, false})
            connect(
                &flow, tx ? &PXFlow::flowTxSpeed : &PXFlow::flowRxSpeed, this,
                [this, tx](roamnode::time_point, float bytes, std::chrono::milliseconds diff) {
                    char text[64];
                    std::snprintf(text, sizeof text, "%s %.9g in %lld ms", tx ? "tx" : "rx",
                                  static_cast<double>(bytes), static_cast<long long>(diff.count()));
                    reports.push_back(text);
                },
                Qt::DirectConnection);
    }
    std::vector<std::string> reports;
};

} // namespace

// A report once a whole second has passed, in whole milliseconds: 999.999999 ms is not yet one.
TEST(FlowSpeedTest, StreamCountsOverheadAndReportsAfterOneSecond)
{
    for (const auto& [type, overhead] : {std::pair<std::string, int>{"streamv4", 42},
                                         std::pair<std::string, int>{"streamv6", 62}}) {
        auto scenario = runOf("f1.flowtype=\"" + type + "\"");
        auto& flow = dynamic_cast<PXFlowStream&>(*scenario->flows[1]);
        ReportCollector collector(flow);
        flow.resetSpeed();
        const std::int64_t start = flow.lastReport();
        EXPECT_EQ(start % 1000000000, 0);
        // 100 frames of 100 bytes, every 10 ms: the 100th lands exactly one second later.
        for (int i = 1; i <= 100; ++i)
            flow.onFrameSent(fromNanoseconds(start + i * 10000000), 100);
        EXPECT_EQ(flow.lastReport(), start + 1000000000);
        flow.onFrameSent(fromNanoseconds(start + 1999999999), 100);
        flow.onFrameSent(fromNanoseconds(start + 2500000000), 100);
        EXPECT_EQ(collector.reports,
                  (std::vector<std::string>{
                      "tx " + std::to_string(100 * (100 + overhead)) + " in 1000 ms",
                      "tx " + std::to_string(2 * (100 + overhead)) + " in 1500 ms"}));

        std::uint64_t bytes = 0;
        for (const auto& entry : flow.result()->countEntries())
            bytes += entry.bytes;
        EXPECT_EQ(bytes, 102u * (100 + overhead));
    }
}

// A sender whose clock is far off, or that puts no tag where the trigger reads one, makes every
// frame's latency one to reject, thousands a second. The log gets a line a second (what the line
// says of those held back is the limiter's own test's).
TEST(FlowSpeedTest, TriggerReportsReceiveAddsLatencyEntryOnResetAndWarnsALineASecond)
{
    udptest::WarningCapture warnings;
    auto scenario = runOf("");
    auto& flow = dynamic_cast<PXFlowTrigger&>(*scenario->flows[2]);
    ReportCollector collector(flow);
    flow.resetSpeed();
    const std::int64_t start = flow.lastReport();
    auto latency = flow.result()->latencyEntries();
    ASSERT_EQ(latency.size(), 1u);
    EXPECT_EQ(std::make_pair(latency[0].time, latency[0].count), std::make_pair(start, 0ul));
    flow.onFrameReceivedWithLatency(fromNanoseconds(start + 5), 64, 120000);
    flow.onFrameReceived(fromNanoseconds(start + 1000000000), 64);
    EXPECT_EQ(collector.reports, std::vector<std::string>{"rx 212 in 1000 ms"});
    latency = flow.result()->latencyEntries();
    ASSERT_EQ(latency.size(), 1u);
    EXPECT_EQ(latency[0].count, 1u);

    const std::int64_t began = roamnode::nowNanoseconds();
    for (int i = 0; i < 10000; ++i)
        flow.onFrameReceivedWithLatency(std::chrono::system_clock::now(), 64, 61000000000);
    const std::int64_t elapsed = roamnode::nowNanoseconds() - began;
    std::vector<std::string> lines;
    for (const std::string& text : warnings.texts()) {
        if (text.rfind("PXFlowResult:: Rejecting timestamp, more than 60s ago! ", 0) == 0)
            lines.push_back(text);
    }
    ASSERT_FALSE(lines.empty());
    EXPECT_LE(lines.size(), 1 + static_cast<std::size_t>(elapsed / 1000000000)) << lines.back();
}

TEST(FlowSpeedTest, HttpGetReceivesAndPutTransmitsWithoutOverhead)
{
    for (const std::string method : {"get", "put"}) {
        auto scenario = runOf("tcp.requestmethod=\"" + method + "\"");
        auto& flow = dynamic_cast<PXFlowTcp&>(*scenario->flows[0]);
        ReportCollector collector(flow);
        flow.resetSpeed();
        flow.onBytes(5000, fromNanoseconds(flow.lastReport() + 1000000000));
        EXPECT_EQ(collector.reports, std::vector<std::string>{(method == "put" ? "tx" : "rx") +
                                                              std::string(" 5000 in 1000 ms")});
        EXPECT_TRUE(flow.result()->countEntries().empty());
    }
}

// The engines report how they ended (tests/flows pins their reasons); the flow's result follows:
// "success" at the end, "error" with the reason after a failure (a stream that fell short or
// could not send, an HTTP server that refused), which the end reported again by the stop at the
// end of the run must leave so. Stopped and released before a run, a flow has nothing to say.
TEST(FlowEnd, AFailureIsKeptOverTheEndThatFollows)
{
    auto scenario = runOf("");
    for (const auto& flow : scenario->flows) {
        flow->stop();
        flow->releaseEngine();
        EXPECT_EQ(flow->result()->status(), "");
    }
    const auto ended = [](auto& flow) {
        flow.onFinished();
        return flow.result()->status() + ": " + flow.result()->errorMessage();
    };
    auto& stream = dynamic_cast<PXFlowStream&>(*scenario->flows[1]);
    stream.onFailed("sent 0 of 3 frames by the end of the stream");
    EXPECT_EQ(ended(stream), "error: sent 0 of 3 frames by the end of the stream");
    EXPECT_EQ(ended(dynamic_cast<PXFlowTrigger&>(*scenario->flows[2])), "success: ");
    auto& http = dynamic_cast<PXFlowTcp&>(*scenario->flows[0]);
    http.onFailed("the HTTP server answered \"HTTP/1.1 404 Not Found\"");
    EXPECT_EQ(ended(http), "error: the HTTP server answered \"HTTP/1.1 404 Not Found\"");
}

// A trigger's thread can come to a datagram late (a busy machine, a burst on a shared port). The
// datagram still counts in the second it arrived, with the latency it had on arrival: the time is
// the kernel's receive stamp, not the handler's clock.
TEST(FlowTriggerTime, ArrivalIsCountedAndTimedByTheKernelStamp)
{
    boost::asio::io_context io;
    const auto loopback = boost::asio::ip::make_address("127.0.0.1");
    boost::asio::ip::udp::socket sender(io, boost::asio::ip::udp::endpoint(loopback, 0));
    ASSERT_TRUE(arrivalStampsOn(sender)) << "the kernel does not stamp datagrams on arrival";
    const std::uint16_t port = testsupport::unusedLoopbackPort(SOCK_DGRAM);
    auto scenario = runOf(
        "duration=10000000000; trigger.srcport=" + std::to_string(sender.local_endpoint().port()) +
        "; trigger.dstport=" + std::to_string(port));
    auto& flow = dynamic_cast<PXFlowTrigger&>(*scenario->flows[2]);
    flow.run();
    ASSERT_TRUE(flow.hasEngine());

    // Hold the trigger's thread while the datagram arrives.
    auto context = UdpContext::get(false, port);
    udptest::LoopStall stall(*context);
    ASSERT_TRUE(stall.waitHeld());

    const std::int64_t sentAt = roamnode::nowNanoseconds();
    std::vector<std::uint8_t> frame(64, 0x5a);
    const std::uint64_t tag = static_cast<std::uint64_t>(sentAt) / 10;
    for (std::size_t i = 0; i < 8; ++i)
        frame[56 + i] = static_cast<std::uint8_t>(tag >> (8 * i));
    sender.send_to(boost::asio::buffer(frame), boost::asio::ip::udp::endpoint(loopback, port));
    ASSERT_TRUE(QTest::qWaitFor([&] { return context->socket().available() > 0; }, 2000));
    const std::int64_t queuedBy = roamnode::nowNanoseconds();
    // Let the thread go only in a later second than the arrival's, and well after it.
    const std::int64_t second = 1000000000;
    const std::int64_t releaseAt =
        std::max(queuedBy / second * second + second, queuedBy + 50000000);
    stall.releaseAt(releaseAt);

    ASSERT_TRUE(QTest::qWaitFor([&] { return !flow.result()->countEntries().empty(); }, 2000));
    const auto counts = flow.result()->countEntries();
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_EQ(counts[0].samples, 1u);
    EXPECT_GE(counts[0].time, sentAt - 10);
    EXPECT_LE(counts[0].time, queuedBy);
    const auto latency = flow.result()->latencyEntries();
    ASSERT_FALSE(latency.empty());
    EXPECT_EQ(latency.back().count, 1u);
    EXPECT_GE(latency.back().min, 0);
    EXPECT_LE(latency.back().max, queuedBy - sentAt + 10);
    flow.stop();
    flow.releaseEngine();
}

// A flow that cannot start must not take the endpoint down: its result says why (the engine
// tests pin the engines' reasons, a port in use among them), and it holds no engine.
TEST(FlowStartFailureTest, AddressThatIsNotAnAddress)
{
    const std::uint16_t free = testsupport::unusedLoopbackPort(SOCK_DGRAM);
    const std::string port = std::to_string(free);
    auto scenario = runOf("stream.dstipv4=\"not-an-address\"; stream.srcport=" + port +
                          "; stream.dstport=9; trigger.srcipv4=\"nowhere\"; trigger.srcport=9; "
                          "trigger.dstport=" +
                          port);
    for (const auto& flow : {scenario->flows[1], scenario->flows[2]}) {
        EXPECT_NO_THROW(flow->run());
        EXPECT_EQ(flow->result()->status(), "error");
        const std::string message = flow->result()->errorMessage();
        for (const std::string& text :
             {std::string("Cannot start"), std::to_string(free), std::string("nvalid argument")})
            EXPECT_NE(message.find(text), std::string::npos) << message;
    }
    EXPECT_FALSE(dynamic_cast<PXFlowStream&>(*scenario->flows[1]).hasEngine());
    EXPECT_FALSE(dynamic_cast<PXFlowTrigger&>(*scenario->flows[2]).hasEngine());
    // Not owned by a shared pointer, a flow cannot hand its engine a weak one.
    PXFlowStream unowned(1, IpVersion::V4, Stream::Config{}, std::make_shared<PXFlowResult>(1));
    EXPECT_NO_THROW(unowned.run());
    EXPECT_EQ(unowned.result()->status(), "error");
}
