#include "LogMessage.h"

namespace roamnode::log {
namespace {

const char kEllipsis[] = "\xE2\x80\xA6";
const char kReplacement[] = "\xEF\xBF\xBD";

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at text[pos], or 0 when the byte there does not
// start one (overlong forms, surrogates and values past U+10FFFF included).
std::size_t sequenceLength(const std::string& text, std::size_t pos)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char secondMin = 0x80, secondMax = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            secondMin = 0xA0;
        else if (lead == 0xED)
            secondMax = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            secondMin = 0x90;
        else if (lead == 0xF4)
            secondMax = 0x8F;
    } else {
        return 0;
    }
    if (pos + length > text.size() || byte(1) < secondMin || byte(1) > secondMax)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!isContinuation(byte(i)))
            return 0;
    return length;
}

} // namespace

std::string cutMessage(std::string message)
{
    if (message.size() <= kMaxMessageBytes)
        return message;
    // Back over at most three continuation bytes: a UTF-8 character has at most four bytes, and
    // text that is not UTF-8 at all is cut where the bound is.
    std::size_t cut = kMaxMessageBytes;
    for (int step = 0; step < 3 && cut > 0 &&
                       isContinuation(static_cast<unsigned char>(message[cut]));
         ++step)
        --cut;
    if (isContinuation(static_cast<unsigned char>(message[cut])))
        cut = kMaxMessageBytes;
    message.resize(cut);
    message += kEllipsis;
    return message;
}

std::string validUtf8(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        if (const std::size_t length = sequenceLength(text, pos)) {
            out.append(text, pos, length);
            pos += length;
        } else {
            out += kReplacement;
            ++pos;
        }
    }
    return out;
}

} // namespace roamnode::log
