#pragma once

#include "PXLogEntry.h"

#include <memory>
#include <string>
#include <vector>

namespace roamnode::log {

using EntryList = std::vector<std::shared_ptr<PXLogEntry>>;

// "pxlog.txt": `level;milliseconds;message;` per entry, no line breaks. A ';' or '\' inside a
// message is written as "\;" or "\\" so that loading gives the same entries back; files written
// before that rule (no such characters) read the same.
std::string encodeLogFile(const EntryList& entries);
EntryList decodeLogFile(const std::string& text);

// The answer to a "logfile" read: [{"timestamp": ns, "message": "...", "level": "name"}, ...].
std::string logJson(const EntryList& entries);

} // namespace roamnode::log
