#include "platform/plist/PlistNodes.h"

#include "platform/plist/PlistFile.h"
#include "platform/plist/PlistInputCheck.h"

#include <array>
#include <bit>
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

std::optional<Value> fromNodeAt(plist_t node, int depth);

// The reference dictionary libplist writes for a Uid; other readers turn it back into one too.
std::optional<Value> uidFromDictionary(const Dictionary& d) {
    if (d.size() != 1 || d.begin()->first != "CF$UID" || !d.begin()->second.is<std::int64_t>()) {
        return std::nullopt;
    }
    return Value(Uid{static_cast<std::uint64_t>(*d.begin()->second.get<std::int64_t>())});
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

std::optional<Value> arrayFromNode(plist_t node, int depth) {
    Array result;
    for (std::uint32_t i = 0, n = plist_array_get_size(node); i < n; ++i) {
        std::optional<Value> value = fromNodeAt(plist_array_get_item(node, i), depth);
        if (!value) {
            return std::nullopt;
        }
        result.push_back(std::move(*value));
    }
    return Value(std::move(result));
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
        plist_get_uint_val(node, &number);
        return Value(static_cast<std::int64_t>(number));
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

std::optional<Value> fromNodeAt(plist_t node, int depth) {
    plist_type type = plist_get_node_type(node);
    if (type != PLIST_DICT && type != PLIST_ARRAY) {
        return scalarFromNode(node);
    }
    if (depth >= kMaxDepth) {
        return std::nullopt;
    }
    return type == PLIST_DICT ? dictionaryFromNode(node, depth + 1)
                              : arrayFromNode(node, depth + 1);
}

NodePtr toNodeAt(const Value& value, int depth);

NodePtr dictionaryNode(const Dictionary& d, int depth) {
    NodePtr node(plist_new_dict());
    for (const auto& [key, value] : d) {
        NodePtr child = toNodeAt(value, depth);
        if (!child || !isXmlText(key)) {
            return nullptr;
        }
        plist_dict_set_item(node.get(), key.c_str(), child.release());
    }
    return node;
}

NodePtr arrayNode(const Array& a, int depth) {
    NodePtr node(plist_new_array());
    for (const Value& value : a) {
        NodePtr child = toNodeAt(value, depth);
        if (!child) {
            return nullptr;
        }
        plist_array_append_item(node.get(), child.release());
    }
    return node;
}

struct NodeMaker {
    int depth;

    NodePtr operator()(bool b) const { return NodePtr(plist_new_bool(b ? 1 : 0)); }
    NodePtr operator()(std::int64_t i) const {
        return NodePtr(plist_new_uint(static_cast<std::uint64_t>(i)));
    }
    NodePtr operator()(double d) const { return NodePtr(plist_new_real(d)); }
    NodePtr operator()(const std::string& s) const {
        return isXmlText(s) ? NodePtr(plist_new_string(s.c_str())) : nullptr;
    }
    NodePtr operator()(const Data& d) const {
        // libplist memcpy's the bytes, and memcpy from a null pointer is undefined even for
        // none: an empty vector's data() may be null.
        static const char kNoBytes = 0;
        const char* bytes =
            d.bytes.empty() ? &kNoBytes : reinterpret_cast<const char*>(d.bytes.data());
        return NodePtr(plist_new_data(bytes, d.bytes.size()));
    }
    NodePtr operator()(const Date& d) const {
        bool writable = d.seconds >= kFirstDate && d.seconds <= kLastDate;
        return writable ? dateNode(d.seconds) : nullptr;
    }
    NodePtr operator()(const Uid& u) const { return NodePtr(plist_new_uid(u.value)); }
    NodePtr operator()(const Array& a) const {
        return depth < kMaxDepth ? arrayNode(a, depth + 1) : nullptr;
    }
    NodePtr operator()(const Dictionary& d) const {
        return depth < kMaxDepth ? dictionaryNode(d, depth + 1) : nullptr;
    }
};

NodePtr toNodeAt(const Value& value, int depth) {
    return std::visit(NodeMaker{depth}, value.storage());
}

} // namespace

std::optional<Value> fromNode(plist_t node) {
    return fromNodeAt(node, 0);
}

NodePtr toNode(const Value& value) {
    return toNodeAt(value, 0);
}

} // namespace platform::plist::detail
