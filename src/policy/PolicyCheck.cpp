#include "policy/PolicyCheck.h"

#include "bus/ScenarioErrorCode.h"
#include "bus/TimePoint.h"

#include <limits>

namespace {

const char* const kPrefix = "Error in <scenariodescription>: ";

PolicyVerdict refuse(int code, const std::string& what)
{
    return {code, kPrefix + what};
}

bool isHub(const roamnode::IpBytes& address, const std::vector<std::string>& hubAddresses)
{
    for (const std::string& text : hubAddresses) {
        roamnode::IpBytes hub;
        if (roamnode::parseIpAddress(text, hub) && hub.v6 == address.v6 &&
            hub.bytes == address.bytes)
            return true;
    }
    return false;
}

bool destinationAllowed(const PXPolicy& policy, const std::string& destination,
                        const std::vector<std::string>& hubAddresses)
{
    if (!policy.destinations)
        return true;
    // A name or anything else the engines would have to interpret is refused: only a numeric
    // address can be checked against a network.
    roamnode::IpBytes address;
    if (!roamnode::parseIpAddress(destination, address))
        return false;
    if (isHub(address, hubAddresses))
        return true;
    for (const roamnode::NetworkPrefix& prefix : *policy.destinations) {
        if (prefix.contains(address))
            return true;
    }
    return false;
}

} // namespace

std::uint64_t streamBitsPerSecond(std::uint64_t frameBytes, std::int64_t interFrameGapNs)
{
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    if (interFrameGapNs <= 0)
        return kMax;
    // 65527 bytes x 8 x 10^9 fits easily; larger frames do not exist, but saturate anyway.
    const std::int64_t bitNs = roamnode::saturatingMultiply(roamnode::saturatingSigned(frameBytes),
                                                            8 * roamnode::kNanosecondsPerSecond);
    if (bitNs == std::numeric_limits<std::int64_t>::max())
        return kMax;
    return static_cast<std::uint64_t>(bitNs) / static_cast<std::uint64_t>(interFrameGapNs);
}

PolicyVerdict checkPolicy(const PXPolicy& policy, const ScenarioDemand& demand,
                          const std::vector<std::string>& hubAddresses)
{
    if (policy.maxFlows && demand.flowCount > *policy.maxFlows)
        return refuse(SCENARIO_POLICY_FLOWS, std::to_string(demand.flowCount) +
                                                 " flows are more than the allowed " +
                                                 std::to_string(*policy.maxFlows));
    if (policy.maxDuration &&
        demand.duration >
            static_cast<std::uint64_t>(roamnode::saturatingMultiply(
                roamnode::saturatingSigned(*policy.maxDuration), roamnode::kNanosecondsPerSecond)))
        return refuse(SCENARIO_POLICY_DURATION, "<scenarioduration> " +
                                                    std::to_string(demand.duration) +
                                                    " ns is longer than the allowed " +
                                                    std::to_string(*policy.maxDuration) + " s");
    for (const std::string& destination : demand.destinations) {
        if (!destinationAllowed(policy, destination, hubAddresses))
            return refuse(SCENARIO_POLICY_DESTINATION,
                          "destination " + destination + " is outside the allowed networks");
    }
    if (policy.localUdpPorts) {
        for (const std::uint16_t port : demand.localUdpPorts) {
            if (port != 0 &&
                (port < policy.localUdpPorts->first || port > policy.localUdpPorts->second))
                return refuse(SCENARIO_POLICY_LOCAL_PORT,
                              "local UDP port " + std::to_string(port) +
                                  " is outside the allowed range " +
                                  std::to_string(policy.localUdpPorts->first) + "-" +
                                  std::to_string(policy.localUdpPorts->second));
        }
    }
    std::int64_t total = 0;
    for (const std::uint64_t rate : demand.streamRates) {
        if (policy.maxStreamRate && rate > *policy.maxStreamRate)
            return refuse(SCENARIO_POLICY_STREAM_RATE, "STREAM flow rate " + std::to_string(rate) +
                                                           " bit/s is above the allowed " +
                                                           std::to_string(*policy.maxStreamRate) +
                                                           " bit/s");
        total = roamnode::saturatingAdd(total, roamnode::saturatingSigned(rate));
    }
    if (policy.maxTotalRate && static_cast<std::uint64_t>(total) > *policy.maxTotalRate)
        return refuse(SCENARIO_POLICY_TOTAL_RATE,
                      "STREAM flows together send " + std::to_string(total) +
                          " bit/s, above the allowed " + std::to_string(*policy.maxTotalRate) +
                          " bit/s");
    for (const std::int64_t limit : demand.httpRateLimits) {
        if (limit <= 0 && !policy.unlimitedHttp)
            return refuse(SCENARIO_POLICY_HTTP_UNLIMITED,
                          "TCP flow without <ratelimit> is not allowed");
        if (limit > 0 && policy.maxHttpRateLimit &&
            static_cast<std::uint64_t>(limit) > *policy.maxHttpRateLimit)
            return refuse(SCENARIO_POLICY_HTTP_RATELIMIT,
                          "<ratelimit> " + std::to_string(limit) +
                              " bytes/s for TCP flow is above the allowed " +
                              std::to_string(*policy.maxHttpRateLimit) + " bytes/s");
    }
    return {};
}
