#pragma once

#include <cstdint>
#include <string>

namespace platform::notify {

// A D-Bus method call, marshalled by hand (little-endian) for the few argument types a
// notification needs.
class BusMessage {
public:
    BusMessage(std::string destination, std::string path, std::string interface,
               std::string member);

    BusMessage& addString(const std::string& text);
    BusMessage& addUint32(std::uint32_t number);
    BusMessage& addInt32(std::int32_t number);
    // An empty array of "s", or of "{sv}" (a dictionary).
    BusMessage& addEmptyArray(const std::string& elementSignature);

    // The whole message, header and body, with the serial given.
    std::string bytes(std::uint32_t serial) const;
    std::string name() const { return interface_ + "." + member_; }

private:
    std::string destination_;
    std::string path_;
    std::string interface_;
    std::string member_;
    std::string signature_;
    std::string body_;
};

} // namespace platform::notify
