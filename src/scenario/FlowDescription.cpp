#include "scenario/FlowDescription.h"

#include "scenario/JsonField.h"

#include <algorithm>

using namespace roamnode::json;

namespace {

unsigned hexDigit(unsigned char c)
{
    // Upper-case letters fall in the last branch on purpose: the hub only writes lower case.
    if (c <= '9')
        return c - 48u;
    if (c < 'k')
        return c - 87u;
    return 0;
}

// "tcprestart" has been sent as a boolean, a number and a string over time; all are honoured.
bool readRestart(const Json::Value& content, bool fallback)
{
    const Json::Value* value = member(content, "tcprestart");
    if (value == nullptr)
        return fallback;
    if (value->isBool())
        return value->asBool();
    if (value->isInt64())
        return value->asInt64() > 0;
    if (value->isUInt64())
        return true;
    if (value->isString())
        return value->asString() == "true";
    return fallback;
}

ScenarioErrorCode readTimeTags(const Json::Value& content, const Json::Value& contentList,
                               std::vector<FrameTemplate>& frames)
{
    const Json::Value* timeTags = member(content, "timetags");
    if (timeTags == nullptr)
        return SCENARIO_OK;
    if (!timeTags->isArray())
        return SCENARIO_STREAM_TIMETAGS_NOT_ARRAY;
    if (timeTags->size() != contentList.size())
        return SCENARIO_STREAM_TIMETAGS_LENGTH;
    for (Json::ArrayIndex i = 0; i < timeTags->size(); ++i) {
        const Json::Value& tag = (*timeTags)[i];
        std::int64_t position = 0;
        std::int64_t timeOffset = 0;
        if (!tag.isObject() || readInt64(tag, "position", position) != Field::Ok ||
            readInt64(tag, "timeoffset", timeOffset) != Field::Ok)
            return SCENARIO_STREAM_TIMETAGS_INCOMPLETE;
        FrameTemplate& frame = frames[i];
        // The 8-byte tag is written at (length - position): it must lie inside the frame.
        const auto unsignedPosition = static_cast<std::uint64_t>(position);
        if (unsignedPosition < 8 || unsignedPosition > frame.bytes.size())
            return SCENARIO_STREAM_TIMETAG_OUTSIDE_FRAME;
        frame.hasTimeTag = true;
        frame.position = unsignedPosition;
        frame.timeOffset = timeOffset;
    }
    return SCENARIO_OK;
}

} // namespace

std::vector<std::uint8_t> hexToBytes(const std::string& text)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const unsigned high = hexDigit(static_cast<unsigned char>(text[i]));
        const unsigned low = hexDigit(static_cast<unsigned char>(text[i + 1]));
        bytes.push_back(static_cast<std::uint8_t>((16u * high + low) % 256u));
    }
    return bytes;
}

ScenarioErrorCode readStreamFlow(const Json::Value& content, IpVersion ipVersion,
                                 Stream::Config& out)
{
    const bool v6 = ipVersion == IpVersion::V6;
    Stream::Config config;
    config.ipv6 = v6 ? 1 : 0;
    std::int64_t number = 0;

    if (readInt64(content, "initialtimetowait", number) != Field::Ok)
        return SCENARIO_STREAM_NO_INITIALTIMETOWAIT;
    config.initialTimeToWait = number;
    if (readInt64(content, "srcport", number) != Field::Ok)
        return SCENARIO_STREAM_NO_SRCPORT;
    config.srcPort = static_cast<std::uint16_t>(number);
    if (readInt64(content, "dstport", number) != Field::Ok)
        return SCENARIO_STREAM_NO_DSTPORT;
    config.dstPort = static_cast<std::uint16_t>(number);
    // Nothing can be sent to port 0 (nor to 65536, whose low 16 bits are kept).
    if (config.dstPort == 0)
        return SCENARIO_STREAM_INVALID_DSTPORT;
    if (readString(content, v6 ? "dstipv6" : "dstipv4", config.destination) != Field::Ok)
        return v6 ? SCENARIO_STREAM_NO_DSTIPV6 : SCENARIO_STREAM_NO_DSTIPV4;
    if (readInt64(content, "interframegap", number) != Field::Ok)
        return SCENARIO_STREAM_NO_INTERFRAMEGAP;
    // The sender divides the elapsed time by the gap to know how many frames are due.
    if (number <= 0)
        return SCENARIO_STREAM_INVALID_INTERFRAMEGAP;
    config.interFrameGap = number;
    if (readInt64(content, "numberofframes", number) != Field::Ok)
        return SCENARIO_STREAM_NO_NUMBEROFFRAMES;
    config.numberOfFrames = static_cast<std::uint64_t>(number);

    const Json::Value* contentList = member(content, "contentlist");
    if (contentList == nullptr)
        return SCENARIO_STREAM_NO_CONTENTLIST;
    if (!contentList->isArray())
        return SCENARIO_STREAM_CONTENTLIST_NOT_ARRAY;
    if (contentList->empty())
        return SCENARIO_STREAM_CONTENTLIST_EMPTY;
    // Every frame goes out as one datagram, which cannot be longer, and an empty one is no frame.
    const std::size_t maxFrame = v6 ? Stream::kMaxFrameBytesV6 : Stream::kMaxFrameBytesV4;
    for (const Json::Value& element : *contentList) {
        if (!element.isString())
            return SCENARIO_STREAM_CONTENTLIST_NOT_STRING;
        FrameTemplate frame;
        frame.bytes = hexToBytes(element.asString());
        if (frame.bytes.empty() || frame.bytes.size() > maxFrame)
            return SCENARIO_STREAM_INVALID_FRAME_SIZE;
        config.frames.push_back(std::move(frame));
    }

    if (const Json::Value* tos = member(content, "tos")) {
        if (!isInteger(*tos))
            return SCENARIO_TOS_NOT_INTEGER;
        config.tos = static_cast<std::int32_t>(toInt64(*tos));
    }
    if (const ScenarioErrorCode code = readTimeTags(content, *contentList, config.frames))
        return code;
    out = std::move(config);
    return SCENARIO_OK;
}

