#include "platform/plist/PlistValue.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace platform::plist {

namespace {

float narrow(double d) {
    // Out-of-range double to float conversion is undefined, so saturate by hand.
    if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) {
        return d > 0 ? std::numeric_limits<float>::infinity()
                     : -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(d);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t skipDigits(std::string_view s, std::size_t i) {
    while (i < s.size() && isDigit(s[i])) {
        ++i;
    }
    return i;
}

// Length of the decimal number at the start of s: digits, an optional fraction and exponent.
// Words such as "inf" or "nan" and hex forms are not numbers here, as for a number object.
std::size_t numberLength(std::string_view s) {
    std::size_t i = skipDigits(s, 0);
    bool hasDigits = i > 0;
    if (i < s.size() && s[i] == '.') {
        std::size_t end = skipDigits(s, i + 1);
        hasDigits = hasDigits || end > i + 1;
        i = end;
    }
    if (!hasDigits) {
        return 0;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            ++j;
        }
        std::size_t end = skipDigits(s, j);
        if (end > j) {
            i = end;
        }
    }
    return i;
}

std::optional<float> leadingNumber(std::string_view s) {
    std::size_t start = s.find_first_not_of(" \t\n\r\f\v");
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    s.remove_prefix(start);
    bool negative = s.front() == '-';
    if (negative || s.front() == '+') {
        s.remove_prefix(1);
    }
    std::string_view number = s.substr(0, numberLength(s));
    if (number.empty()) {
        return std::nullopt;
    }
    float value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) {
        bool tiny = number.find("e-") != std::string_view::npos ||
                    number.find("E-") != std::string_view::npos;
        value = tiny ? 0.0f : std::numeric_limits<float>::infinity();
    }
    return negative ? -value : value;
}

} // namespace

std::optional<float> Value::floatValue() const {
    if (const bool* b = get<bool>()) {
        return *b ? 1.0f : 0.0f;
    }
    if (const std::int64_t* i = get<std::int64_t>()) {
        return static_cast<float>(*i);
    }
    if (const double* d = get<double>()) {
        return narrow(*d);
    }
    if (const std::string* s = get<std::string>()) {
        return leadingNumber(*s);
    }
    return std::nullopt;
}

} // namespace platform::plist
