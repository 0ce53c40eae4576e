#include "platform/text/Utf8.h"

namespace platform::text {

std::optional<CodePoint> decodeUtf8(std::string_view text, std::size_t at) {
    auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        return CodePoint{lead, 1};
    }
    std::size_t length = (lead & 0xE0) == 0xC0   ? 2
                         : (lead & 0xF0) == 0xE0 ? 3
                         : (lead & 0xF8) == 0xF0 ? 4
                                                 : 0;
    if (length == 0 || at + length > text.size()) {
        return std::nullopt;
    }
    char32_t code = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        code = (code << 6) | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return std::nullopt;
    }
    return CodePoint{code, length};
}

bool isUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        std::optional<CodePoint> next = decodeUtf8(text, at);
        if (!next) {
            return false;
        }
        at += next->length;
    }
    return true;
}

} // namespace platform::text
