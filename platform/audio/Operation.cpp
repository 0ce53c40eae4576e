#include "platform/audio/Operation.h"

#include <utility>

namespace platform::audio::pulse {

Operation::Operation(Operation&& other) noexcept
    : operation_(std::exchange(other.operation_, nullptr)) {}

Operation& Operation::operator=(Operation&& other) noexcept {
    if (this != &other) {
        release();
        operation_ = std::exchange(other.operation_, nullptr);
    }
    return *this;
}

bool Operation::running() const {
    return operation_ != nullptr && pa_operation_get_state(operation_) == PA_OPERATION_RUNNING;
}

bool Operation::done() const {
    return operation_ != nullptr && pa_operation_get_state(operation_) == PA_OPERATION_DONE;
}

void Operation::cancel() {
    if (running()) {
        pa_operation_cancel(operation_);
    }
}

void Operation::release() {
    if (operation_ != nullptr) {
        pa_operation_unref(std::exchange(operation_, nullptr));
    }
}

} // namespace platform::audio::pulse
