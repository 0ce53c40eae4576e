#include "platform/alert/Alert.h"

#include "platform/log/Log.h"

#include <mutex>

namespace platform::alert {

namespace {

std::mutex presenterMutex;
Presenter installed;

} // namespace

void setPresenter(Presenter presenter) {
    std::lock_guard lock(presenterMutex);
    installed = std::move(presenter);
}

void runModal(const std::string& message) {
    Presenter presenter;
    {
        std::lock_guard lock(presenterMutex);
        presenter = installed;
    }
    // Logged in every case: a background program's alert may have nobody to see it.
    log::nslog("%s", message.c_str());
    if (presenter) {
        presenter(message);
    }
}

} // namespace platform::alert
