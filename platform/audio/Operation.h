#pragma once

#include <pulse/operation.h>

namespace platform::audio::pulse {

// One request to the sound server, holding its reference until it goes or is given another
// request. Not copyable: two owners would release the reference twice.
class Operation {
public:
    // Takes over the reference libpulse gave; nullptr when the request could not be sent.
    explicit Operation(pa_operation* operation = nullptr) noexcept : operation_(operation) {}
    ~Operation() { release(); }
    Operation(Operation&& other) noexcept;
    Operation& operator=(Operation&& other) noexcept;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // Whether the request was sent.
    explicit operator bool() const { return operation_ != nullptr; }
    // Still waiting for the server's answer.
    bool running() const;
    // Answered; a request that was never sent, failed or was cancelled is not.
    bool done() const;
    // Its callback will not run, whatever the server does later.
    void cancel();

private:
    void release();

    pa_operation* operation_;
};

} // namespace platform::audio::pulse
