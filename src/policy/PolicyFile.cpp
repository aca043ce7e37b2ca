#include "policy/PolicyFile.h"

#include "policy/JsonWithLines.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <map>

namespace roamnode {
namespace {

// A policy file is a few hundred bytes; anything near this is not one.
constexpr std::streamoff kMaxPolicyBytes = 1024 * 1024;

bool readCount(const Json::Value& value, std::uint64_t max, std::uint64_t& out)
{
    if (!value.isUInt64() || value.asUInt64() > max)
        return false;
    out = value.asUInt64();
    return true;
}

// Each key's reader: false when the value has the wrong type or range, `expected` then says
// what it should be.
using KeyReader = std::function<bool(const Json::Value&, PXPolicy&, std::string& expected)>;

KeyReader countKey(std::optional<std::uint64_t> PXPolicy::*field,
                   std::uint64_t max = std::numeric_limits<std::uint64_t>::max())
{
    return [field, max](const Json::Value& value, PXPolicy& policy, std::string& expected) {
        std::uint64_t count = 0;
        if (!readCount(value, max, count)) {
            expected = "a whole number from 0 to " + std::to_string(max);
            return false;
        }
        policy.*field = count;
        return true;
    };
}

const std::map<std::string, KeyReader>& keyReaders()
{
    static const std::map<std::string, KeyReader> readers = {
        {"destinations",
         [](const Json::Value& value, PXPolicy& policy, std::string& expected) {
             expected = "a list of networks such as \"10.0.0.0/8\" or \"fe80::/10\"";
             if (!value.isArray())
                 return false;
             std::vector<NetworkPrefix> networks;
             for (const Json::Value& item : value) {
                 NetworkPrefix prefix;
                 if (!item.isString() || !NetworkPrefix::parse(item.asString(), prefix, expected))
                     return false;
                 networks.push_back(prefix);
             }
             policy.destinations = networks;
             return true;
         }},
        {"maxstreamrate", countKey(&PXPolicy::maxStreamRate)},
        {"maxtotalrate", countKey(&PXPolicy::maxTotalRate)},
        // Seconds; a week, the longest scenario the endpoint runs at all.
        {"maxduration", countKey(&PXPolicy::maxDuration, 7 * 24 * 3600)},
        {"maxflows", countKey(&PXPolicy::maxFlows)},
        {"maxhttpratelimit",
         countKey(&PXPolicy::maxHttpRateLimit, std::numeric_limits<std::int64_t>::max())},
        {"unlimitedhttp",
         [](const Json::Value& value, PXPolicy& policy, std::string& expected) {
             expected = "true or false";
             if (!value.isBool())
                 return false;
             policy.unlimitedHttp = value.asBool();
             return true;
         }},
        {"localudpports",
         [](const Json::Value& value, PXPolicy& policy, std::string& expected) {
             expected = "[FIRST, LAST], two ports from 1 to 65535, FIRST not above LAST";
             std::uint64_t first = 0;
             std::uint64_t last = 0;
             if (!value.isArray() || value.size() != 2 || !readCount(value[0], 65535, first) ||
                 !readCount(value[1], 65535, last) || first == 0 || first > last)
                 return false;
             policy.localUdpPorts = {static_cast<std::uint16_t>(first),
                                     static_cast<std::uint16_t>(last)};
             return true;
         }},
    };
    return readers;
}

} // namespace

bool parsePolicy(const std::string& text, PXPolicy& policy, std::string& error)
{
    Json::Value root;
    if (!parseJsonWithLines(text, root, error))
        return false;
    if (!root.isObject()) {
        error = "line " + std::to_string(lineOf(text, root)) + ": a policy is a JSON object";
        return false;
    }
    PXPolicy read;
    const auto& readers = keyReaders();
    for (auto it = root.begin(); it != root.end(); ++it) {
        const std::string key = it.name();
        const std::string where = "line " + std::to_string(lineOf(text, *it)) + ": ";
        const auto reader = readers.find(key);
        if (reader == readers.end()) {
            error = where + "unknown key \"" + key + "\"";
            return false;
        }
        std::string expected;
        if (!reader->second(*it, read, expected)) {
            error = where + "\"" + key + "\" must be " + expected;
            return false;
        }
    }
    policy = read;
    return true;
}

bool readPolicyFile(const std::string& path, PXPolicy& policy, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string text(static_cast<std::size_t>(kMaxPolicyBytes) + 1, '\0');
    in.read(&text[0], kMaxPolicyBytes + 1);
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad() || text.size() > static_cast<std::size_t>(kMaxPolicyBytes)) {
        error = path + ": " + (in.bad() ? "cannot be read" : "larger than a policy can be");
        return false;
    }
    if (!parsePolicy(text, policy, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

} // namespace roamnode
