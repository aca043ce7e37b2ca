#pragma once

#include "log/LogEntries.h"
#include "log/PXLogEntry.h"

#include <cstddef>
#include <iosfwd>
#include <string>

namespace roamnode::log {

// "pxlog.txt": `level;milliseconds;message;` per entry, no line breaks. A ';' or '\' inside a
// message is written as "\;" or "\\" so that loading gives the same entries back; files written
// before that rule (no such characters) read the same.
void writeLogFile(std::ostream& out, const EntryList& entries);

// The bytes writeLogFile writes for the entry.
std::size_t encodedSize(const PXLogEntry& entry);

// Streams a log file into `entries` field by field, never holding more than one field (itself
// bounded) besides what `entries` keeps, so a file of any size loads in bounded memory and time.
// Whatever does not read as level (0 to 4), milliseconds and message is skipped one field at a
// time until the fields make an entry again; messages longer than the bound are cut; a last field
// without its ';' (a cut-off write) is dropped. Returns the number of entries read.
std::size_t readLogFile(std::istream& in, LogEntries& entries);

// The answer to a "logfile" read: [{"timestamp": ns, "message": "...", "level": "name"}, ...],
// valid JSON and valid UTF-8 whatever the messages hold.
std::string logJson(const EntryList& entries);

} // namespace roamnode::log
