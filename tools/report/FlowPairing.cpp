#include "FlowPairing.h"

#include "bus/JsonRead.h"

#include <json/reader.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace roamnode::report {
namespace {

// An answer that is JSON text in a string ("interfaces" is) or already a value.
Json::Value asJson(const Json::Value& answer)
{
    if (!answer.isString())
        return answer;
    const std::string text = answer.asString();
    if (text.empty() || (text[0] != '[' && text[0] != '{'))
        return answer;
    // The endpoint's own text: read with the limits on a peer's JSON.
    Json::Value parsed;
    if (!roamnode::parseJson(text, parsed))
        return answer;
    return parsed;
}

void collect(const Json::Value& value, std::set<std::string>& out)
{
    if (value.isString()) {
        const std::string address = normalAddress(value.asString());
        if (!address.empty())
            out.insert(address);
    } else if (value.isArray()) {
        for (const Json::Value& item : value)
            collect(item, out);
    }
}

struct Candidate
{
    const EndpointResults* endpoint;
    const FlowSummary* flow;
};

} // namespace

std::string normalAddress(const std::string& text)
{
    std::string address = text.substr(0, text.find_first_of("/%"));
    for (char& c : address)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string mapped = "::ffff:";
    if (address.rfind(mapped, 0) == 0 && address.find('.') != std::string::npos)
        address.erase(0, mapped.size());
    return address;
}

std::set<std::string> deviceAddresses(const Json::Value& info)
{
    std::set<std::string> out;
    if (!info.isObject())
        return out;
    collect(asJson(info["device-ipv4"]), out);
    collect(asJson(info["device-ipv6"]), out);
    return out;
}

std::set<std::string> endpointAddresses(const Json::Value& info)
{
    std::set<std::string> out = deviceAddresses(info);
    if (!info.isObject())
        return out;
    const Json::Value interfaces = asJson(info["interfaces"]);
    if (interfaces.isArray())
        for (const Json::Value& i : interfaces)
            if (i.isObject()) {
                collect(i["ipv4"], out);
                collect(i["ipv6"], out);
            }
    return out;
}

void pairStreamsAndTriggers(std::vector<EndpointResults>& endpoints)
{
    for (EndpointResults& receiver : endpoints) {
        const auto triggers = describeFlows(receiver.description);
        for (ScenarioSummary& scenario : receiver.summaries)
            for (FlowSummary& trigger : scenario.flows) {
                const auto t = triggers.find(trigger.flowId);
                if (t == triggers.end() || !isTrigger(t->second.type))
                    continue;
                std::vector<Candidate> matches;
                for (const EndpointResults& sender : endpoints) {
                    if (!sender.addresses.count(normalAddress(t->second.srcAddress)))
                        continue;
                    const auto streams = describeFlows(sender.description);
                    for (const ScenarioSummary& other : sender.summaries)
                        for (const FlowSummary& stream : other.flows) {
                            const auto d = streams.find(stream.flowId);
                            if (d != streams.end() && isStream(d->second.type) &&
                                family(d->second.type) == family(t->second.type) &&
                                d->second.srcPort == t->second.srcPort &&
                                d->second.dstPort == t->second.dstPort &&
                                receiver.addresses.count(normalAddress(d->second.dstAddress)))
                                matches.push_back({&sender, &stream});
                        }
                }
                trigger.pairing = matches.empty()       ? Pairing::None
                                  : matches.size() == 1 ? Pairing::Paired
                                                        : Pairing::Ambiguous;
                if (matches.size() != 1)
                    continue;
                const FlowSummary& stream = *matches[0].flow;
                trigger.pairedWith =
                    matches[0].endpoint->label + " flow " + std::to_string(stream.flowId);
                trigger.lostPackets = static_cast<std::int64_t>(stream.packets) -
                                      static_cast<std::int64_t>(trigger.packets);
                trigger.lossPercent = stream.packets == 0
                                          ? 0.0
                                          : 100.0 * static_cast<double>(*trigger.lostPackets) /
                                                static_cast<double>(stream.packets);
            }
    }
}

} // namespace roamnode::report
