#include "platform/loginwindow/LoginWindow.h"
#include "shared/SonvelaNames.h"

// Started by the desktop session at login through its autostart entry; starts the login items
// and ends. What it starts runs on in sessions of their own.
int main() {
    useSonvelaNames();
    return platform::loginwindow::launchLoginItems() == 0 ? 0 : 1;
}
