#pragma once

#include "platform/prefs/Preferences.h"

#include <string>
#include <vector>

// Where the login window finds what to start: a list of entries under this key of this
// application's preferences, one list per user scope.
namespace platform::loginwindow {

inline constexpr const char* kLoginWindowApplication = "loginwindow";
inline constexpr const char* kLoginItemsKey = "AutoLaunchedApplicationDictionary";
inline constexpr const char* kPathKey = "Path";
inline constexpr const char* kHideKey = "Hide";

struct LoginItem {
    std::string path;
    bool hide = false;
};

// The entries of a scope's list that name a bundle to start. Anything of another shape (no
// list, an entry that is no dictionary, a "Path" that is no text or is empty) is passed over.
std::vector<LoginItem> readLoginItems(prefs::ScopeRef user);

} // namespace platform::loginwindow
