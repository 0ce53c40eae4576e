#include "platform/notify/SessionBusAddress.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace platform::notify {

namespace {

bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Address values escape every byte outside a small set as %XX.
std::string escaped(const std::string& value) {
    std::string out;
    for (unsigned char c : value) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     (c != '\0' && std::strchr("-_/.\\*", c) != nullptr);
        if (plain) {
            out.push_back(char(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02x", c);
            out += hex;
        }
    }
    return out;
}

std::optional<std::string> unescaped(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '%') {
            out.push_back(value[i]);
            continue;
        }
        if (i + 2 >= value.size() || !isHex(value[i + 1]) || !isHex(value[i + 2])) {
            return std::nullopt;
        }
        out.push_back(char(std::strtol(value.substr(i + 1, 2).c_str(), nullptr, 16)));
        i += 2;
    }
    return out;
}

} // namespace

std::string sessionBusAddress() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) {
        return address;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || runtime[0] != '/') {
        return {};
    }
    std::string path = std::string(runtime) + "/bus";
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
        return {};
    }
    return "unix:path=" + escaped(path);
}

std::optional<UnixSocket> unixSocketIn(const std::string& address) {
    // unix:key=value,key=value;other:key=value
    for (std::size_t entry = 0; entry < address.size();) {
        std::size_t entryEnd = std::min(address.find(';', entry), address.size());
        if (address.compare(entry, 5, "unix:") == 0) {
            for (std::size_t pair = entry + 5; pair < entryEnd;) {
                std::size_t pairEnd = std::min(address.find(',', pair), entryEnd);
                std::string text = address.substr(pair, pairEnd - pair);
                std::string key = text.substr(0, text.find('='));
                if (key.size() < text.size() && (key == "path" || key == "abstract")) {
                    auto value = unescaped(text.substr(key.size() + 1));
                    if (value && !value->empty() && value->find('\0') == std::string::npos) {
                        return UnixSocket{*value, key == "abstract"};
                    }
                }
                pair = pairEnd + 1;
            }
        }
        entry = entryEnd + 1;
    }
    return std::nullopt;
}

} // namespace platform::notify
