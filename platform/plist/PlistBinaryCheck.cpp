#include "platform/plist/PlistFile.h"
#include "platform/plist/PlistInputCheck.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace platform::plist::detail {

namespace {

constexpr std::string_view kMagic = "bplist00";
constexpr std::size_t kTrailerSize = 32;
// Shared objects are expanded into copies by libplist. A list whose every object is reached
// once, or a scalar shared between references, as other writers share them, is reached no
// more often than the file has bytes; containers shared many times over are not, and a few
// hundred bytes of them would take seconds and hundreds of megabytes to expand.
constexpr std::size_t kMaxExpandedObjects = 1 << 20;
constexpr std::size_t kExpansionAllowance = 4096;

struct Span {
    std::uint64_t start = 0;
    std::uint64_t count = 0;
};

class BinaryChecker {
public:
    explicit BinaryChecker(std::string_view bytes) : b_(bytes) {}

    bool run() { return readTrailer() && checkObject(root_, 0); }

private:
    std::uint64_t readUInt(std::uint64_t pos, unsigned size) const {
        std::uint64_t value = 0;
        for (unsigned i = 0; i < size; ++i) {
            value = (value << 8) | static_cast<std::uint8_t>(b_[pos + i]);
        }
        return value;
    }

    bool readTrailer() {
        if (b_.size() < kMagic.size() + kTrailerSize + 1 || !b_.starts_with(kMagic)) {
            return false;
        }
        std::uint64_t t = b_.size() - kTrailerSize;
        offsetSize_ = static_cast<std::uint8_t>(b_[t + 6]);
        refSize_ = static_cast<std::uint8_t>(b_[t + 7]);
        objectCount_ = readUInt(t + 8, 8);
        root_ = readUInt(t + 16, 8);
        tableStart_ = readUInt(t + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) {
            return false;
        }
        if (tableStart_ < kMagic.size() || tableStart_ > t || objectCount_ == 0 ||
            root_ >= objectCount_ || objectCount_ > (t - tableStart_) / offsetSize_) {
            return false;
        }
        onPath_.assign(objectCount_, false);
        return true;
    }

    // Objects live between the header and the offset table, as libplist expects.
    bool fits(std::uint64_t pos, std::uint64_t size) const {
        return pos <= tableStart_ && size <= tableStart_ - pos;
    }

    // The element count of a data, string, array or dictionary object and where its body starts.
    bool readCount(std::uint64_t at, unsigned info, Span& span) const {
        if (info != 0xF) {
            span = {at + 1, info};
            return true;
        }
        if (!fits(at + 1, 1)) {
            return false;
        }
        auto marker = static_cast<std::uint8_t>(b_[at + 1]);
        if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3) {
            return false;
        }
        unsigned size = 1u << (marker & 0x0F);
        if (!fits(at + 2, size)) {
            return false;
        }
        span = {at + 2 + size, readUInt(at + 2, size)};
        return true;
    }

    bool checkObject(std::uint64_t index, int depth) {
        if (++visited_ > maxVisits_ || index >= objectCount_ || onPath_[index]) {
            return false;
        }
        std::uint64_t at = readUInt(tableStart_ + index * offsetSize_, offsetSize_);
        if (at < kMagic.size() || at >= tableStart_) {
            return false;
        }
        onPath_[index] = true;
        bool ok = checkBody(at, depth);
        onPath_[index] = false;
        return ok;
    }

    bool checkBody(std::uint64_t at, int depth) {
        auto marker = static_cast<std::uint8_t>(b_[at]);
        unsigned info = marker & 0x0F;
        switch (marker >> 4) {
        case 0x0:
            return info == 0x8 || info == 0x9;
        case 0x1:
            // libplist keeps the low half of a 16-byte integer: only unsigned 64-bit ones fit.
            return info <= 4 && fits(at + 1, 1u << info) && (info < 4 || readUInt(at + 1, 8) == 0);
        case 0x2:
            return (info == 2 || info == 3) && fits(at + 1, 1u << info);
        case 0x3:
            return info == 3 && fits(at + 1, 8);
        case 0x8:
            return (info == 0 || info == 1 || info == 3 || info == 7) && fits(at + 1, info + 1);
        case 0x4:
        case 0x5:
        case 0x6:
            return checkBlob(at, marker >> 4, info);
        case 0xA:
            return checkContainer(at, info, 1, depth);
        case 0xD:
            return checkContainer(at, info, 2, depth);
        default:
            return false;
        }
    }

    // Data, ASCII text or UTF-16 text; text with a NUL makes libplist abort on keys.
    bool checkBlob(std::uint64_t at, unsigned type, unsigned info) const {
        Span span;
        if (!readCount(at, info, span)) {
            return false;
        }
        unsigned unit = type == 0x6 ? 2 : 1;
        if (span.count > tableStart_ / unit || !fits(span.start, span.count * unit)) {
            return false;
        }
        if (type == 0x5) {
            return b_.substr(span.start, span.count).find('\0') == std::string_view::npos;
        }
        for (std::uint64_t i = 0; type == 0x6 && i < span.count; ++i) {
            if (readUInt(span.start + 2 * i, 2) == 0) {
                return false;
            }
        }
        return true;
    }

    bool isTextObject(std::uint64_t index) const {
        std::uint64_t at = readUInt(tableStart_ + index * offsetSize_, offsetSize_);
        auto type = static_cast<std::uint8_t>(b_[at]) >> 4;
        return type == 0x5 || type == 0x6;
    }

    // Arrays hold one reference per element, dictionaries all keys and then all values. depth
    // counts the containers around this one.
    bool checkContainer(std::uint64_t at, unsigned info, unsigned refsPerEntry, int depth) {
        Span span;
        if (depth >= kMaxDepth || !readCount(at, info, span) ||
            span.count > tableStart_ / (refSize_ * refsPerEntry) ||
            !fits(span.start, span.count * refSize_ * refsPerEntry)) {
            return false;
        }
        for (std::uint64_t i = 0; i < span.count * refsPerEntry; ++i) {
            std::uint64_t ref = readUInt(span.start + i * refSize_, refSize_);
            if (!checkObject(ref, depth + 1)) {
                return false;
            }
            if (refsPerEntry == 2 && i < span.count && !isTextObject(ref)) {
                return false;
            }
        }
        return true;
    }

    std::string_view b_;
    std::uint8_t offsetSize_ = 0;
    std::uint8_t refSize_ = 0;
    std::uint64_t objectCount_ = 0;
    std::uint64_t root_ = 0;
    std::uint64_t tableStart_ = 0;
    std::size_t visited_ = 0;
    const std::size_t maxVisits_ =
        std::min(kMaxExpandedObjects, b_.size() + kExpansionAllowance);
    std::vector<bool> onPath_;
};

} // namespace

bool looksBinary(std::string_view bytes) {
    return bytes.starts_with("bplist");
}

bool isSafeBinary(std::string_view bytes) {
    return BinaryChecker(bytes).run();
}

} // namespace platform::plist::detail
