#pragma once

#include <chrono>
#include <thread>

namespace sonvela::test {

// Polls the condition until it holds or the deadline has passed; the machines that run the
// tests are noisy, so the deadline is generous and never the point of a test.
template <typename Condition>
bool eventually(Condition condition,
                std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace sonvela::test
