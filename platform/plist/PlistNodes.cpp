#include "platform/plist/PlistNodes.h"

#include "platform/plist/PlistFile.h"
#include "platform/plist/PlistInputCheck.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace platform::plist::detail {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Malloced = std::unique_ptr<T, FreeDeleter>;

struct BinDeleter {
    void operator()(char* p) const { plist_to_bin_free(p); }
};

// Years 1000 to 9999, the dates every reader accepts as four-digit years in XML.
constexpr double kFirstDate = -31588531200.0;
constexpr double kLastDate = 252423993599.0;
constexpr std::size_t kDateOffset = 9;

// libplist 2.2 passes dates as 32-bit seconds and microseconds, losing the sign of dates in
// the second before 2001 and everything past 2069. A one-object binary list carries the exact
// double both ways.
std::array<char, 50> dateBinary(double seconds) {
    std::array<char, 50> bin{};
    std::memcpy(bin.data(), "bplist00\x33", kDateOffset);
    auto bits = std::bit_cast<std::uint64_t>(seconds);
    for (int i = 0; i < 8; ++i) {
        bin[kDateOffset + i] = static_cast<char>(bits >> (56 - 8 * i));
    }
    bin[17] = 8;  // offset of the one object
    bin[24] = 1;  // offset size
    bin[25] = 1;  // reference size
    bin[33] = 1;  // object count
    bin[49] = 17; // offset table position
    return bin;
}

NodePtr dateNode(double seconds) {
    std::array<char, 50> bin = dateBinary(seconds);
    plist_t node = nullptr;
    plist_from_bin(bin.data(), bin.size(), &node);
    return NodePtr(node);
}

double dateSeconds(plist_t node) {
    char* raw = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(node, &raw, &length);
    std::unique_ptr<char, BinDeleter> bin(raw);
    if (!bin || length < kDateOffset + 8 || static_cast<std::uint8_t>(raw[8]) != 0x33) {
        std::int32_t seconds = 0;
        std::int32_t micros = 0;
        plist_get_date_val(node, &seconds, &micros);
        return seconds + micros / 1e6;
    }
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        bits = (bits << 8) | static_cast<std::uint8_t>(raw[kDateOffset + i]);
    }
    return std::bit_cast<double>(bits);
}

// Whether an integer node libplist read from 16 bytes: its unsigned form. The public API tells
// only through the binary writer, which keeps the width.
bool isUnsignedNode(plist_t node) {
    char* raw = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(node, &raw, &length);
    std::unique_ptr<char, BinDeleter> bin(raw);
    constexpr std::uint8_t kSixteenByteInteger = 0x14;
    return bin && length > 8 && static_cast<std::uint8_t>(raw[8]) == kSixteenByteInteger;
}

Value integerValue(plist_t node) {
    std::uint64_t number = 0;
    plist_get_uint_val(node, &number);
    if (number <= std::uint64_t{INT64_MAX} || isUnsignedNode(node)) {
        return Value(number);
    }
    return Value(static_cast<std::int64_t>(number));
}

// The reference dictionary libplist writes for a Uid; other readers turn it back into one too.
std::optional<Value> uidFromDictionary(const Dictionary& d) {
    if (d.size() != 1 || d.begin()->first != "CF$UID" || !d.begin()->second.is<std::int64_t>()) {
        return std::nullopt;
    }
    return Value(Uid{static_cast<std::uint64_t>(*d.begin()->second.get<std::int64_t>())});
}

std::optional<Value> scalarFromNode(plist_t node) {
    std::uint64_t number = 0;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return Value(b != 0);
    }
    case PLIST_UINT:
        return integerValue(node);
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return Value(d);
    }
    case PLIST_STRING: {
        const char* text = plist_get_string_ptr(node, &number);
        return Value(text ? std::string(text, number) : std::string());
    }
    case PLIST_DATA: {
        const char* bytes = plist_get_data_ptr(node, &number);
        Data data;
        if (bytes) {
            data.bytes.assign(bytes, bytes + number);
        }
        return Value(std::move(data));
    }
    case PLIST_DATE:
        return Value(Date{dateSeconds(node)});
    case PLIST_UID:
        plist_get_uid_val(node, &number);
        return Value(Uid{number});
    default:
        return std::nullopt;
    }
}

