#include "platform/plist/PlistFile.h"

#include "platform/fs/FileManager.h"
#include "platform/log/Log.h"
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

// The XML with each oversized integer element replaced by a string stand-in, whose place its
// digits take again once libplist has read the rest.
std::string withStandIns(std::string_view xml, const std::vector<detail::OversizedInteger>& found,
                         std::vector<std::string>& digits) {
    std::string result;
    std::size_t copied = 0;
    for (const detail::OversizedInteger& integer : found) {
        result.append(xml.substr(copied, integer.begin - copied));
        result += "<string>" + detail::standInFor(digits.size()) + "</string>";
        digits.push_back(integer.digits);
        copied = integer.end;
    }
    result.append(xml.substr(copied));
    return result;
}

// Puts the exact elements in the stand-ins' places, and writes carriage returns as references:
// XML readers turn a raw one into a line feed.
std::string withExactElements(std::string_view xml, const std::vector<std::string>& exact) {
    std::string result;
    result.reserve(xml.size());
    for (std::size_t i = 0; i < xml.size(); ++i) {
        static constexpr std::string_view kOpen = "<string>";
        static constexpr std::string_view kClose = "</string>";
        if (xml[i] == '\r') {
            result += "&#13;";
        } else if (xml.substr(i).starts_with(kOpen) && i + kOpen.size() < xml.size() &&
                   xml[i + kOpen.size()] == detail::kStandInMark) {
            std::size_t close = xml.find(kClose, i);
            std::string_view standIn = xml.substr(i + kOpen.size(), close - i - kOpen.size());
            result += exact.at(detail::standInIndex(standIn).value());
            i = close + kClose.size() - 1;
        } else {
            result += xml[i];
        }
    }
    return result;
}

// libplist reads numbers with C string functions: the bytes must end in a NUL, as those of a
// std::string do, to keep them in bounds.
std::optional<Value> parseTerminated(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > kMaxFileSize) {
        return std::nullopt;
    }
    bool binary = detail::looksBinary(bytes);
    std::vector<detail::OversizedInteger> oversized;
    if (binary ? !detail::isSafeBinary(bytes) : !detail::isSafeXml(bytes, &oversized)) {
        return std::nullopt;
    }
    std::vector<std::string> oversizedDigits;
    const std::string withoutOversized =
        oversized.empty() ? std::string() : withStandIns(bytes, oversized, oversizedDigits);
    const std::string& terminated = oversized.empty() ? bytes : withoutOversized;
    auto size = static_cast<std::uint32_t>(terminated.size());
    CNumericLocale numeric;
    plist_t raw = nullptr;
    if (binary) {
        plist_from_bin(terminated.c_str(), size, &raw);
    } else {
        plist_from_xml(terminated.c_str(), size, &raw);
    }
    detail::NodePtr root(raw);
    return root ? detail::fromNode(root.get(), oversizedDigits) : std::nullopt;
}

} // namespace

std::optional<Value> parse(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > kMaxFileSize) {
        return std::nullopt;
    }
    return parseTerminated(std::string(bytes));
}

std::optional<std::string> toXml(const Value& root) {
    std::vector<std::string> exactElements;
    detail::NodePtr node = detail::toNode(root, exactElements);
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
    // A file we would refuse to read is no file to write: a small binary list of shared objects
    // can grow past the cap once written out in full.
    if (length > kMaxFileSize) {
        return std::nullopt;
    }
    return withExactElements(std::string_view(xml.get(), length), exactElements);
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
    if (!xml) {
        log::nslog("%s not written: it holds a key or value that XML cannot carry, or would "
                   "be larger than 4 MiB",
                   log::printable(path).c_str());
        return false;
    }
    return fs::writeFileAtomically(path, *xml);
}

} // namespace platform::plist
