#include "platform/notify/BusMessage.h"

namespace platform::notify {

namespace {

// Offsets count from the start of the message; the header fields and the body both start on an
// 8-byte boundary, so aligning within either one is aligning within the message.
void pad(std::string& out, std::size_t alignment) {
    while (out.size() % alignment != 0) {
        out.push_back('\0');
    }
}

void putUint32(std::string& out, std::uint32_t value) {
    pad(out, 4);
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(char((value >> shift) & 0xff));
    }
}

void putString(std::string& out, const std::string& text) {
    putUint32(out, std::uint32_t(text.size()));
    out += text;
    out.push_back('\0');
}

void putSignature(std::string& out, const std::string& signature) {
    out.push_back(char(signature.size()));
    out += signature;
    out.push_back('\0');
}

// One (code, variant) entry of the header's field array.
void putField(std::string& out, char code, char type, const std::string& value) {
    pad(out, 8);
    out.push_back(code);
    putSignature(out, std::string(1, type));
    if (type == 'g') {
        putSignature(out, value);
    } else {
        putString(out, value);
    }
}

} // namespace

BusMessage::BusMessage(std::string destination, std::string path, std::string interface,
                       std::string member)
    : destination_(std::move(destination)), path_(std::move(path)),
      interface_(std::move(interface)), member_(std::move(member)) {}

BusMessage& BusMessage::addString(const std::string& text) {
    signature_ += 's';
    putString(body_, text);
    return *this;
}

BusMessage& BusMessage::addUint32(std::uint32_t number) {
    signature_ += 'u';
    putUint32(body_, number);
    return *this;
}

BusMessage& BusMessage::addInt32(std::int32_t number) {
    signature_ += 'i';
    putUint32(body_, std::uint32_t(number));
    return *this;
}

BusMessage& BusMessage::addEmptyArray(const std::string& elementSignature) {
    signature_ += "a" + elementSignature;
    putUint32(body_, 0);
    // The padding up to the first element is there even when there is none.
    pad(body_, elementSignature.front() == '{' ? 8 : 4);
    return *this;
}

std::string BusMessage::bytes(std::uint32_t serial) const {
    std::string fields;
    putField(fields, 1, 'o', path_);
    putField(fields, 2, 's', interface_);
    putField(fields, 3, 's', member_);
    putField(fields, 6, 's', destination_);
    if (!signature_.empty()) {
        putField(fields, 8, 'g', signature_);
    }
    // Little-endian, a method call, no flags, protocol version 1.
    std::string message = {'l', 1, 0, 1};
    putUint32(message, std::uint32_t(body_.size()));
    putUint32(message, serial);
    putUint32(message, std::uint32_t(fields.size()));
    message += fields;
    pad(message, 8);
    return message + body_;
}

} // namespace platform::notify
