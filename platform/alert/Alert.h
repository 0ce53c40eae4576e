#pragma once

#include <functional>
#include <string>

namespace platform::alert {

// Shows a message the user has to acknowledge and returns once it is dismissed. A program with
// a window installs a presenter that shows a modal box; without one the message is logged.
using Presenter = std::function<void(const std::string& message)>;

void setPresenter(Presenter presenter);
void runModal(const std::string& message);

} // namespace platform::alert
