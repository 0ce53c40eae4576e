#include "platform/bundle/Bundle.h"
#include "shared/AppUtil.h"
#include "tests/support/StrayProcesses.h"

#include <gtest/gtest.h>

using namespace sonvela::test;

// The built helper, started, found and stopped by name the way the settings program does it.
// It runs against a sound server that is not there, which it keeps retrying quietly.
TEST(HelperByName, LaunchedOnceFoundStoppedGone) {
    const char* const helper = "Sonvela Helper";
    TempHome home;
    StrayProcesses strays{home.path()};
    platform::bundle::Bundle::overrideMainForTesting(SONVELA_APP_DIR);
    // Stopping by name would reach a helper of another home as well; ours has none yet.
    if (std::string pid = AppUtil::getApplicationPidByName(helper); !pid.empty()) {
        GTEST_SKIP() << "a Sonvela Helper of another home runs as this user: " << pid;
    }
    std::string bundle = SONVELA_APP_DIR "/Resources/Sonvela Helper.app";
    // Twice at once, as two quick clicks would, and once more when it runs.
    AppUtil::launchApplication(bundle);
    AppUtil::launchApplication(bundle);
    // Its name shows before its environment does, which tells it is ours.
    ASSERT_TRUE(eventually([&] { return processesNamed(home.path(), helper).size() == 1; }));
    AppUtil::launchApplication(bundle);
    std::vector<pid_t> ours = processesNamed(home.path(), helper);
    ASSERT_EQ(ours.size(), 1u);
    EXPECT_EQ(AppUtil::getApplicationPidsByName(helper), std::vector{std::to_string(ours[0])});
    AppUtil::killApplicationByName(helper);
    EXPECT_FALSE(AppUtil::applicationIsRunning(helper));
    EXPECT_TRUE(processesNamed(home.path(), helper).empty());
}
