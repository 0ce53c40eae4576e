#pragma once

#include "platform/plist/PlistValue.h"

#include <optional>
#include <string>

namespace platform::bundle {

// A program's folder "Name.app/" with Info.plist, bin/ (the executable) and Resources/.
class Bundle {
public:
    // The bundle at a folder. A folder that is not a bundle stands for itself: its resources are
    // the folder's own files, as for a program that was not installed as a bundle.
    explicit Bundle(std::string bundlePath);

    // The running program's bundle, found from /proc/self/exe with links resolved.
    static const Bundle& main();
    // Lets tests stand a folder of their own in for the main bundle; nullopt goes back.
    static void overrideMainForTesting(std::optional<std::string> bundlePath);

    const std::string& bundlePath() const { return bundlePath_; }
    const std::string& resourcePath() const { return resourcePath_; }

    // The language whose folder Resources/<language>.lproj the bundle takes its localized
    // resources from, chosen once from the user's languages; nullopt for the base resources.
    const std::optional<std::string>& localization() const { return localization_; }

    // The absolute path of a file among the resources, else in the localization's folder, or
    // nullopt. An empty type means the name already carries its extension.
    std::optional<std::string> pathForResource(const std::string& name,
                                               const std::string& type) const;

    // The entry for the key in the localization's <table>.strings, else in
    // Resources/<table>.strings (table "Localizable" when empty). A missing table or entry gives
    // the default value, or the key when that is empty.
    std::string localizedString(const std::string& key, const std::string& value,
                                const std::string& table) const;

    // A value of Info.plist, or nullopt.
    std::optional<plist::Value> infoValue(const std::string& key) const;

private:
    std::optional<std::string> chooseLocalization() const;
    std::string localizedFolder() const;

    std::string bundlePath_;
    std::string resourcePath_;
    std::optional<std::string> localization_;
};

} // namespace platform::bundle
