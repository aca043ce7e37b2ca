#include "flows/Stream.h"

#include "flows/FrameBurst.h"
#include "flows/UdpContext.h"
#include "flows/WarningLimiter.h"

#include <QtGlobal>

#include <boost/asio/post.hpp>
#include <boost/asio/system_timer.hpp>
#include <boost/system/system_error.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include <netinet/in.h>
#include <sys/socket.h>

using boost::asio::ip::udp;

namespace {

constexpr std::uint64_t kMaxBurst = FrameBurst::kCapacity;
constexpr std::size_t kTimeTagBytes = 8;

// After a send failed for want of a route, the next try comes this much later: the route can
// come back (a device roaming between access points), but trying at once would spin.
constexpr std::int64_t kRouteRetryNs = 10000000;

using IpTypeOfService = boost::asio::detail::socket_option::integer<IPPROTO_IP, IP_TOS>;

// What a failed send says about the next one.
enum class SendFailure {
    Passing, // the kernel ran short of buffers; it drains
    Route,   // no route or address for the destination now; it may come back
    Lasting, // the frame, destination or socket is refused as it is; every retry fails alike
};

SendFailure classify(const boost::system::error_code& ec)
{
    switch (ec.value()) {
    case ENOBUFS:
    case ENOMEM:
        return SendFailure::Passing;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
    case EADDRNOTAVAIL:
    case ECONNREFUSED:
        return SendFailure::Route;
    default:
        // EMSGSIZE, EINVAL (port 0), EACCES (a broadcast address), EPERM (a firewall), ...
        return SendFailure::Lasting;
    }
}

std::string describe(const boost::system::error_code& ec)
{
    return ec.message() + " (code " + std::to_string(ec.value()) + ")";
}

// The schedule is computed from values the hub sends: a gap (positive) times a frame count,
// saturated instead of overflowing.
std::int64_t scheduleOffset(std::int64_t gap, std::uint64_t count)
{
    return roamnode::saturatingMultiply(gap, roamnode::saturatingSigned(count));
}

// The state the send handler works on. Handlers hold it weakly and lock it for one run, so a
// handler that comes after the Stream is gone finds nothing; the context outlives a run in
// progress because releasing the context joins the thread that runs it.
class Sender : public std::enable_shared_from_this<Sender>
{
public:
    Sender(UdpContext& context, udp::endpoint destination,
           const std::shared_ptr<Stream::Listener>& listener, const Stream::Config& config)
        : m_context(context), m_burst(destination), m_timer(context.eventLoop()),
          m_listener(listener), m_config(config), m_templateCount(config.frames.size()),
          // A gap below 1 ns would divide by zero; 1 ns sends everything as soon as possible.
          m_gap(std::max<std::int64_t>(config.interFrameGap, 1))
    {
    }

    void start();
    void stop();

private:
    void try_send();
    // Reports the end: onFinished when every frame went out, otherwise onFailed with the count
    // and `cause` (a send that cannot succeed) or the last send error seen.
    void end_stream(const std::string& cause = {});
    void requeue();
    void waitUntil(std::int64_t ns);
    void writeTimeTag(FrameTemplate& frame, std::int64_t sendTime) const;
    // Fills the burst with the next `count` frames, tagged with the send time `now`.
    void prepareBurst(std::uint64_t count, std::int64_t now);

