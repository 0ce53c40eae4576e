// Property lists from anywhere: whatever the bytes, reading never crashes, and what was read
// writes as XML that reads back to the same XML, or is not written at all.
#include "platform/plist/PlistFile.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace plist = platform::plist;
    std::optional<plist::Value> value =
        plist::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    std::optional<std::string> xml = value ? plist::toXml(*value) : std::nullopt;
    if (!xml) {
        return 0;
    }
    std::optional<plist::Value> again = plist::parse(*xml);
    if (!again || plist::toXml(*again) != xml) {
        std::abort();
    }
    return 0;
}
