#include "EndpointCertificates.h"

#include "bus/JsonRead.h"

#include <cstdio>

void EndpointCertificates::note(const std::string& hello, const std::string& subject,
                                const std::string& peer)
{
    Json::Value root;
    const std::string device =
        roamnode::parseJson(hello, root) && root.isObject() && root["uuid"].isString()
            ? root["uuid"].asString()
            : std::string("?");
    const auto known = m_subjects.find(device);
    if (known != m_subjects.end() && known->second == subject)
        return;
    if (m_subjects.size() >= kMaxDevices)
        m_subjects.clear();
    m_subjects[device] = subject;
    std::fprintf(stderr, "endpoint %s at %s: certificate subject %s\n", device.c_str(),
                 peer.c_str(), subject.c_str());
}
