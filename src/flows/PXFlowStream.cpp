#include "PXFlowStream.h"

#include "JsonField.h"
#include "PXFlowResult.h"
#include "ScenarioDescription.h"

using roamnode::json::Field;

PXFlowStream::PXFlowStream(std::uint32_t id, IpVersion ipVersion, PXScenario* scenario)
    : PXFlow(id, FlowKind::UdpStream, ipVersion, scenario),
      m_frameOverhead(ipVersion == IpVersion::V6 ? 62 : 42)
{
    m_config.ipv6 = ipVersion == IpVersion::V6 ? 1 : 0;
}

PXFlowStream::~PXFlowStream() = default;

ScenarioErrorCode PXFlowStream::parseFlowContent(const Json::Value& content)
{
    using namespace roamnode::json;
    const bool v6 = ipVersion() == IpVersion::V6;
    std::int64_t number = 0;

    if (readInt64(content, "initialtimetowait", number) != Field::Ok)
        return SCENARIO_STREAM_NO_INITIALTIMETOWAIT;
    m_config.initialTimeToWait = number;
    if (readInt64(content, "srcport", number) != Field::Ok)
        return SCENARIO_STREAM_NO_SRCPORT;
    m_config.srcPort = static_cast<std::uint16_t>(number);
    if (readInt64(content, "dstport", number) != Field::Ok)
        return SCENARIO_STREAM_NO_DSTPORT;
    m_config.dstPort = static_cast<std::uint16_t>(number);
    // Nothing can be sent to port 0 (nor to 65536, whose low 16 bits are kept).
    if (m_config.dstPort == 0)
        return SCENARIO_STREAM_INVALID_DSTPORT;
    if (readString(content, v6 ? "dstipv6" : "dstipv4", m_config.destination) != Field::Ok)
        return v6 ? SCENARIO_STREAM_NO_DSTIPV6 : SCENARIO_STREAM_NO_DSTIPV4;
    if (readInt64(content, "interframegap", number) != Field::Ok)
        return SCENARIO_STREAM_NO_INTERFRAMEGAP;
    // The sender divides the elapsed time by the gap to know how many frames are due.
    if (number <= 0)
        return SCENARIO_STREAM_INVALID_INTERFRAMEGAP;
    m_config.interFrameGap = number;
    if (readInt64(content, "numberofframes", number) != Field::Ok)
        return SCENARIO_STREAM_NO_NUMBEROFFRAMES;
    m_config.numberOfFrames = static_cast<std::uint64_t>(number);

    const Json::Value* contentList = member(content, "contentlist");
    if (contentList == nullptr)
        return SCENARIO_STREAM_NO_CONTENTLIST;
    if (!contentList->isArray())
        return SCENARIO_STREAM_CONTENTLIST_NOT_ARRAY;
    if (contentList->empty())
        return SCENARIO_STREAM_CONTENTLIST_EMPTY;
    m_config.frames.clear();
    // Every frame goes out as one datagram, which cannot be longer, and an empty one is no frame.
    const std::size_t maxFrame = v6 ? Stream::kMaxFrameBytesV6 : Stream::kMaxFrameBytesV4;
    for (const Json::Value& element : *contentList) {
        if (!element.isString())
            return SCENARIO_STREAM_CONTENTLIST_NOT_STRING;
        FrameTemplate frame;
        frame.bytes = hexToBytes(element.asString());
        if (frame.bytes.empty() || frame.bytes.size() > maxFrame)
            return SCENARIO_STREAM_INVALID_FRAME_SIZE;
        m_config.frames.push_back(std::move(frame));
    }

    if (const Json::Value* tos = member(content, "tos")) {
        if (!isInteger(*tos))
            return SCENARIO_TOS_NOT_INTEGER;
        m_config.tos = static_cast<std::int32_t>(toInt64(*tos));
    }

    if (const Json::Value* timeTags = member(content, "timetags")) {
        if (!timeTags->isArray())
            return SCENARIO_STREAM_TIMETAGS_NOT_ARRAY;
        if (timeTags->size() != contentList->size())
            return SCENARIO_STREAM_TIMETAGS_LENGTH;
        for (Json::ArrayIndex i = 0; i < timeTags->size(); ++i) {
            const Json::Value& tag = (*timeTags)[i];
            std::int64_t position = 0;
            std::int64_t timeOffset = 0;
            if (!tag.isObject() || readInt64(tag, "position", position) != Field::Ok ||
                readInt64(tag, "timeoffset", timeOffset) != Field::Ok)
                return SCENARIO_STREAM_TIMETAGS_INCOMPLETE;
            FrameTemplate& frame = m_config.frames[i];
            // The 8-byte tag is written at (length - position): it must lie inside the frame.
            const auto unsignedPosition = static_cast<std::uint64_t>(position);
            if (unsignedPosition < 8 || unsignedPosition > frame.bytes.size())
                return SCENARIO_STREAM_TIMETAG_OUTSIDE_FRAME;
            frame.hasTimeTag = true;
            frame.position = unsignedPosition;
            frame.timeOffset = timeOffset;
        }
    }
    return SCENARIO_OK;
}

void PXFlowStream::stop()
{
    if (m_engine)
        m_engine->stop();
}

void PXFlowStream::releaseEngine()
{
    m_engine.reset();
}

void PXFlowStream::run()
{
    if (!prepare())
        return;
    const std::string what = "Cannot start STREAM flow " + std::to_string(id()) +
                             " (local UDP port " + std::to_string(m_config.srcPort) +
                             ", destination " + m_config.destination + " port " +
                             std::to_string(m_config.dstPort) + ")";
    startEngine(m_engine, std::weak_ptr<Stream::Listener>(weak_from_this()), m_config, what);
}

void PXFlowStream::onFrameSent(roamnode::time_point now, std::size_t bytes)
{
    const std::uint64_t counted = bytes + m_frameOverhead;
    reportBytes(now, counted);
    result()->addSample(counted, roamnode::toNanoseconds(now));
}

void PXFlowStream::onFinished()
{
    finishResult();
}

void PXFlowStream::onFailed(const std::string& reason)
{
    failResult(reason);
}
