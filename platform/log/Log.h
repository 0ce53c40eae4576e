#pragma once

namespace platform::log {

// Writes one line to standard error in the system log's shape:
// "2026-12-06 20:13:50.123 Name[pid:tid] message". The desktop session keeps it in the journal.
void nslog(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace platform::log
