#include "shared/SonvelaNames.h"

#include "platform/names/ProductNames.h"

void useSonvelaNames() {
    platform::setProductNames({
        .audioClient = "Sonvela",
        .preferencesFolder = "sonvela-preferences",
        .dataFolder = "sonvela",
        .loginWindowProgram = "sonvela-loginwindow",
        .loginWindowTitle = "Sonvela login items",
        .launchedHiddenVariable = "SONVELA_LAUNCHED_HIDDEN",
    });
}
