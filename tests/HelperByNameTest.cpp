#include "platform/bundle/Bundle.h"
#include "shared/AppUtil.h"
#include "shared/TQZAppTool.h"
#include "tests/support/Eventually.h"
#include "tests/support/StrayProcesses.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace sonvela::test;

namespace {

const char* const kHelper = "Sonvela Helper";

// The built helper, started, found and stopped by name the way the settings program does it.
// It runs against a sound server that is not there, which it keeps retrying quietly.
class HelperByName : public testing::Test {
protected:
    void SetUp() override {
        platform::bundle::Bundle::overrideMainForTesting(SONVELA_APP_DIR);
        // Stopping by name would reach a helper that is not ours as well.
        for (const std::string& pid : AppUtil::getApplicationPidsByName(kHelper)) {
            if (!pid.empty() && !isOurs(pid)) {
                GTEST_SKIP() << "a Sonvela Helper of another home runs as this user: " << pid;
            }
        }
    }
    void TearDown() override { platform::bundle::Bundle::overrideMainForTesting(std::nullopt); }

    bool isOurs(const std::string& pid) {
        std::vector<pid_t> ours = helpers();
        return std::find(ours.begin(), ours.end(), std::stoi(pid)) != ours.end();
    }
    std::vector<pid_t> helpers() {
        std::vector<pid_t> found;
        for (pid_t pid : processesOfHome(home.path())) {
            if (processName(pid) == kHelper && isAlive(pid)) {
                found.push_back(pid);
            }
        }
        return found;
    }

    TempHome home;
    StrayProcesses strays{home.path()};
    std::string bundle = SONVELA_APP_DIR "/Resources/Sonvela Helper.app";
};

TEST_F(HelperByName, LaunchedFoundStoppedGone) {
    EXPECT_FALSE(AppUtil::applicationIsRunning(kHelper));
    AppUtil::launchApplication(bundle);
    ASSERT_TRUE(eventually([] { return AppUtil::applicationIsRunning(kHelper); }));

    std::vector<pid_t> ours = helpers();
    ASSERT_EQ(ours.size(), 1u);
    EXPECT_EQ(AppUtil::getApplicationPidsByName(kHelper),
              std::vector<std::string>{std::to_string(ours[0])});
    EXPECT_EQ(AppUtil::getApplicationPidByName(kHelper), std::to_string(ours[0]));

    AppUtil::killApplicationByName(kHelper);
    EXPECT_TRUE(eventually([] { return !AppUtil::applicationIsRunning(kHelper); }));
    EXPECT_TRUE(helpers().empty());
}

TEST_F(HelperByName, LaunchingTwiceStartsOneCopy) {
    AppUtil::launchApplication(bundle);
    AppUtil::launchApplication(bundle);
    ASSERT_TRUE(eventually([] { return AppUtil::applicationIsRunning(kHelper); }));
    EXPECT_EQ(helpers().size(), 1u);
    EXPECT_EQ(AppUtil::getApplicationPidsByName(kHelper).size(), 1u);
}

TEST_F(HelperByName, SwitchedOnTwiceThenOffLeavesNoHelper) {
    AppUtil::launchApplication(bundle);
    ASSERT_TRUE(eventually([] { return AppUtil::applicationIsRunning(kHelper); }));
    AppUtil::launchApplication(bundle);
    AppUtil::killApplicationByName(kHelper);
    EXPECT_TRUE(eventually([] { return !AppUtil::applicationIsRunning(kHelper); }));
    EXPECT_TRUE(helpers().empty());
}

} // namespace
