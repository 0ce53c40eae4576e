#include "platform/plist/PlistFile.h"

#include "platform/fs/FileManager.h"
#include "platform/plist/PlistInputCheck.h"
#include "platform/plist/PlistNodes.h"

#include <cerrno>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::plist {

namespace {

// libplist reads and prints reals with the C library, which follows the locale: under a user
// locale with a decimal comma "0.5" would read as 0. The C locale for this thread only, for the
// duration of one call, keeps numbers portable without touching other threads.
class CNumericLocale {
public:
    CNumericLocale() : previous_(cLocale() ? uselocale(cLocale()) : nullptr) {}
    ~CNumericLocale() {
        if (previous_) {
            uselocale(previous_);
        }
    }
    CNumericLocale(const CNumericLocale&) = delete;
    CNumericLocale& operator=(const CNumericLocale&) = delete;

private:
    static locale_t cLocale() {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
        return c;
    }
    locale_t previous_;
};

struct XmlDeleter {
    void operator()(char* p) const { plist_to_xml_free(p); }
};

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool isSmallRegularFile(const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_size >= 0 &&
           static_cast<std::size_t>(st.st_size) <= kMaxFileSize;
}

// The file may still grow while it is read, so the cap is checked on the bytes themselves too.
std::optional<std::string> readAll(int fd) {
    std::string bytes;
    char buffer[64 * 1024];
    while (bytes.size() <= kMaxFileSize) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) {
            return bytes;
        }
        if (n < 0 && errno != EINTR) {
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
    }
    return std::nullopt;
}

// stat first so that devices and FIFOs are never opened; fstat after open in case the path
// was swapped in between. O_NONBLOCK keeps a FIFO swapped in from blocking the open.
std::optional<std::string> readRegularFile(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !isSmallRegularFile(st)) {
        return std::nullopt;
    }
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0 || fstat(file.get(), &st) != 0 || !isSmallRegularFile(st)) {
        return std::nullopt;
    }
    return readAll(file.get());
}

} // namespace

std::optional<Value> parse(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > kMaxFileSize) {
        return std::nullopt;
    }
    bool binary = detail::looksBinary(bytes);
    if (binary ? !detail::isSafeBinary(bytes) : !detail::isSafeXml(bytes)) {
        return std::nullopt;
    }
    // libplist reads numbers with C string functions; a terminated copy keeps them in bounds.
    const std::string terminated(bytes);
    auto size = static_cast<std::uint32_t>(terminated.size());
    CNumericLocale numeric;
    plist_t raw = nullptr;
    if (binary) {
        plist_from_bin(terminated.data(), size, &raw);
    } else {
        plist_from_xml(terminated.data(), size, &raw);
    }
    detail::NodePtr root(raw);
    return root ? detail::fromNode(root.get()) : std::nullopt;
}

std::optional<std::string> toXml(const Value& root) {
    detail::NodePtr node = detail::toNode(root);
    if (!node) {
        return std::nullopt;
    }
    CNumericLocale numeric;
    char* raw = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(node.get(), &raw, &length);
    std::unique_ptr<char, XmlDeleter> xml(raw);
    if (!xml) {
        return std::nullopt;
    }
    return std::string(xml.get(), length);
}

std::optional<Value> readFile(const std::string& path) {
    std::optional<std::string> bytes = readRegularFile(path);
    return bytes ? parse(*bytes) : std::nullopt;
}

std::optional<Dictionary> readDictionary(const std::string& path) {
    std::optional<Value> value = readFile(path);
    if (!value || !value->is<Dictionary>()) {
        return std::nullopt;
    }
    return std::move(*value->get<Dictionary>());
}

bool writeXmlAtomically(const std::string& path, const Value& root) {
    std::optional<std::string> xml = toXml(root);
    return xml && fs::writeFileAtomically(path, *xml);
}

} // namespace platform::plist
