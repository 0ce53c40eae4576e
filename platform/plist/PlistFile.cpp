#include "platform/plist/PlistFile.h"

#include "platform/fs/FileManager.h"
#include "platform/plist/PlistInputCheck.h"
#include "platform/plist/PlistNodes.h"

#include <locale.h>

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

// libplist reads numbers with C string functions: the bytes must end in a NUL, as those of a
// std::string do, to keep them in bounds.
std::optional<Value> parseTerminated(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > kMaxFileSize) {
        return std::nullopt;
    }
    bool binary = detail::looksBinary(bytes);
    if (binary ? !detail::isSafeBinary(bytes) : !detail::isSafeXml(bytes)) {
        return std::nullopt;
    }
    auto size = static_cast<std::uint32_t>(bytes.size());
    CNumericLocale numeric;
    plist_t raw = nullptr;
    if (binary) {
        plist_from_bin(bytes.c_str(), size, &raw);
    } else {
        plist_from_xml(bytes.c_str(), size, &raw);
    }
    detail::NodePtr root(raw);
    return root ? detail::fromNode(root.get()) : std::nullopt;
}

} // namespace

std::optional<Value> parse(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > kMaxFileSize) {
        return std::nullopt;
    }
    return parseTerminated(std::string(bytes));
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

std::optional<Value> readFile(const fs::FileDescriptor& file) {
    // The cap is checked on the bytes themselves: the file may still grow while it is read.
    std::optional<std::string> bytes =
        file.valid() ? fs::readToEnd(file.get(), kMaxFileSize) : std::nullopt;
    // Parsed where it was read: no second copy of up to the cap.
    return bytes ? parseTerminated(*bytes) : std::nullopt;
}

std::optional<Value> readFile(const std::string& path) {
    return readFile(fs::openRegularFile(path));
}

std::optional<Dictionary> readDictionary(const fs::FileDescriptor& file) {
    std::optional<Value> value = readFile(file);
    if (!value || !value->is<Dictionary>()) {
        return std::nullopt;
    }
    return std::move(*value->get<Dictionary>());
}

std::optional<Dictionary> readDictionary(const std::string& path) {
    return readDictionary(fs::openRegularFile(path));
}

std::optional<Value> valueForKey(std::optional<Dictionary> table, const std::string& key) {
    if (!table) {
        return std::nullopt;
    }
    auto found = table->find(key);
    if (found == table->end()) {
        return std::nullopt;
    }
    return std::move(found->second);
}

std::optional<Value> readValue(const std::string& path, const std::string& key) {
    return valueForKey(readDictionary(path), key);
}

bool writeXmlAtomically(const std::string& path, const Value& root) {
    std::optional<std::string> xml = toXml(root);
    return xml && fs::writeFileAtomically(path, *xml);
}

} // namespace platform::plist
