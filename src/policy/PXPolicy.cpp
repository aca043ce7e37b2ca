#include "policy/PXPolicy.h"

namespace {

std::string limitText(const std::optional<std::uint64_t>& limit, const char* unit)
{
    return limit ? std::to_string(*limit) + unit : std::string("any");
}

} // namespace

std::string PXPolicy::summary() const
{
    std::string networks = "any";
    if (destinations) {
        networks.clear();
        for (const auto& prefix : *destinations)
            networks += (networks.empty() ? "" : " ") + prefix.text();
        if (networks.empty())
            networks = "none";
    }
    std::string text = "destinations " + networks + " (and the hub)";
    text += ", stream rate " + limitText(maxStreamRate, " bit/s");
    text += ", total rate " + limitText(maxTotalRate, " bit/s");
    text += ", duration " + limitText(maxDuration, " s");
    text += ", flows " + limitText(maxFlows, "");
    text += ", HTTP ratelimit " + limitText(maxHttpRateLimit, " bytes/s");
    text += unlimitedHttp ? ", unlimited HTTP allowed" : ", unlimited HTTP refused";
    text += ", local UDP ports ";
    text += localUdpPorts
                ? std::to_string(localUdpPorts->first) + "-" + std::to_string(localUdpPorts->second)
                : std::string("any");
    return text;
}
