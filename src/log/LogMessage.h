#pragma once

#include <cstddef>
#include <string>

namespace roamnode::log {

// A message keeps at most this many bytes: a hub that sets an 8 MiB description at "debug" must
// not put 8 MiB into the log, its file and every "logfile" answer.
constexpr std::size_t kMaxMessageBytes = 4096;

// The message cut to kMaxMessageBytes at a UTF-8 character boundary, with "…" appended when
// anything was cut; shorter messages come back unchanged.
std::string cutMessage(std::string message);

// The text with every byte that is not part of a well-formed UTF-8 sequence replaced by U+FFFD,
// so that what the hub reads is always valid UTF-8 whatever a value or the file contained.
std::string validUtf8(const std::string& text);

} // namespace roamnode::log
