#pragma once

#include <functional>
#include <string>

namespace platform::alert {

// Tells the user a message. It is logged in every case; a program with a window installs a
// presenter that shows a modal box and returns once it is dismissed, one without a window a
// presenter that passes it on without waiting.
using Presenter = std::function<void(const std::string& message)>;

void setPresenter(Presenter presenter);
void runModal(const std::string& message);

} // namespace platform::alert
