#include "shared/LoginItemAPI.h"

#include "platform/loginwindow/AutostartEntry.h"
#include "platform/loginwindow/LoginItems.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace prefs = platform::prefs;
namespace plist = platform::plist;
using namespace platform::loginwindow;

char ReturnCharacterArray[kReturnCharacterArraySize] = {};

namespace {

// Where the tokeniser stands in ReturnCharacterArray between its calls.
char* tokenPosition = nullptr;

bool isAcceptedScope(prefs::ScopeRef user) {
    return user == prefs::kCFPreferencesCurrentUser || user == prefs::kCFPreferencesAnyUser;
}

std::optional<plist::Value> readStored(prefs::ScopeRef user) {
    return prefs::copyValue(kLoginItemsKey, kLoginWindowApplication, user,
                            prefs::kCFPreferencesAnyHost);
}

// The stored list; nullopt when there is none or what is stored is not a list.
std::optional<plist::Array> readList(prefs::ScopeRef user) {
    std::optional<plist::Value> stored = readStored(user);
    if (!stored || !stored->is<plist::Array>()) {
        return std::nullopt;
    }
    return std::move(*stored->get<plist::Array>());
}

// Changes the stored list where it is stored, so that two programs changing it at once both
// keep their change; a missing list is an empty one, and what is no list is left alone.
bool editList(prefs::ScopeRef user, const std::function<bool(plist::Array&)>& edit) {
    bool saved = prefs::updateValue(kLoginItemsKey, kLoginWindowApplication, user,
                                    prefs::kCFPreferencesAnyHost,
                                    [&edit](std::optional<plist::Value>& stored) {
                                        if (!stored) {
                                            stored = plist::Value(plist::Array{});
                                        }
                                        plist::Array* list = stored->get<plist::Array>();
                                        return list != nullptr && edit(*list);
                                    });
    // The list is saved either way; a session that will not start it is the login window's
    // to report.
    if (saved) {
        keepAutostartEntryInStep(user);
    }
    return saved;
}

const plist::Value* propertyOf(const plist::Value& entry, const char* key) {
    const plist::Dictionary* dictionary = entry.get<plist::Dictionary>();
    if (dictionary == nullptr) {
        return nullptr;
    }
    auto found = dictionary->find(key);
    return found == dictionary->end() ? nullptr : &found->second;
}

// The text and its NUL, or null when it does not fit whole: a cut path would name another
// application.
char* copyToBuffer(std::string_view text) {
    if (text.size() >= kReturnCharacterArraySize || text.find('\0') != std::string_view::npos) {
        return nullptr;
    }
    std::memcpy(ReturnCharacterArray, text.data(), text.size());
    ReturnCharacterArray[text.size()] = '\0';
    return ReturnCharacterArray;
}

// The last token of the buffer split at "/"; the separators that end tokens become NULs.
char* lastComponentInBuffer() {
    char* last = strtok_r(ReturnCharacterArray, "/", &tokenPosition);
    for (char* token = last; token != nullptr; token = strtok_r(nullptr, "/", &tokenPosition)) {
        last = token;
    }
    return last;
}

bool isValidIndex(prefs::ScopeRef user, std::int32_t index) {
    return index >= 0 && index < GetCountOfLoginItems(user);
}

} // namespace

std::int32_t GetCountOfLoginItems(prefs::ScopeRef user) {
    if (!isAcceptedScope(user)) {
        return 0;
    }
    std::optional<plist::Array> list = readList(user);
    if (!list) {
        return 0;
    }
    constexpr std::size_t kMax = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(list->size() < kMax ? list->size() : kMax);
}

bool PrintNumberOfLoginItems(prefs::ScopeRef user) {
    if (!isAcceptedScope(user)) {
        return false;
    }
    std::printf("The number of LoginItems is: %d", GetCountOfLoginItems(user));
    return true;
}

bool RemoveLoginItemAtIndex(prefs::ScopeRef user, std::int32_t index) {
    if (!isAcceptedScope(user) || index < 0) {
        return false;
    }
    // The position is checked against the list as it is when it is changed: another program
    // may have shortened it since the caller counted.
    return editList(user, [index](plist::Array& list) {
        if (static_cast<std::size_t>(index) >= list.size()) {
            return false;
        }
        list.erase(list.begin() + index);
        return true;
    });
}

char* ReturnLoginItemPropertyAtIndex(prefs::ScopeRef user, std::int32_t propertyKind,
                                     std::int32_t index) {
    if (propertyKind < kLoginItemFullPath || propertyKind > kLoginItemHideInfo || index < 0 ||
        !isAcceptedScope(user)) {
        return nullptr;
    }
    std::optional<plist::Array> list = readList(user);
    if (!list || static_cast<std::size_t>(index) >= list->size()) {
        return nullptr;
    }
    const plist::Value& entry = (*list)[static_cast<std::size_t>(index)];
    if (propertyKind == kLoginItemHideInfo) {
        const plist::Value* hide = propertyOf(entry, kHideKey);
        const bool* flag = hide ? hide->get<bool>() : nullptr;
        return flag ? copyToBuffer(*flag ? "true" : "false") : nullptr;
    }
    const plist::Value* path = propertyOf(entry, kPathKey);
    const std::string* text = path ? path->get<std::string>() : nullptr;
    if (text == nullptr || copyToBuffer(*text) == nullptr) {
        return nullptr;
    }
    return propertyKind == kLoginItemFullPath ? ReturnCharacterArray : lastComponentInBuffer();
}

bool PrintOutLoginItemAtIndex(prefs::ScopeRef user, std::int32_t index) {
    if (!isAcceptedScope(user) || !isValidIndex(user, index)) {
        return false;
    }
    // Each line is printed before the next property is read: they share the buffer.
    const char* text = ReturnLoginItemPropertyAtIndex(user, kLoginItemFullPath, index);
    if (text == nullptr) {
        return false;
    }
    std::printf("\tFull path to App: %s\n", text);
    text = ReturnLoginItemPropertyAtIndex(user, kLoginItemHideInfo, index);
    if (text == nullptr) {
        return false;
    }
    std::printf("\tHide Info:        %s\n", text);
    text = ReturnLoginItemPropertyAtIndex(user, kLoginItemExecutableName, index);
    if (text == nullptr) {
        return false;
    }
    std::printf("\tExecutable Name:  %s\n", text);
    return true;
}

bool PrintOutAllLoginItems(prefs::ScopeRef user) {
    if (!isAcceptedScope(user)) {
        return false;
    }
    std::int32_t count = GetCountOfLoginItems(user);
    if (count == 0) {
        std::puts("LoginItems are Empty (i.e. there are no LoginItems)");
        return true;
    }
    for (std::int32_t index = 0; index < count; ++index) {
        std::printf("LoginItem Index %d:\n", index);
        if (!PrintOutLoginItemAtIndex(user, index)) {
            return false;
        }
    }
    return true;
}

bool AddLoginItemWithPropertiesToUser(prefs::ScopeRef user, const char* path, unsigned char hide) {
    if (!isAcceptedScope(user) || path == nullptr) {
        return false;
    }
    std::string_view text(path);
    // An entry whose path cannot be read back could never be found again to be removed.
    if (text.size() >= kReturnCharacterArraySize) {
        return false;
    }
    // Text that the file format cannot hold (not UTF-8, control characters) is refused there.
    return editList(user, [&](plist::Array& list) {
        list.push_back(plist::Dictionary{
            {kHideKey, plist::Value(hide == 1)},
            {kPathKey, plist::Value(std::string(text))},
        });
        return true;
    });
}
