#include "platform/audio/Timer.h"

#include <gtest/gtest.h>

#include <memory>
#include <pulse/mainloop.h>

using platform::audio::pulse::Timer;

namespace {

TEST(Timer, FiresOnceWhereverItWasMovedAndMayDropItself) {
    std::unique_ptr<pa_mainloop, decltype(&pa_mainloop_free)> loop(pa_mainloop_new(),
                                                                   pa_mainloop_free);
    pa_mainloop_api* api = pa_mainloop_get_api(loop.get());
    int fired = 0;
    Timer first(api);
    first.start(0, [&] { ++fired; });
    Timer moved = std::move(first);
    EXPECT_FALSE(first.running());
    auto dropped = std::make_unique<Timer>(api);
    dropped->start(0, [&] {
        dropped.reset();
        ++fired;
    });
    Timer restarted(api);
    restarted.start(0, [&] { fired += 100; });
    restarted.start(0, [&] { ++fired; });
    Timer stopped(api);
    stopped.start(0, [&] { fired += 100; });
    stopped.stop();
    Timer reassigned(api);
    reassigned.start(0, [&] { fired += 100; });
    reassigned = Timer(api);

    while (moved.running() || dropped || restarted.running()) {
        pa_mainloop_iterate(loop.get(), 1, nullptr);
    }
    pa_mainloop_iterate(loop.get(), 0, nullptr);
    EXPECT_EQ(fired, 3);
}

} // namespace
