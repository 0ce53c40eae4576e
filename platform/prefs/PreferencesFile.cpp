#include "platform/prefs/PreferencesFile.h"

#include "platform/fs/FileManager.h"
#include "platform/fs/FolderLock.h"
#include "platform/log/Log.h"
#include "platform/plist/PlistFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform::prefs {

namespace {

// Writers of ours take turns, so the file changes under a writer only when something that
// takes no lock replaces it; we then read it again, but not for ever.
constexpr int kAttempts = 10;

// A second name for the file that is open. AT_EMPTY_PATH needs a privilege most users lack;
// /proc gives everybody the same.
bool linkOpenFile(const fs::FileDescriptor& file, const std::string& to) {
    if (linkat(file.get(), "", AT_FDCWD, to.c_str(), AT_EMPTY_PATH) == 0) {
        return true;
    }
    std::string self = "/proc/self/fd/" + std::to_string(file.get());
    return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Renames without replacing anything that is already at the target.
bool renameWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // The file system has no such rename; the folder lock keeps other writers of ours out.
    if (fs::exists(to)) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

} // namespace

struct PreferencesFile::Snapshot {
    // What was read: the open file, and which file it is; neither when nothing was there or
    // it is no regular file.
    fs::FileDescriptor file;
    std::optional<fs::FileIdentity> identity;
    // nullopt when something is there that cannot be read.
    std::optional<plist::Dictionary> values;
};

PreferencesFile::PreferencesFile(std::string path, mode_t folderMode)
    : path_(std::move(path)), folder_(fs::parentOf(path_)), folderMode_(folderMode) {}

std::optional<plist::Dictionary> PreferencesFile::read() const {
    if (!fs::exists(path_)) {
        return plist::Dictionary{};
    }
    return plist::readDictionary(path_);
}

// The file is opened once and read from that descriptor, so what is moved aside, and what the
// new file may replace, is exactly the file that was read.
PreferencesFile::Snapshot PreferencesFile::snapshot() const {
    Snapshot current;
    if (!fs::exists(path_)) {
        current.values.emplace();
        return current;
    }
    current.file = fs::openRegularFile(path_);
    current.identity = current.file.identity();
    current.values = plist::readDictionary(current.file);
    return current;
}

bool PreferencesFile::update(const Edit& edit) const {
    if (!fs::createDirectories(folder_, folderMode_)) {
        return false;
    }
    fs::FolderLock lock(folder_);
    if (!lock.held()) {
        log::nslog("cannot lock the preferences folder %s: %s", folder_.c_str(),
                   std::strerror(errno));
        return false;
    }
    // An unreadable file that was put aside on an earlier attempt needs no second name.
    std::optional<fs::FileIdentity> putAside;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        Step step = updateOnce(edit, putAside);
        if (step != Step::Again) {
            return step == Step::Done;
        }
    }
    log::nslog("preferences file %s kept changing while it was saved; not saved", path_.c_str());
    return false;
}

PreferencesFile::Step PreferencesFile::updateOnce(const Edit& edit,
                                                  std::optional<fs::FileIdentity>& putAside) const {
    Snapshot current = snapshot();
    plist::Dictionary values = current.values.value_or(plist::Dictionary{});
    if (!edit(values)) {
        return Step::Failed;
    }
    std::optional<std::string> xml = plist::toXml(values);
    if (!xml) {
        log::nslog("preferences file %s holds a key or value that XML cannot carry, or would be "
                   "larger than 4 MiB; not saved",
                   log::printable(path_).c_str());
        return Step::Failed;
    }
    if (!current.values && !(current.identity && current.identity == putAside)) {
        std::optional<fs::FileIdentity> read = current.identity;
        Step aside = moveAside(current);
        if (aside != Step::Done) {
            return aside;
        }
        putAside = read;
    }
    switch (fs::writeFileAtomicallyIfUnchanged(path_, *xml, current.identity)) {
    case fs::WriteOutcome::Written:
        return Step::Done;
    case fs::WriteOutcome::Changed:
        return Step::Again;
    case fs::WriteOutcome::Failed:
        log::nslog("preferences file %s could not be written: %s; not saved",
                   log::printable(path_).c_str(), std::strerror(errno));
        break;
    }
    return Step::Failed;
}

PreferencesFile::Step PreferencesFile::moveAside(Snapshot& unreadable) const {
    // Old names never stop a save: the first free one is taken, however many there are.
    for (unsigned long n = 0;; ++n) {
        std::string aside = path_ + (n == 0 ? "" : "." + std::to_string(n)) + ".corrupt";
        Step step = putAside(unreadable, aside);
        if (step == Step::Failed && errno == EEXIST) {
            continue;
        }
        if (step == Step::Failed) {
            log::nslog("preferences file %s could not be read nor moved aside (%s); left it as "
                       "it is",
                       path_.c_str(), std::strerror(errno));
        } else if (step == Step::Done) {
            log::nslog("preferences file %s could not be read; moved it aside to %s", path_.c_str(),
                       aside.c_str());
        }
        return step;
    }
}

// The file that was read gets the second name, and the path keeps it until the new file
// replaces it. Where no hard link can be made (some file systems), or what is there is no
// regular file, the path itself is renamed once it is seen to name what was read; something
// put there in the instant between that look and the rename would be moved aside with it.
PreferencesFile::Step PreferencesFile::putAside(Snapshot& unreadable,
                                                const std::string& aside) const {
    if (unreadable.file.valid()) {
        if (linkOpenFile(unreadable.file, aside)) {
            return Step::Done;
        }
        if (errno == EEXIST) {
            return Step::Failed;
        }
        if (fs::identityAt(path_) != unreadable.identity) {
            return Step::Again;
        }
    }
    if (!renameWithoutReplacing(path_, aside)) {
        return errno == ENOENT ? Step::Again : Step::Failed;
    }
    unreadable.identity.reset();
    return Step::Done;
}

} // namespace platform::prefs
