#pragma once

#include "platform/fs/FileDescriptor.h"

#include <string>
#include <sys/types.h>

namespace platform::fs {

// A hidden temporary file next to a target (".<name>.XXXXXX") that holds the target's next
// version until it is renamed or linked into place; removed again unless it was renamed away.
// A writer that is killed first cannot remove it, so each new one removes those of writers
// that are gone. A living writer holds an flock on its file from before it uses it until it
// ends, which is how the two are told apart; a file of ours no lock is held on is a leftover.
class TempFile {
public:
    TempFile(const std::string& folder, const std::string& name);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool valid() const { return !path_.empty(); }
    int fd() const { return file_.get(); }
    const std::string& path() const { return path_; }
    void renamedAway() { path_.clear(); }

    // Gives the file its mode and flushes it to disk; the lock stays until the object ends.
    bool finish(mode_t mode);

private:
    std::string path_;
    FileDescriptor file_;
    // The same open file once more: it keeps the lock after file_ is closed.
    FileDescriptor lock_;
};

} // namespace platform::fs