class TreeReader {
public:
    explicit TreeReader(const std::vector<std::string>& oversized) : oversized_(oversized) {}

    std::optional<Value> read(plist_t root) {
        std::optional<Value> value = fromNodeAt(root, 0);
        // A stand-in of the input's own would take an oversized integer's place.
        return standIns_ == oversized_.size() ? value : std::nullopt;
    }

private:
    std::optional<Value> fromNodeAt(plist_t node, int depth) {
        plist_type type = plist_get_node_type(node);
        if (type != PLIST_DICT && type != PLIST_ARRAY) {
            std::optional<Value> value = scalarFromNode(node);
            if (value) {
                value = restoreOversized(std::move(*value));
            }
            return value;
        }
        if (depth >= kMaxDepth) {
            return std::nullopt;
        }
        return type == PLIST_DICT ? dictionaryFromNode(node, depth + 1)
                                  : arrayFromNode(node, depth + 1);
    }

    Value restoreOversized(Value value) {
        const std::string* text = value.get<std::string>();
        std::optional<std::size_t> index =
            oversized_.empty() || !text ? std::nullopt : standInIndex(*text);
        if (!index) {
            return value;
        }
        ++standIns_;
        return *index < oversized_.size() ? Value(LargeInteger{oversized_[*index]}) : value;
    }

    std::optional<Value> dictionaryFromNode(plist_t node, int depth) {
        Dictionary result;
        plist_dict_iter rawIter = nullptr;
        plist_dict_new_iter(node, &rawIter);
        Malloced<void> iter(rawIter);
        for (std::uint32_t i = 0, n = plist_dict_get_size(node); i < n; ++i) {
            char* rawKey = nullptr;
            plist_t child = nullptr;
            // Keys are safe to read here: parse refused any input whose keys hold a NUL.
            plist_dict_next_item(node, iter.get(), &rawKey, &child);
            Malloced<char> key(rawKey);
            std::optional<Value> value = fromNodeAt(child, depth);
            if (!key || !value) {
                return std::nullopt;
            }
            result.insert_or_assign(key.get(), std::move(*value));
        }
        std::optional<Value> uid = uidFromDictionary(result);
        return uid ? uid : Value(std::move(result));
    }

    // Walked with an iterator: finding an item by its index walks the list up to it.
    std::optional<Value> arrayFromNode(plist_t node, int depth) {
        Array result;
        plist_array_iter rawIter = nullptr;
        plist_array_new_iter(node, &rawIter);
        Malloced<void> iter(rawIter);
        result.reserve(plist_array_get_size(node));
        for (std::uint32_t i = 0, n = plist_array_get_size(node); i < n; ++i) {
            plist_t item = nullptr;
            plist_array_next_item(node, iter.get(), &item);
            std::optional<Value> value = item ? fromNodeAt(item, depth) : std::nullopt;
            if (!value) {
                return std::nullopt;
            }
            result.push_back(std::move(*value));
        }
        return Value(std::move(result));
    }

    const std::vector<std::string>& oversized_;
    std::size_t standIns_ = 0;
};

// Text for a real that libplist's XML writer would change or cannot size safely: it writes -0.0
// as "0.0", and its size estimate converts reals to 64-bit integers.
std::optional<std::string> exactRealText(double d) {
    constexpr double kLargestSafe = 9.2e18;
    if (std::isnan(d)) {
        return "nan";
    }
    if (std::isinf(d)) {
        return d > 0 ? "+infinity" : "-infinity";
    }
    if (d == 0 && std::signbit(d)) {
        return "-0.0";
    }
    if (std::fabs(d) < kLargestSafe) {
        return std::nullopt;
    }
    std::array<char, 32> text{};
    auto [end, error] = std::to_chars(text.begin(), text.end(), d, std::chars_format::general, 17);
    return std::string(text.begin(), end);
}

bool isIntegerText(std::string_view digits) {
    digits.remove_prefix(digits.starts_with('-') || digits.starts_with('+') ? 1 : 0);
    return !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0;
    });
}

