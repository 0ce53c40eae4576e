#include "platform/loginwindow/LoginWindow.h"

#include "platform/loginwindow/LoginItems.h"
#include "platform/process/ApplicationLauncher.h"

#include <set>
#include <string>

namespace platform::loginwindow {

int launchLoginItems() {
    std::set<std::string> started;
    int failures = 0;
    for (prefs::ScopeRef user : {prefs::kCFPreferencesCurrentUser, prefs::kCFPreferencesAnyUser}) {
        for (const LoginItem& item : readLoginItems(user)) {
            if (!started.insert(item.path).second) {
                continue;
            }
            if (process::launchApplication(item.path, item.hide) == process::LaunchResult::Failed) {
                ++failures;
            }
        }
    }
    return failures;
}

} // namespace platform::loginwindow
