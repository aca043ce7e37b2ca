#include "flows/UdpContext.h"
#include "UdpTestPeers.h"

#include <boost/asio/post.hpp>
#include <boost/system/system_error.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <net/if.h>
#include <tuple>

using boost::asio::ip::udp;
using namespace udptest;

namespace {

// The threads of this process. A joined thread leaves /proc/self/task a moment after join()
// returns: with `expected`, the count is waited for, within a bound.
std::size_t threadCount(std::size_t expected = 0)
{
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    for (;;) {
        const auto count = static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}));
        if (expected == 0 || count == expected || std::chrono::steady_clock::now() >= deadline)
            return count;
        std::this_thread::sleep_for(1ms);
    }
}

// Runs one handler on the context's loop and waits for it, so the test knows the loop is up.
std::thread::id loopThread(UdpContext& context)
{
    std::promise<std::thread::id> ran;
    auto result = ran.get_future();
    boost::asio::post(context.eventLoop(), [&ran] { ran.set_value(std::this_thread::get_id()); });
    EXPECT_EQ(result.wait_for(2s), std::future_status::ready);
    return result.get();
}

} // namespace

TEST(UdpContextRegistry, GetTwiceReturnsTheSameContextUntilReleasedAndAHeldPortFailsWithBind)
{
    const std::uint16_t port = testsupport::unusedLoopbackPort(SOCK_DGRAM, false);
    auto first = UdpContext::get(false, port);
    auto second = UdpContext::get(false, port);
    EXPECT_EQ(first, second);

    // Alive while any holder keeps it.
    UdpContext* address = first.get();
    first.reset();
    EXPECT_EQ(UdpContext::get(false, port).get(), address);

    // After the last holder the port is free again and a new socket binds it.
    second.reset();
    auto third = UdpContext::get(false, port);
    EXPECT_EQ(third->localPort(), port);
    EXPECT_EQ(UdpContext::get(false, port), third);

    // The other family on the same port number has a context of its own.
    auto v6 = UdpContext::get(true, port);
    EXPECT_NE(v6, third);
    EXPECT_EQ(v6->localPort(), port);

    // Port 0 binds a port of the system's choice; released, it frees it.
    auto any = UdpContext::get(false, 0);
    const std::uint16_t actual = any->localPort();
    ASSERT_NE(actual, 0);
    any.reset();
    EXPECT_EQ(UdpContext::get(false, actual)->localPort(), actual);

    Peer holder;
    try {
        UdpContext::get(false, holder.port());
        FAIL() << "bound a port that another socket holds";
    } catch (const boost::system::system_error& e) {
        EXPECT_EQ(e.code(), boost::asio::error::address_in_use);
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("bind UDP port " + std::to_string(holder.port()), 0), 0u) << what;
    }
}

TEST(UdpContextThread, StartTwiceStartsOneThreadThatTheReleaseJoinsUnlessInsideItsOwnHandler)
{
    // A sanitizer runtime starts a helper thread with the first thread the process creates.
    std::thread([] {}).join();
    auto context = UdpContext::get(false, 0);
    const std::size_t before = threadCount();
    context->start();
    const std::thread::id first = loopThread(*context);
    EXPECT_EQ(threadCount(), before + 1);
    context->start();
    EXPECT_EQ(loopThread(*context), first);
    EXPECT_EQ(threadCount(), before + 1);

    context.reset();
    EXPECT_EQ(threadCount(before), before);

    // Released inside its own handler, it cannot join itself, and closes its socket before the
    // handler returns.
    context = UdpContext::get(false, 0);
    const std::uint16_t port = context->localPort();
    context->start();
    auto& loop = context->eventLoop();
    auto holder = std::make_shared<std::shared_ptr<UdpContext>>(std::move(context));
    std::promise<void> released;
    auto done = released.get_future();
    boost::asio::post(loop, [holder, &released] {
        holder->reset();
        released.set_value();
    });
    holder.reset();
    ASSERT_EQ(done.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(UdpContext::get(false, port)->localPort(), port);
}

TEST(UdpContextAddress, ParsesTheFamilyAndScopeOrRefusesTheText)
{
    // The address's family, its text, the scope it gives, and the error (none: accepted).
    const std::tuple<bool, std::string, unsigned, std::string> cases[] = {
        {false, "127.0.0.1", 0, ""},
        {true, "::1%3", 3, ""},
        {true, "fe80::1%lo", ::if_nametoindex("lo"), ""},
        {false, "foo", 0, "invalid destination address 'foo'"},
        {false, "", 0, "invalid destination address ''"},
        {false, "256.1.1.1", 0, "invalid destination address '256.1.1.1'"},
        {false, "::1", 0, "destination address '::1' is not IPv4"},
        {true, "127.0.0.1", 0, "destination address '127.0.0.1' is not IPv6"},
    };
    for (const auto& [ipv6, text, scope, what] : cases) {
        try {
            const udp::endpoint endpoint =
                UdpContext::makeEndpoint(ipv6, text, 5000, "destination");
            EXPECT_EQ(what, "") << text;
            EXPECT_EQ(endpoint.address().is_v6(), ipv6) << text;
            EXPECT_EQ(endpoint.port(), 5000);
            EXPECT_EQ(ipv6 ? endpoint.address().to_v6().scope_id() : 0u, scope) << text;
        } catch (const boost::system::system_error& e) {
            EXPECT_EQ(e.code().value(), 22) << text;
            EXPECT_EQ(std::string(e.what()).rfind(what, 0), 0u) << e.what();
            EXPECT_NE(what, "") << text;
        }
    }
}

TEST(UdpContextAddress, ExpectedSenderNeedsAddressScopeAndPort)
{
    const auto v4 = [](const char* text, std::uint16_t port) {
        return udp::endpoint(boost::asio::ip::make_address(text), port);
    };
    EXPECT_TRUE(UdpContext::isExpectedSender(v4("127.0.0.1", 7), v4("127.0.0.1", 7)));
    EXPECT_FALSE(UdpContext::isExpectedSender(v4("127.0.0.1", 7), v4("127.0.0.1", 8)));
    EXPECT_FALSE(UdpContext::isExpectedSender(v4("127.0.0.1", 7), v4("127.0.0.2", 7)));
    EXPECT_FALSE(UdpContext::isExpectedSender(v4("127.0.0.1", 7), v4("::ffff:127.0.0.1", 7)));

    auto scoped = boost::asio::ip::make_address_v6("fe80::1");
    scoped.scope_id(3);
    const udp::endpoint expected(scoped, 9);
    EXPECT_TRUE(UdpContext::isExpectedSender(expected, expected));
    scoped.scope_id(0);
    EXPECT_FALSE(UdpContext::isExpectedSender(expected, udp::endpoint(scoped, 9)));
    EXPECT_FALSE(UdpContext::isExpectedSender(udp::endpoint(scoped, 9), v4("127.0.0.1", 9)));
}
