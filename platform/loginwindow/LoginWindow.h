#pragma once

// The login window's work at login: starts the entries of the current user's login item list,
// then those of the any-user list, as launchApplication does (an application that already
// runs is not started again). A path in both lists is started once, as its first entry says.
// Returns the number of entries that could not be started; each has a log line.
namespace platform::loginwindow {

int launchLoginItems();

} // namespace platform::loginwindow
