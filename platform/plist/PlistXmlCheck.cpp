#include "platform/plist/PlistFile.h"
#include "platform/plist/PlistInputCheck.h"
#include "platform/text/Utf8.h"

#include <cstdint>

namespace platform::plist::detail {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Finds token from pos; with quotes, text between double quotes is passed over as libplist does
// inside tags, processing instructions and the document type.
std::size_t findToken(std::string_view x, std::size_t pos, std::string_view token, bool quotes) {
    while (pos < x.size()) {
        if (x.substr(pos).starts_with(token)) {
            return pos;
        }
        if (quotes && x[pos] == '"') {
            pos = x.find('"', pos + 1);
            if (pos == npos) {
                return npos;
            }
        }
        ++pos;
    }
    return npos;
}

std::size_t findAnyOf(std::string_view x, std::size_t pos, std::string_view chars) {
    while (pos < x.size() && chars.find(x[pos]) == npos) {
        if (x[pos] == '"') {
            pos = x.find('"', pos + 1);
            if (pos == npos) {
                return npos;
            }
        }
        ++pos;
    }
    return pos < x.size() ? pos : npos;
}

std::size_t skipDoctype(std::string_view x, std::size_t at) {
    std::size_t pos = findAnyOf(x, at + 9, "[>");
    if (pos == npos || x[pos] == '>') {
        return pos == npos ? npos : pos + 1;
    }
    pos = findToken(x, pos, "]>", true);
    return pos == npos ? npos : pos + 2;
}

// Where the comment, CDATA section, processing instruction or document type starting at `at`
// ends; npos when it never ends or is some other kind that libplist refuses.
std::size_t skipDeclaration(std::string_view x, std::size_t at) {
    std::string_view rest = x.substr(at + 1);
    std::size_t end = npos;
    if (rest.starts_with("!--")) {
        end = x.find("-->", at + 4);
        return end == npos ? npos : end + 3;
    }
    if (rest.starts_with("![CDATA[")) {
        end = x.find("]]>", at + 9);
        return end == npos ? npos : end + 3;
    }
    if (rest.starts_with("?")) {
        end = findToken(x, at + 1, "?>", true);
        return end == npos ? npos : end + 2;
    }
    if (rest.starts_with("!DOCTYPE")) {
        return skipDoctype(x, at);
    }
    return npos;
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
        return (c | 0x20) - 'a' + 10;
    }
    return 99;
}

// Whether an integer as libplist reads it (a sign, then decimal, 0x hex or 0 octal digits up to
// the first other character) is one it holds: a negative one down to INT64_MIN, a positive one
// up to UINT64_MAX. Beyond, libplist keeps a wrapped or saturated number.
bool fitsSixtyFourBits(std::string_view text) {
    bool negative = text.starts_with('-');
    text.remove_prefix(negative || text.starts_with('+') ? 1 : 0);
    unsigned base = 10;
    if (text.size() > 1 && text[0] == '0' && (text[1] | 0x20) == 'x') {
        base = 16;
        text.remove_prefix(2);
    } else if (text.starts_with('0')) {
        base = 8;
    }
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : UINT64_MAX;
    std::uint64_t value = 0;
    for (char c : text) {
        auto digit = static_cast<unsigned>(digitValue(c));
        if (digit >= base) {
            break;
        }
        if (value > (limit - digit) / base) {
            return false;
        }
        value = value * base + digit;
    }
    return true;
}

// Follows tag nesting from each '<' the way libplist's reader finds them.
class NestingScan {
public:
    NestingScan(std::string_view x, std::vector<OversizedInteger>* oversized)
        : x_(x), oversized_(oversized) {}

    bool run() {
        std::size_t pos = 0;
        while ((pos = x_.find('<', pos)) != npos) {
            bool declaration = pos + 1 < x_.size() && (x_[pos + 1] == '!' || x_[pos + 1] == '?');
            pos = declaration ? skipDeclaration(x_, pos) : tag(pos);
            if (pos == npos) {
                return false;
            }
        }
        return true;
    }

private:
    std::size_t tag(std::size_t at) {
        std::size_t nameEnd = x_.find_first_of(" \r\n\t<>", at + 1);
        if (nameEnd == npos) {
            return npos;
        }
        std::size_t close = x_[nameEnd] == '>' ? nameEnd : findAnyOf(x_, nameEnd, "<>");
        if (close == npos || x_[close] != '>') {
            return npos;
        }
        std::string_view name = x_.substr(at + 1, nameEnd - at - 1);
        bool empty = x_[close - 1] == '/';
        if (name == "/dict" || name == "/array") {
            depth_ = depth_ > 0 ? depth_ - 1 : 0;
        } else if ((name == "dict" || name == "array") && !empty && ++depth_ > kMaxDepth) {
            return npos;
        } else if (name == "integer" && !empty && oversized_) {
            noteOversized(at, close + 1);
        }
        return close + 1;
    }

    void noteOversized(std::size_t at, std::size_t contentStart) {
        static constexpr std::string_view kEndTag = "</integer>";
        std::size_t contentEnd = x_.find('<', contentStart);
        if (contentEnd == npos || !x_.substr(contentEnd).starts_with(kEndTag)) {
            return;
        }
        std::string_view content = x_.substr(contentStart, contentEnd - contentStart);
        std::size_t first = content.find_first_not_of(" \t\r\n");
        if (first == npos) {
            return;
        }
        std::string_view digits = content.substr(first, content.find_last_not_of(" \t\r\n") + 1 - first);
        if (!fitsSixtyFourBits(digits)) {
            oversized_->push_back({at, contentEnd + kEndTag.size(), std::string(digits)});
        }
    }

    std::string_view x_;
    std::vector<OversizedInteger>* oversized_;
    int depth_ = 0;
};

// Length of the UTF-8 sequence at s[i] if it encodes a character XML allows, else 0.
std::size_t utf8Length(std::string_view s, std::size_t i) {
    std::optional<text::CodePoint> c = text::decodeUtf8(s, i);
    return c && c->value != 0xFFFE && c->value != 0xFFFF ? c->length : 0;
}

} // namespace

bool isSafeXml(std::string_view bytes, std::vector<OversizedInteger>* oversized) {
    return bytes.find('\0') == npos && NestingScan(bytes, oversized).run();
}

bool isXmlText(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        auto c = static_cast<std::uint8_t>(text[i]);
        if (c >= 0x80) {
            std::size_t length = utf8Length(text, i);
            if (length == 0) {
                return false;
            }
            i += length;
            continue;
        }
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            return false;
        }
        ++i;
    }
    return true;
}

} // namespace platform::plist::detail
