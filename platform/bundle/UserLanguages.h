#pragma once

#include <string>
#include <vector>

namespace platform::bundle {

// The user's languages, most wanted first, read the way gettext reads them: LANGUAGE (a colon
// list) unless the locale is C or POSIX, else the locale of LC_ALL, LC_MESSAGES or LANG, the
// first that is set. Each name loses its codeset ("de_DE.UTF-8" is "de_DE") and is followed by
// its language alone ("de_DE", then "de"); names that could leave a folder are dropped.
std::vector<std::string> userLanguages();

} // namespace platform::bundle
