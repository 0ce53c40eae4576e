#pragma once

#include "platform/prefs/Preferences.h"

#include <cstddef>
#include <cstdint>

// The login item list of a user: the applications the login window starts when that user logs
// in, kept under the key "AutoLaunchedApplicationDictionary" of the application "loginwindow".
// Each entry is a dictionary with a "Path" (UTF-8 text) and a "Hide" flag. The user scope is
// platform::prefs::kCFPreferencesCurrentUser or kCFPreferencesAnyUser; any other is refused
// with 0, false or null, and nothing is printed.
//
// Not for use from two threads at once: text results share one buffer.

inline constexpr std::int32_t kLoginItemFullPath = 1;
inline constexpr std::int32_t kLoginItemExecutableName = 2;
inline constexpr std::int32_t kLoginItemHideInfo = 3;

// 1,024 bytes of text and the terminating NUL. Every text result points into it and is
// overwritten by the next call.
inline constexpr std::size_t kReturnCharacterArraySize = 1025;
extern char ReturnCharacterArray[kReturnCharacterArraySize];

// Number of entries; 0 when there is no list, or what is stored is not a list.
std::int32_t GetCountOfLoginItems(platform::prefs::ScopeRef user);

// Prints "The number of LoginItems is: N" without a line end.
bool PrintNumberOfLoginItems(platform::prefs::ScopeRef user);

// Removes one entry, the later ones moving down; true when the shorter list was saved.
bool RemoveLoginItemAtIndex(platform::prefs::ScopeRef user, std::int32_t index);

// One property of an entry as text in ReturnCharacterArray: the full path, its last non-empty
// "/"-separated component, or "true"/"false". Null when the kind, the position or the scope is
// refused, or the entry has no such property of the right type, or the path does not fit.
char* ReturnLoginItemPropertyAtIndex(platform::prefs::ScopeRef user, std::int32_t propertyKind,
                                     std::int32_t index);

// Prints the entry's three lines; stops at the first property that gives no text (lines
// already printed stay) and returns false.
bool PrintOutLoginItemAtIndex(platform::prefs::ScopeRef user, std::int32_t index);

// Prints every entry with its index line, or the line for an empty list.
bool PrintOutAllLoginItems(platform::prefs::ScopeRef user);

// Appends an entry; only a hide flag of exactly 1 hides. A path that is not UTF-8 text or is
// too long to be read back whole is refused. False, and the list untouched, when what is
// stored is not a list. True when the longer list was saved.
bool AddLoginItemWithPropertiesToUser(platform::prefs::ScopeRef user, const char* path,
                                      unsigned char hide);
