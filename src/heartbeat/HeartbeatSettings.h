#pragma once

#include "heartbeat/RvpAddress.h"

#include <cstdint>
#include <memory>
#include <string>

namespace roamnode {
class TlsClientContext;
}

// What the heartbeat needs to know. Owned by the heartbeat manager; the session thread reads a
// copy taken under the manager's lock at the start of each exchange.
struct HeartbeatSettings
{
    std::int64_t connectTimeout = 750; // ms, establishing the TCP connection
    std::int64_t readTimeout = 500;    // ms, each single read
    // ms, the whole request frame: a hub trickling bytes in just under readTimeout must not hold
    // the exchange (and the ticks queued behind it) for as long as it likes.
    std::int64_t requestTimeout = 10000;
    std::int64_t writeTimeout = 500;     // ms, each single write (hello, or one reply segment)
    std::uint64_t segmentSize = 65536;   // bytes, largest piece of a reply per write
    std::int64_t interval = 1000;        // ms, period while registered ("heartbeatinterval")
    std::int64_t contactInterval = 1000; // ms, period while not registered
    std::uint32_t maxHeartbeatFailCount = 2;
    // How long a request may wait for the managers' answers before it is answered without them.
    std::int64_t answerTimeout = 5000; // ms
    std::string rvpHost;
    std::uint16_t rvpPort = roamnode::kDefaultRvpPort;
    // The address as the user gave it, host and optional port in one text.
    std::string rvpAddress;
    // A "tls://" address: the exchange runs inside TLS with this context. When the context is
    // missing, every exchange fails with tlsUnavailable as its reason.
    bool tls = false;
    std::shared_ptr<roamnode::TlsClientContext> tlsContext;
    std::string tlsUnavailable;
};
