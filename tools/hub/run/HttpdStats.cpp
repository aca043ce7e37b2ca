#include "HttpdStats.h"

#include "ScenarioFile.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace hubrun {

std::vector<ConnectionStat> parseConnectionStats(const std::string& text)
{
    std::vector<ConnectionStat> connections;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        Json::Value object;
        std::string ignored;
        if (line.find_first_not_of(" \t\r") == std::string::npos ||
            !parseJsonText(line, object, ignored) || !object.isObject() ||
            !object["target"].isString() || !object["bytes"].isNumeric() ||
            !object["seconds"].isNumeric())
            continue;
        ConnectionStat c;
        c.method = object["method"].isString() ? object["method"].asString() : std::string();
        c.target = object["target"].asString();
        c.bytes = object["bytes"].asDouble() < 0 ? 0 : object["bytes"].asLargestUInt();
        c.seconds = std::max(0.0, object["seconds"].asDouble());
        c.peer = object["peer"].isString() ? object["peer"].asString() : std::string();
        connections.push_back(c);
    }
    return connections;
}

std::string flowPathName(const std::string& url)
{
    const std::size_t first = url.find('/');
    if (first == std::string::npos)
        return url;
    const std::size_t second = url.find('/', first + 1);
    const std::size_t third =
        second == std::string::npos ? std::string::npos : url.find('/', second + 1);
    return third == std::string::npos ? url.substr(first + 1)
                                      : url.substr(first + 1, third - first - 1);
}

bool targetMatchesUrl(const std::string& target, const std::string& url)
{
    const std::string prefix = "/" + flowPathName(url);
    if (target.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::size_t at = prefix.size();
    if (at < target.size() && target[at] == '-') {
        std::size_t digits = at + 1;
        while (digits < target.size() && std::isdigit(static_cast<unsigned char>(target[digits])))
            ++digits;
        if (digits == at + 1)
            return false;
        at = digits;
    }
    return at < target.size() && target[at] == '/';
}

int applyConnectionStats(roamnode::report::ScenarioSummary& scenario,
                         const Json::Value& description,
                         const std::vector<ConnectionStat>& connections)
{
    if (!description.isObject() || !description["flows"].isArray())
        return 0;
    int filled = 0;
    for (roamnode::report::FlowSummary& flow : scenario.flows) {
        if (flow.type.rfind("tcp", 0) != 0)
            continue;
        for (const Json::Value& entry : description["flows"]) {
            if (!entry.isObject() || !entry["id"].isIntegral() ||
                entry["id"].asLargestInt() != flow.flowId || !entry["flow"].isObject())
                continue;
            const Json::Value& content = entry["flow"];
            const std::string url = content["url"].isString() ? content["url"].asString() : "";
            std::string method =
                content["requestmethod"].isString() ? content["requestmethod"].asString() : "";
            std::transform(method.begin(), method.end(), method.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            std::uint64_t bytes = 0;
            double seconds = 0;
            int matched = 0;
            for (const ConnectionStat& c : connections) {
                if ((!c.method.empty() && c.method != method) || !targetMatchesUrl(c.target, url))
                    continue;
                bytes += c.bytes;
                seconds += c.seconds;
                ++matched;
            }
            if (matched == 0)
                break;
            flow.bytes = bytes;
            flow.meanMbps = static_cast<double>(bytes) * 8.0 / 1e6 / std::max(seconds, 1e-3);
            flow.measuredByServer = true;
            ++filled;
            break;
        }
    }
    return filled;
}

} // namespace hubrun
