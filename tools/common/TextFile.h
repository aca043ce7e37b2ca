#pragma once

#include <string>

namespace roamnode::tools {

// The whole file; false when it cannot be read.
bool readTextFile(const std::string& path, std::string& text);

// Writes through PATH.part and a rename: a reader (the archive's retry, a crash in between)
// sees the whole file or none of it.
bool writeFileAtomically(const std::string& path, const std::string& content);

} // namespace roamnode::tools
