#include "log/LogMessage.h"

#include "bus/JsonText.h"

namespace roamnode::log {
namespace {

const char kEllipsis[] = "\xE2\x80\xA6";
const char kReplacement[] = "\xEF\xBF\xBD";

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

} // namespace

std::string cutMessage(std::string message)
{
    if (message.size() <= kMaxMessageBytes)
        return message;
    // Back over at most three continuation bytes: a UTF-8 character has at most four bytes, and
    // text that is not UTF-8 at all is cut where the bound is.
    std::size_t cut = kMaxMessageBytes;
    for (int step = 0;
         step < 3 && cut > 0 && isContinuation(static_cast<unsigned char>(message[cut])); ++step)
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
        if (const std::size_t length = roamnode::utf8SequenceLength(text, pos)) {
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
