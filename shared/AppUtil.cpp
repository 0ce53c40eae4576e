#include "shared/AppUtil.h"

#include "platform/bundle/Bundle.h"
#include "shared/TQZAppTool.h"

std::optional<std::string> AppUtil::getDefaultConfigFilePath() {
    return platform::bundle::Bundle::main().pathForResource("DefaultConfig", "plist");
}

std::optional<std::string> AppUtil::getUserConfigFilePath() {
    auto folder = TQZAppTool::applicationSupportFolder("Sonvela");
    if (!folder) {
        // Without a folder there is no table; never a path relative to wherever we run.
        return std::nullopt;
    }
    return *folder + "/config.plist";
}
