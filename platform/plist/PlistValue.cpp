#include "platform/plist/PlistValue.h"

#include <algorithm>
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

// Whether a decimal number too far from 1 for a float is too large rather than too small: its
// first significant digit, once the exponent is applied, stands left of the point.
bool isTooLarge(std::string_view number) {
    std::size_t exponentAt = number.find_first_of("eE");
    std::string_view mantissa = number.substr(0, exponentAt);
    std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) {
        return false;
    }
    // The power of ten of the first significant digit.
    long long power = first < point ? static_cast<long long>(point - first) - 1
                                    : -static_cast<long long>(first - point);
    if (exponentAt != std::string_view::npos) {
        std::string_view exponent = number.substr(exponentAt + 1);
        bool negative = exponent.starts_with('-');
        exponent.remove_prefix(exponent.starts_with('-') || exponent.starts_with('+') ? 1 : 0);
        // Digits past any float's range change nothing; the cap keeps the sum in range.
        long long value = 0;
        for (char c : exponent) {
            value = std::min(value * 10 + (c - '0'), 1'000'000'000LL);
        }
        power += negative ? -value : value;
    }
    return power >= 0;
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
        value = isTooLarge(number) ? std::numeric_limits<float>::infinity() : 0.0f;
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
    if (const std::uint64_t* u = get<std::uint64_t>()) {
        return static_cast<float>(*u);
    }
    if (const LargeInteger* large = get<LargeInteger>()) {
        float infinity = std::numeric_limits<float>::infinity();
        return large->digits.starts_with('-') ? -infinity : infinity;
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
