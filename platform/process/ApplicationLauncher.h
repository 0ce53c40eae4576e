#pragma once

#include <string>

namespace platform::process {

enum class LaunchResult { Launched, AlreadyRunning, Failed };

// Starts the application whose bundle lies at the path: the program that its Info.plist names
// as CFBundleExecutable, in bin/. It runs in a session of its own with "/" as its working
// folder and standard input from /dev/null, is not waited for and outlives the caller; no
// zombie of it is left behind. An application whose instance lock (by CFBundleIdentifier) is
// held already runs and is not started again. The launcher holds that lock while it starts
// the program and hands it down, so two launches at the same moment still start one copy.
//
// hidden asks the application to start without showing a window: it finds the product's
// launched-hidden variable set to 1 in its environment (see launchedHidden()).
LaunchResult launchApplication(const std::string& bundlePath, bool hidden = false);

// Whether this program was launched hidden. The request is taken out of the environment, so
// the programs it starts do not inherit it; call it once, at start, before threads exist.
bool launchedHidden();

} // namespace platform::process
