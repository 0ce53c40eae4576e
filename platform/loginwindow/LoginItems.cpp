#include "platform/loginwindow/LoginItems.h"

namespace platform::loginwindow {

std::vector<LoginItem> readLoginItems(prefs::ScopeRef user) {
    std::vector<LoginItem> items;
    std::optional<plist::Value> stored = prefs::copyValue(kLoginItemsKey, kLoginWindowApplication,
                                                          user, prefs::kCFPreferencesAnyHost);
    const plist::Array* list = stored ? stored->get<plist::Array>() : nullptr;
    if (list == nullptr) {
        return items;
    }
    for (const plist::Value& value : *list) {
        const plist::Dictionary* entry = value.get<plist::Dictionary>();
        if (entry == nullptr) {
            continue;
        }
        auto path = entry->find(kPathKey);
        if (path == entry->end() || !path->second.is<std::string>() ||
            path->second.get<std::string>()->empty()) {
            continue;
        }
        auto hide = entry->find(kHideKey);
        bool hidden = hide != entry->end() && hide->second == plist::Value(true);
        items.push_back({*path->second.get<std::string>(), hidden});
    }
    return items;
}

} // namespace platform::loginwindow
