#pragma once

#include <chrono>
#include <sys/types.h>

namespace platform::process {

// Whether any thread of the process still runs. A program whose main thread has ended shows as
// a zombie while its other threads are still being torn down, and the files they share (its
// instance lock among them) stay open until the last one is gone.
bool processIsAlive(pid_t pid);

// Polls until no thread of the process runs, or the deadline passes; true when it ended.
bool waitUntilEnded(pid_t pid, std::chrono::milliseconds deadline);

} // namespace platform::process
