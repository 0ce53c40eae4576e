#include "helper/Sonvela_HelperAppDelegate.h"
#include "platform/process/InstanceLock.h"
#include "shared/SonvelaNames.h"

#include <csignal>
#include <malloc.h>
#include <unistd.h>

int main() {
    useSonvelaNames();
    // Three threads and a few small allocations: one malloc arena is plenty, and each extra
    // one would stay resident all day.
    mallopt(M_ARENA_MAX, 1);
    if (!platform::process::claimSingleInstance()) {
        return 0;
    }
    // Blocked before any thread starts, so only the wait below ever takes these signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    static Sonvela_HelperAppDelegate delegate;
    delegate.applicationDidFinishLaunching();

    int received = 0;
    sigwait(&stopSignals, &received);
    delegate.finishRestores();
    // Straight out: the notification thread may be waiting to start another restore.
    _exit(0);
}
