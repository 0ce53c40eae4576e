#pragma once

namespace platform::window {

// A dialog shown modally over one window only.
class Sheet {
public:
    virtual ~Sheet() = default;
    // Ends the sheet's modal session with a return code for whoever waits on it.
    virtual void end(int returnCode) = 0;
    virtual void close() = 0;
};

// What the shared code needs of a window, whatever toolkit draws it.
class Window {
public:
    virtual ~Window() = default;
    // The sheet shown on the window, or null.
    virtual Sheet* attachedSheet() = 0;
};

} // namespace platform::window
