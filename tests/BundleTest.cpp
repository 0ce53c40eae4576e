#include "platform/bundle/Bundle.h"

#include "shared/TQZAppTool.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

using platform::bundle::Bundle;
using sonvela::test::TempHome;

namespace {

class BundleFiles : public testing::Test {
protected:
    void SetUp() override {
        app = home.path() + "/Demo.app";
        sonvela::test::makeDirs(app + "/Resources");
        sonvela::test::writeAll(app + "/Resources/AudioDeviceName.strings",
                                "<plist version=\"1.0\"><dict><key>hdpn</key>"
                                "<string>Headphones</string></dict></plist>");
        sonvela::test::writeAll(app + "/Resources/Localizable.strings",
                                "<plist version=\"1.0\"><dict><key>Sonvela</key>"
                                "<string>Sonvela Settings</string></dict></plist>");
        sonvela::test::writeAll(app + "/Resources/icon.png", "png");
    }
    TempHome home;
    std::string app;
};

TEST_F(BundleFiles, ResourcesAreFoundByNameAndType) {
    Bundle bundle(app);
    EXPECT_EQ(bundle.resourcePath(), app + "/Resources");
    EXPECT_EQ(bundle.pathForResource("icon", "png"), app + "/Resources/icon.png");
    EXPECT_EQ(bundle.pathForResource("icon.png", ""), app + "/Resources/icon.png");
    EXPECT_EQ(bundle.pathForResource("missing", "png"), std::nullopt);
    EXPECT_EQ(bundle.pathForResource("", ""), std::nullopt);
    EXPECT_EQ(bundle.pathForResource("../Resources/icon", "png"), std::nullopt);
}

TEST_F(BundleFiles, StringsTablesFallBackToTheKey) {
    Bundle bundle(app);
    struct {
        const char* key;
        const char* value;
        const char* table;
        const char* expected;
    } cases[] = {
        {"hdpn", "", "AudioDeviceName", "Headphones"}, {"hdmi", "", "AudioDeviceName", "hdmi"},
        {"hdmi", "TV", "AudioDeviceName", "TV"},       {"hdpn", "", "NoSuchTable", "hdpn"},
        {"Sonvela", "", "", "Sonvela Settings"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bundle.localizedString(c.key, c.value, c.table), c.expected) << c.key;
    }
    sonvela::test::writeAll(app + "/Resources/AudioDeviceName.strings", "\"hdpn\" = \"x\";");
    EXPECT_EQ(bundle.localizedString("hdpn", "", "AudioDeviceName"), "hdpn");
}

TEST_F(BundleFiles, FolderPathsEndInOneSlash) {
    Bundle::overrideMainForTesting(app);
    EXPECT_EQ(TQZAppTool::getResPath(), app + "/Resources/");
    EXPECT_EQ(TQZAppTool::getAppPath(), app + "/");
    Bundle::overrideMainForTesting(std::nullopt);

    // A program that is not in a bundle stands for its own folder.
    std::string self = Bundle::main().bundlePath();
    EXPECT_EQ(TQZAppTool::getAppPath(), self + "/");
    EXPECT_EQ(self.back() == '/', self == "/");
}

} // namespace
