#include "shared/LoginItemAPI.h"

#include "platform/loginwindow/AutostartEntry.h"
#include "platform/loginwindow/LoginItems.h"

#include <cstdio>
#include <cstring>
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

bool storeList(prefs::ScopeRef user, const plist::Array& list) {
    if (!prefs::setValue(kLoginItemsKey, plist::Value(list), kLoginWindowApplication, user,
                         prefs::kCFPreferencesAnyHost) ||
        !prefs::synchronize(kLoginWindowApplication, user, prefs::kCFPreferencesAnyHost)) {
        return false;
    }
    // The list is saved either way; a session that will not start it is the login window's
    // to report.
    keepAutostartEntryInStep(user);
    return true;
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
    if (!isAcceptedScope(user) || !isValidIndex(user, index)) {
        return false;
    }
    std::optional<plist::Array> list = readList(user);
    // The list may have been shortened by another process since it was counted.
    if (!list || static_cast<std::size_t>(index) >= list->size()) {
        return false;
    }
    list->erase(list->begin() + index);
    return storeList(user, *list);
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
    std::optional<plist::Value> stored = readStored(user);
    plist::Array list;
    if (stored) {
        plist::Array* existing = stored->get<plist::Array>();
        if (existing == nullptr) {
            return false;
        }
        list = std::move(*existing);
    }
    list.push_back(plist::Dictionary{
        {kHideKey, plist::Value(hide == 1)},
        {kPathKey, plist::Value(std::string(text))},
    });
    // Text that the file format cannot hold (not UTF-8, control characters) is refused here.
    return storeList(user, list);
}
