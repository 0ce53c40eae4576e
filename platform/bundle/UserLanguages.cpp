#include "platform/bundle/UserLanguages.h"

#include <algorithm>
#include <cstdlib>

namespace platform::bundle {

namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// The locale that messages follow, as setlocale(LC_MESSAGES, "") would pick it.
std::string messagesLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        std::string value = variable(name);
        if (!value.empty()) {
            return value;
        }
    }
    return "C";
}

// ASCII letters, digits, "_", "-" and "@" only, whatever the locale: the name becomes part of a
// folder's name.
bool isPlainName(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '@';
    });
}

// "ll_CC.codeset@modifier" gives ll_CC@modifier, ll@modifier, ll_CC, ll: a variant before the
// plain language, as gettext tries them.
void addWithFallbacks(std::string name, std::vector<std::string>& languages) {
    std::string modifier;
    if (std::size_t at = name.find('@'); at != std::string::npos) {
        modifier = name.substr(at);
        name.erase(at);
    }
    name.erase(std::min(name.find('.'), name.size()));
    std::string language = name.substr(0, name.find('_'));
    if (language == "C" || language == "POSIX") {
        return;
    }
    std::vector<std::string> candidates;
    if (!modifier.empty()) {
        candidates = {name + modifier, language + modifier};
    }
    candidates.push_back(name);
    candidates.push_back(language);
    for (const std::string& candidate : candidates) {
        if (isPlainName(candidate) &&
            std::find(languages.begin(), languages.end(), candidate) == languages.end()) {
            languages.push_back(candidate);
        }
    }
}

} // namespace

std::vector<std::string> userLanguages() {
    std::string locale = messagesLocale();
    std::vector<std::string> languages;
    // gettext leaves LANGUAGE alone under the C locale, whose programs must speak plain English;
    // otherwise the list stands in for the locale.
    std::string list = locale == "C" || locale == "POSIX" ? std::string() : variable("LANGUAGE");
    if (list.empty()) {
        addWithFallbacks(locale, languages);
        return languages;
    }
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = std::min(list.find(':', start), list.size());
        addWithFallbacks(list.substr(start, end - start), languages);
        start = end + 1;
    }
    return languages;
}

} // namespace platform::bundle
