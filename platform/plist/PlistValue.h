#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace platform::plist {

class Value;

using Dictionary = std::map<std::string, Value>;
using Array = std::vector<Value>;

struct Data {
    std::vector<std::uint8_t> bytes;
    bool operator==(const Data&) const = default;
};

// Seconds since 2001-01-01 00:00:00 UTC, as property lists count time.
struct Date {
    double seconds = 0;
    bool operator==(const Date&) const = default;
};

struct Uid {
    std::uint64_t value = 0;
    bool operator==(const Uid&) const = default;
};

// An integer that fits in no 64-bit form, as written ("-99999999999999999999"). Kept as text so
// that a table holding one is written back as it was.
struct LargeInteger {
    std::string digits;
    bool operator==(const LargeInteger&) const = default;
};

// One property-list value. Every kind a property list can hold has a place here, so a table
// read, changed in one key and written back keeps everything else as it was.
class Value {
public:
    // Integers above INT64_MAX are held unsigned; every other integer is signed.
    using Storage = std::variant<bool, std::int64_t, std::uint64_t, LargeInteger, double,
                                 std::string, Data, Date, Uid, Array, Dictionary>;

    Value() : storage_(Dictionary{}) {}
    Value(bool b) : storage_(b) {}
    Value(int i) : storage_(std::int64_t{i}) {}
    Value(std::int64_t i) : storage_(i) {}
    Value(std::uint64_t u) : storage_(fromUnsigned(u)) {}
    Value(LargeInteger i) : storage_(std::move(i)) {}
    Value(float f) : storage_(double{f}) {}
    Value(double d) : storage_(d) {}
    Value(const char* s) : storage_(std::string(s)) {}
    Value(std::string s) : storage_(std::move(s)) {}
    Value(Data d) : storage_(std::move(d)) {}
    Value(Date d) : storage_(d) {}
    Value(Uid u) : storage_(u) {}
    Value(Array a) : storage_(std::move(a)) {}
    Value(Dictionary d) : storage_(std::move(d)) {}

    const Storage& storage() const { return storage_; }

    template <typename T> bool is() const { return std::holds_alternative<T>(storage_); }
    template <typename T> const T* get() const { return std::get_if<T>(&storage_); }
    template <typename T> T* get() { return std::get_if<T>(&storage_); }

    // The value as a single-precision number: numbers and booleans as themselves, text by its
    // leading number ("0.5abc" → 0.5). Too large a number is infinite and too small a one zero,
    // each with its sign. Text without a number ("x", "") and anything else has none.
    std::optional<float> floatValue() const;

    bool operator==(const Value&) const = default;

private:
    static Storage fromUnsigned(std::uint64_t u) {
        constexpr auto kSignedMax = std::uint64_t{INT64_MAX};
        return u <= kSignedMax ? Storage(static_cast<std::int64_t>(u)) : Storage(u);
    }

    Storage storage_;
};

} // namespace platform::plist