class TreeWriter {
public:
    explicit TreeWriter(std::vector<std::string>& exactElements) : exact_(exactElements) {}

    NodePtr toNodeAt(const Value& value, int depth) {
        return std::visit([this, depth](const auto& v) { return make(v, depth); },
                          value.storage());
    }

private:
    NodePtr standIn(std::string element) {
        exact_.push_back(std::move(element));
        return NodePtr(plist_new_string(standInFor(exact_.size() - 1).c_str()));
    }

    NodePtr make(bool b, int) { return NodePtr(plist_new_bool(b ? 1 : 0)); }
    NodePtr make(std::int64_t i, int) {
        // libplist's size estimate negates integers, which INT64_MIN does not survive.
        if (i == INT64_MIN) {
            return standIn("<integer>" + std::to_string(i) + "</integer>");
        }
        return NodePtr(plist_new_uint(static_cast<std::uint64_t>(i)));
    }
    NodePtr make(std::uint64_t u, int) {
        // libplist would write it signed.
        return standIn("<integer>" + std::to_string(u) + "</integer>");
    }
    NodePtr make(const LargeInteger& i, int) {
        return isIntegerText(i.digits) ? standIn("<integer>" + i.digits + "</integer>") : nullptr;
    }
    NodePtr make(double d, int) {
        std::optional<std::string> exact = exactRealText(d);
        return exact ? standIn("<real>" + *exact + "</real>") : NodePtr(plist_new_real(d));
    }
    NodePtr make(const std::string& s, int) {
        return isXmlText(s) ? NodePtr(plist_new_string(s.c_str())) : nullptr;
    }
    NodePtr make(const Data& d, int) {
        // libplist memcpy's the bytes, and memcpy from a null pointer is undefined even for
        // none: an empty vector's data() may be null.
        static const char kNoBytes = 0;
        const char* bytes =
            d.bytes.empty() ? &kNoBytes : reinterpret_cast<const char*>(d.bytes.data());
        return NodePtr(plist_new_data(bytes, d.bytes.size()));
    }
    NodePtr make(const Date& d, int) {
        bool writable = d.seconds >= kFirstDate && d.seconds <= kLastDate;
        return writable ? dateNode(d.seconds) : nullptr;
    }
    NodePtr make(const Uid& u, int) { return NodePtr(plist_new_uid(u.value)); }

    NodePtr make(const Array& a, int depth) {
        if (depth >= kMaxDepth) {
            return nullptr;
        }
        NodePtr node(plist_new_array());
        for (const Value& value : a) {
            NodePtr child = toNodeAt(value, depth + 1);
            if (!child) {
                return nullptr;
            }
            plist_array_append_item(node.get(), child.release());
        }
        return node;
    }

    NodePtr make(const Dictionary& d, int depth) {
        if (depth >= kMaxDepth) {
            return nullptr;
        }
        NodePtr node(plist_new_dict());
        for (const auto& [key, value] : d) {
            NodePtr child = toNodeAt(value, depth + 1);
            if (!child || !isXmlText(key)) {
                return nullptr;
            }
            plist_dict_set_item(node.get(), key.c_str(), child.release());
        }
        return node;
    }

    std::vector<std::string>& exact_;
};

} // namespace

std::string standInFor(std::size_t index) {
    return kStandInMark + std::to_string(index) + kStandInMark;
}

std::optional<std::size_t> standInIndex(std::string_view text) {
    if (text.size() < 3 || !text.starts_with(kStandInMark) || !text.ends_with(kStandInMark)) {
        return std::nullopt;
    }
    std::string_view digits = text.substr(1, text.size() - 2);
    std::size_t index = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (error != std::errc{} || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return index;
}

std::optional<Value> fromNode(plist_t node, const std::vector<std::string>& oversized) {
    return TreeReader(oversized).read(node);
}

NodePtr toNode(const Value& value, std::vector<std::string>& exactElements) {
    return TreeWriter(exactElements).toNodeAt(value, 0);
}

} // namespace platform::plist::detail
