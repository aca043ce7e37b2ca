#include "heartbeat/HeartbeatFrame.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace roamnode {

std::string frameMessage(const std::string& payload)
{
    char length[32];
    std::snprintf(length, sizeof length, "%04lu", static_cast<unsigned long>(payload.size()));
    std::string frame;
    frame.reserve(std::strlen(length) + 1 + payload.size());
    frame += length;
    frame += '#';
    frame += payload;
    return frame;
}

long parseFrameLength(const std::string& text)
{
    errno = 0;
    return std::strtol(text.c_str(), nullptr, 10);
}

FrameAccumulator::FrameAccumulator(std::size_t maxFrameBytes) : m_maxFrameBytes(maxFrameBytes) {}

FrameAccumulator::State FrameAccumulator::add(const char* data, std::size_t size)
{
    if (m_state != State::NeedMore)
        return m_state;

    const char* nul = static_cast<const char*>(std::memchr(data, '\0', size));
    const std::size_t usable = nul ? static_cast<std::size_t>(nul - data) : size;

    // Checked before appending so that a stream that never completes stops at the cap.
    if (m_text.size() + usable > m_maxFrameBytes) {
        m_state = State::TooLarge;
        return m_state;
    }
    m_text.append(data, usable);

    if (!m_sawFirstChunk) {
        m_sawFirstChunk = true;
        m_separator = m_text.find('#');
        if (m_separator != std::string::npos) {
            const long length = parseFrameLength(m_text.substr(0, m_separator));
            if (length > 0 && static_cast<unsigned long>(length) > m_maxFrameBytes) {
                m_state = State::TooLarge;
                return m_state;
            }
            m_expectedTotal = static_cast<long long>(m_separator) + 1 + length;
            // Room for the whole frame at once: growing by doubling would hold the old and the
            // new copy of a large request at the same time.
            if (m_expectedTotal > 0)
                m_text.reserve(static_cast<std::size_t>(m_expectedTotal));
        }
    }
    return evaluate();
}

FrameAccumulator::State FrameAccumulator::evaluate()
{
    if (m_separator != std::string::npos && m_expectedTotal >= 0 &&
        static_cast<unsigned long long>(m_expectedTotal) == m_text.size()) {
        m_state = State::Complete;
    }
    return m_state;
}

std::string FrameAccumulator::payload() const
{
    if (m_separator == std::string::npos)
        return std::string();
    return m_text.substr(m_separator + 1);
}

std::string FrameAccumulator::takePayload()
{
    if (m_separator == std::string::npos)
        return std::string();
    m_text.erase(0, m_separator + 1);
    m_separator = std::string::npos;
    return std::move(m_text);
}

std::size_t
writeInSegments(const std::string& reply, std::uint64_t segmentSize,
                const std::function<bool(const char* data, std::size_t size)>& writePiece)
{
    const std::uint64_t piece = std::max<std::uint64_t>(segmentSize, 1);
    std::size_t offset = 0;
    while (offset < reply.size()) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(piece, reply.size() - offset));
        if (!writePiece(reply.data() + offset, length))
            break;
        offset += length;
    }
    return offset;
}

} // namespace roamnode