ScenarioErrorCode readTriggerFlow(const Json::Value& content, IpVersion ipVersion,
                                  PXTriggerPlan& out)
{
    const bool v6 = ipVersion == IpVersion::V6;
    PXTriggerPlan plan;
    Trigger::Config& config = plan.engine;
    config.ipv6 = v6 ? 1 : 0;
    std::int64_t number = 0;

    if (readInt64(content, "srcport", number) != Field::Ok)
        return SCENARIO_TRIGGER_NO_SRCPORT;
    config.srcPort = static_cast<std::uint16_t>(number);
    if (readInt64(content, "dstport", number) != Field::Ok)
        return SCENARIO_TRIGGER_NO_DSTPORT;
    config.dstPort = static_cast<std::uint16_t>(number);
    if (readString(content, v6 ? "srcipv6" : "srcipv4", config.source) != Field::Ok)
        return v6 ? SCENARIO_TRIGGER_NO_SRCIPV6 : SCENARIO_TRIGGER_NO_SRCIPV4;

    if (readInt64(content, "sizemin", number) == Field::WrongType)
        return SCENARIO_TRIGGER_SIZE_NOT_INTEGER;
    plan.sizeMin = member(content, "sizemin") ? number : 0;
    if (readInt64(content, "sizemax", number) == Field::WrongType)
        return SCENARIO_TRIGGER_SIZE_NOT_INTEGER;
    plan.sizeMax = member(content, "sizemax") ? number : 1600;
    if (readInt64(content, "tos", number) == Field::WrongType)
        return SCENARIO_TOS_NOT_INTEGER;
    plan.tos = member(content, "tos") ? static_cast<std::int32_t>(number) : 0;

    if (const Json::Value* latency = member(content, "latency")) {
        if (!latency->isObject())
            return SCENARIO_LATENCY_NOT_OBJECT;
        std::string type;
        if (readString(*latency, "type", type) != Field::Ok)
            return SCENARIO_LATENCY_NO_TYPE;
        // "none" measures like "average": the hub uses both to ask for latency.
        if (type != "none" && type != "average")
            return SCENARIO_LATENCY_INVALID_TYPE;
        if (readInt64(*latency, "position", number) != Field::Ok)
            return SCENARIO_LATENCY_NO_POSITION;
        // Compared as unsigned: a negative position passes, as the hub has always seen it.
        if (static_cast<std::uint64_t>(number) < 8)
            return SCENARIO_LATENCY_INVALID_POSITION;
        config.latencyPosition = static_cast<std::uint64_t>(number);
        if (readInt64(*latency, "timeoffset", number) != Field::Ok)
            return SCENARIO_LATENCY_NO_TIMEOFFSET;
        config.latencyTimeOffset = number;
        config.latencyOn = true;
    }
    out = std::move(plan);
    return SCENARIO_OK;
}

ScenarioErrorCode readHttpFlow(const Json::Value& content, IpVersion ipVersion,
                               MultiConnect::Config& out)
{
    const bool v6 = ipVersion == IpVersion::V6;
    MultiConnect::Config config;
    config.ipv6 = v6 ? 1 : 0;
    std::int64_t number = 0;

    std::string method;
    if (readString(content, "requestmethod", method) != Field::Ok)
        return SCENARIO_TCP_NO_HTTPMETHOD;
    if (method != "get" && method != "put")
        return SCENARIO_TCP_INVALID_HTTPMETHOD;
    config.method = method == "put" ? 1 : 0;
    if (readInt64(content, "initialtimetowait", number) != Field::Ok)
        return SCENARIO_TCP_NO_INITIALTIMETOWAIT;
    config.initialTimeToWait = number;
    if (readString(content, "url", config.url) != Field::Ok)
        return SCENARIO_TCP_NO_URL;
    // The url goes into the request line as it is: a blank would end the target early, and a
    // CR LF would start headers of the hub's choosing.
    const bool unsafe = std::any_of(config.url.begin(), config.url.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7f;
    });
    if (unsafe)
        return SCENARIO_TCP_INVALID_URL;
    if (readInt64(content, "srcport", number) != Field::Ok)
        return SCENARIO_TCP_NO_SRCPORT;
    config.srcPort = static_cast<std::uint16_t>(number);
    if (readInt64(content, "dstport", number) != Field::Ok)
        return SCENARIO_TCP_NO_DSTPORT;
    config.dstPort = static_cast<std::uint16_t>(number);
    if (readInt64(content, "duration", number) != Field::Ok)
        return SCENARIO_TCP_NO_DURATION;
    config.duration = number;
    if (readInt64(content, "tos", number) == Field::WrongType)
        return SCENARIO_TOS_NOT_INTEGER;
    config.tos = member(content, "tos") ? static_cast<std::int32_t>(number) : 0;
    if (readInt64(content, "ratelimit", number) == Field::WrongType)
        return SCENARIO_TCP_RATELIMIT_NOT_INTEGER;
    config.rateLimit = member(content, "ratelimit") ? number : -1;
    if (readString(content, v6 ? "dstipv6" : "dstipv4", config.destination) != Field::Ok)
        return v6 ? SCENARIO_TCP_NO_DSTIPV6 : SCENARIO_TCP_NO_DSTIPV4;
    config.restart = readRestart(content, false);
    out = std::move(config);
    return SCENARIO_OK;
}