    UdpContext& m_context;
    FrameBurst m_burst;
    boost::asio::system_timer m_timer;
    std::int64_t m_startTime = 0;
    std::int64_t m_endTime = 0;
    std::weak_ptr<Stream::Listener> m_listener;
    Stream::Config m_config; // the templates are this private copy: the tags are written into it
    std::size_t m_templateCount;
    std::int64_t m_gap;
    std::uint64_t m_framesSent = 0;
    // A send that keeps failing is retried until the end time; one line a second says enough.
    WarningLimiter m_sendWarnings;
    std::string m_lastSendError; // described, for the report of a stream that fell short
    // Written by stop() on the run thread, read by the handler on the context's thread.
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopped{false};
};

void Sender::start()
{
    // The option is set on the socket that every flow of this family and port shares, so the
    // last stream started decides it.
    boost::system::error_code ec;
    m_context.socket().set_option(IpTypeOfService(m_config.tos), ec);
    if (ec)
        throw boost::system::system_error(ec, "set_option IP_TOS " + std::to_string(m_config.tos) +
                                                  " on UDP port " +
                                                  std::to_string(m_context.localPort()));
    m_startTime = roamnode::saturatingAdd(roamnode::nowNanoseconds(), m_config.initialTimeToWait);
    m_endTime = roamnode::saturatingAdd(
        roamnode::saturatingAdd(m_startTime, scheduleOffset(m_gap, m_config.numberOfFrames)),
        Stream::kEndGraceNs);
    // Running before the wait is armed: on a context that already runs, the handler can come
    // before start() returns.
    m_running = true;
    waitUntil(m_startTime);
    m_context.start();
}

void Sender::stop()
{
    // Stopped before not running: a handler that sees the stream not running then also knows
    // that stop() reports the end, not the handler.
    m_stopped = true;
    m_running = false;
    // The timer belongs to the context's thread; cancel it there.
    std::weak_ptr<Sender> weak = shared_from_this();
    boost::asio::post(m_context.eventLoop(), [weak] {
        if (auto self = weak.lock())
            self->m_timer.cancel();
    });
    if (auto listener = m_listener.lock())
        listener->onFinished();
}

void Sender::waitUntil(std::int64_t ns)
{
    // Never past the end time: a schedule that saturated at the end of time must still end.
    ns = std::min(ns, roamnode::saturatingAdd(m_endTime, 1));
    std::weak_ptr<Sender> weak = shared_from_this();
    m_timer.expires_at(roamnode::fromNanoseconds(ns));
    m_timer.async_wait([weak](const boost::system::error_code& ec) {
        if (ec == boost::asio::error::operation_aborted)
            return;
        if (auto self = weak.lock())
            self->try_send();
    });
}

void Sender::requeue()
{
    std::weak_ptr<Sender> weak = shared_from_this();
    boost::asio::post(m_context.eventLoop(), [weak] {
        if (auto self = weak.lock())
            self->try_send();
    });
}

void Sender::end_stream(const std::string& cause)
{
    m_running = false;
    m_timer.cancel();
    if (m_stopped)
        return;
    auto listener = m_listener.lock();
    if (m_framesSent >= m_config.numberOfFrames && cause.empty()) {
        if (listener)
            listener->onFinished();
        return;
    }
    std::string reason = "sent " + std::to_string(m_framesSent) + " of " +
                         std::to_string(m_config.numberOfFrames) + " frames";
    if (!cause.empty()) {
        reason += ": " + cause;
    } else {
        // The end time came (or there was nothing to send) before every frame went out.
        reason += " by the end of the stream";
        if (!m_lastSendError.empty())
            reason += "; last send error: " + m_lastSendError;
    }
    qWarning("Stream: %s", reason.c_str());
    if (listener)
        listener->onFailed(reason);
}

void Sender::writeTimeTag(FrameTemplate& frame, std::int64_t sendTime) const
{
    const std::uint64_t length = frame.bytes.size();
    // A tag that would not lie wholly inside the frame is left out; the frame goes as it is.
    if (frame.position < kTimeTagBytes || frame.position > length)
        return;
    // Wrapping sum: a far-out offset gives a wrong tag, never undefined behaviour.
    const auto tagged = static_cast<std::int64_t>(static_cast<std::uint64_t>(sendTime) +
                                                  static_cast<std::uint64_t>(frame.timeOffset));
    const auto tag = static_cast<std::uint64_t>(tagged / 10);
    std::uint8_t* at = frame.bytes.data() + (length - frame.position);
    for (std::size_t i = 0; i < kTimeTagBytes; ++i)
        at[i] = static_cast<std::uint8_t>(tag >> (8 * i));
}

void Sender::try_send()
{
    // stop() has reported the end already.
    if (m_stopped)
        return;
    // One clock reading per burst: every frame of the burst carries this send time.
    const std::int64_t now = roamnode::nowNanoseconds();
    if (m_framesSent >= m_config.numberOfFrames || m_endTime < now || !m_running ||
        m_templateCount == 0) {
        end_stream();
        return;
    }

    // The number of frames the schedule says should have gone out by now.
    std::uint64_t due = 0;
    if (now == m_startTime)
        due = 1;
    else if (now > m_startTime) // unsigned: exact even for a start time far in the past
        due = (static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(m_startTime)) /
                  static_cast<std::uint64_t>(m_gap) +
              1;
    std::uint64_t burst = due > m_framesSent ? std::min(due - m_framesSent, kMaxBurst) : 0;
    if (burst == 0) {
        // Only a clock that stepped back gets here; wait for the next frame instead of spinning.
        waitUntil(roamnode::saturatingAdd(m_startTime, scheduleOffset(m_gap, m_framesSent)));
        return;
    }

    // Never more than the frames still to send: a stream that is far behind would otherwise
    // send past its count.
    burst = std::min(burst, m_config.numberOfFrames - m_framesSent);
    prepareBurst(burst, now);

    const roamnode::time_point sendTime = roamnode::fromNanoseconds(now);
    const int socket = m_context.socket().native_handle();
    while (m_burst.pending() > 0) {
        // The kernel may take only the first frames of the burst (its buffer is full, or a
        // frame fails); the rest go again at once, in order and with the same send time.
        const std::size_t first = m_burst.accepted();
        boost::system::error_code ec;
        m_burst.send(socket, ec);
        if (ec == boost::asio::error::would_block || ec == boost::asio::error::try_again) {
            requeue();
            return;
        }
        if (ec) {
            m_sendWarnings.warn([&] { return "Stream::try_send: got error: " + describe(ec); });
            switch (classify(ec)) {
            case SendFailure::Passing:
                requeue();
                return;
            case SendFailure::Route:
                m_lastSendError = describe(ec);
                waitUntil(roamnode::saturatingAdd(now, kRouteRetryNs));
                return;
            case SendFailure::Lasting:
                end_stream("cannot send to " + m_config.destination + " port " +
                           std::to_string(m_config.dstPort) + ": " + describe(ec));
                return;
            }
        }
        const auto listener = m_listener.lock();
        for (std::size_t i = first; i < m_burst.accepted(); ++i) {
            if (m_burst.acceptedBytes(i) == 0) {
                // Only an empty frame goes out as nothing, and it would every time.
                m_sendWarnings.warn(
                    [] { return std::string("Stream::try_send: no bytes sent:0"); });
                end_stream("no bytes sent: the frame is empty");
                return;
            }
            ++m_framesSent;
            if (listener)
                listener->onFrameSent(sendTime, m_burst.acceptedBytes(i));
        }
    }

    if (m_framesSent >= m_config.numberOfFrames || now > m_endTime || !m_running) {
        end_stream();
        return;
    }
    const std::int64_t next =
        roamnode::saturatingAdd(m_startTime, scheduleOffset(m_gap, m_framesSent));
    if (now < next && due == m_framesSent) {
        waitUntil(next);
        return;
    }
    // Still behind: let the other streams and triggers of this loop run, then send what is due.
    requeue();
}

void Sender::prepareBurst(std::uint64_t count, std::int64_t now)
{
    m_burst.clear();
    for (std::uint64_t i = 0; i < count; ++i) {
        FrameTemplate& frame = m_config.frames[(m_framesSent + i) % m_templateCount];
        // An empty frame is not counted as sent and ends the stream: it goes last, so that the
        // frames before it are counted and none after it goes out uncounted.
        if (frame.bytes.empty() && i > 0)
            break;
        // Every frame of a burst carries the same send time, so a template that comes round
        // twice in one burst is tagged once.
        if (frame.hasTimeTag && i < m_templateCount)
            writeTimeTag(frame, now);
        m_burst.add(frame.bytes.data(), frame.bytes.size());
        if (frame.bytes.empty())
            break;
    }
}

} // namespace

// The sender is declared after the context so that it (and its timer) goes first.
class Stream::Impl
{
public:
    std::shared_ptr<UdpContext> context;
    std::shared_ptr<Sender> sender;
    bool started = false;
};

Stream::Stream(const std::shared_ptr<Listener>& listener, const Config& config)
    : m_impl(std::make_unique<Impl>())
{
    const bool ipv6 = config.ipv6 != 0;
    // Parse first: a bad address must not leave a bound socket behind.
    udp::endpoint destination =
        UdpContext::makeEndpoint(ipv6, config.destination, config.dstPort, "destination");
    m_impl->context = UdpContext::get(ipv6, config.srcPort);
    m_impl->sender =
        std::make_shared<Sender>(*m_impl->context, std::move(destination), listener, config);
}

Stream::~Stream()
{
    // The last reference to the sender can be a handler that is running right now; the timer is
    // then cancelled when that handler lets go, and the context's release waits for it.
    m_impl->sender.reset();
    m_impl->context.reset();
}

void Stream::start()
{
    if (m_impl->started)
        return;
    m_impl->started = true;
    m_impl->sender->start();
}

void Stream::stop()
{
    m_impl->sender->stop();
}
