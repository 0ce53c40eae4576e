#include "platform/bundle/Bundle.h"
#include "shared/AppUtil.h"
#include "tests/support/Eventually.h"
#include "tests/support/StrayProcesses.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

using namespace sonvela::test;

namespace {

const char* const kHelper = "Sonvela Helper";

// The built helper, started, found and stopped by name the way the settings program does it.
// It runs against a sound server that is not there, which it keeps retrying quietly.
class HelperByName : public testing::Test {
protected:
    void SetUp() override {
        platform::bundle::Bundle::overrideMainForTesting(SONVELA_APP_DIR);
        // Stopping by name would reach a helper of another home as well; ours has none yet.
        if (std::string pid = AppUtil::getApplicationPidByName(kHelper); !pid.empty()) {
            GTEST_SKIP() << "a Sonvela Helper of another home runs as this user: " << pid;
        }
    }
    void TearDown() override { platform::bundle::Bundle::overrideMainForTesting(std::nullopt); }

    std::vector<pid_t> helpers() { return processesNamed(home.path(), kHelper); }

    TempHome home;
    StrayProcesses strays{home.path()};
    std::string bundle = SONVELA_APP_DIR "/Resources/Sonvela Helper.app";
};

TEST_F(HelperByName, LaunchedOnceFoundStoppedGoneAndLaunchedAgain) {
    EXPECT_FALSE(AppUtil::applicationIsRunning(kHelper));
    // Twice at once, as two quick clicks would, and once more when it runs.
    AppUtil::launchApplication(bundle);
    AppUtil::launchApplication(bundle);
    // Its name shows before its environment does, which tells it is ours.
    ASSERT_TRUE(eventually([&] { return helpers().size() == 1; }));
    AppUtil::launchApplication(bundle);
    std::vector<pid_t> ours = helpers();
    ASSERT_EQ(ours.size(), 1u);
    EXPECT_EQ(AppUtil::getApplicationPidsByName(kHelper), std::vector{std::to_string(ours[0])});
    EXPECT_EQ(AppUtil::getApplicationPidByName(kHelper), std::to_string(ours[0]));

    // Gone as soon as the stop returns: a start right after it must not meet the old copy.
    AppUtil::killApplicationByName(kHelper);
    EXPECT_FALSE(AppUtil::applicationIsRunning(kHelper));
    EXPECT_TRUE(helpers().empty());
    AppUtil::launchApplication(bundle);
    EXPECT_TRUE(eventually([&] { return helpers().size() == 1; }));
    EXPECT_TRUE(AppUtil::applicationIsRunning(kHelper));
}

} // namespace
