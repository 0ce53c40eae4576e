#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace platform::text {

struct CodePoint {
    char32_t value;
    std::size_t length; // of its UTF-8 sequence, in bytes
};

// The character whose UTF-8 sequence starts at text[at], as a UTF-8 decoder takes it; nullopt
// for a stray or missing continuation byte, an overlong form, a surrogate or anything above
// U+10FFFF.
std::optional<CodePoint> decodeUtf8(std::string_view text, std::size_t at);

// Whether all of the text decodes.
bool isUtf8(std::string_view text);

} // namespace platform::text
