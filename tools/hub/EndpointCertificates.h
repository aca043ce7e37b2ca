#pragma once

#include <map>
#include <string>

// Tells on standard error which certificate each endpoint presented, beside its device id:
// once per device and again when its certificate changes, not once per heartbeat.
//
// Thread: the hub's single I/O thread.
class EndpointCertificates
{
public:
    // `hello` is the endpoint's hello payload (its "uuid" is the device id).
    void note(const std::string& hello, const std::string& subject, const std::string& peer);

private:
    // Bounded: a hub that has seen this many devices starts over, and tells each again.
    static constexpr std::size_t kMaxDevices = 100000;
    std::map<std::string, std::string> m_subjects;
};
