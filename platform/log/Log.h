#pragma once

#include <string>

namespace platform::log {

// Writes one line to standard error in the system log's shape:
// "2026-12-06 20:13:50.123 Name[pid:tid] message". The desktop session keeps it in the journal.
void nslog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text with every byte that is not printable ASCII shown as "?", for text from elsewhere
// (a server's answer, an output type that could not be read) that goes into a log line.
std::string printable(const std::string& text);

} // namespace platform::log
