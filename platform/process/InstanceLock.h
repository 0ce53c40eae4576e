#pragma once

#include "platform/fs/FileDescriptor.h"

#include <optional>
#include <string>

namespace platform::process {

// The lock that tells whether an application runs: an flock on
// $XDG_RUNTIME_DIR/<bundle identifier>.lock, held by the running program for its whole life
// and released by the kernel when it ends, however it ends. Unlike a look at the process
// names it cannot be fooled by another program of the same name, nor race with a start.
class InstanceLock {
public:
    enum class State {
        Taken,         // this object holds it
        HeldElsewhere, // another open of the file holds it
        Unavailable,   // no runtime folder, an identifier that is no file name, or an I/O error
    };

    // Tries once, without waiting.
    explicit InstanceLock(const std::string& identifier);
    // Closing the descriptor, as the object ends, gives the lock back, unless a child has
    // inherited it.

    State state() const { return state_; }
    int fd() const { return fd_.get(); }

    // Whether another descriptor of this process holds the lock: one handed down by the
    // launcher that started us while it held it. That one is then made close-on-exec, so that
    // our own children do not keep the lock after we end.
    bool adoptInherited() const;

    // Keeps the descriptor open for the rest of the process.
    void keepForLife();

    static std::optional<std::string> pathFor(const std::string& identifier);

private:
    fs::FileDescriptor fd_;
    State state_ = State::Unavailable;
};

// For a program at its start: takes its bundle's lock, or keeps the one its launcher handed
// down. False when another copy of the program holds it: the caller then ends. A program
// without a bundle identifier, or a session without a runtime folder, runs unguarded.
bool claimSingleInstance();

} // namespace platform::process
