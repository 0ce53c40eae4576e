#pragma once

#include "tests/support/TempHome.h"

namespace sonvela::test {

// LANGUAGE, LC_ALL, LC_MESSAGES and LANG set (nullptr unsets one) while the object lives.
struct UserLanguage : ScopedVariables {
    UserLanguage(const char* language, const char* all, const char* messages, const char* lang) {
        set("LANGUAGE", language);
        set("LC_ALL", all);
        set("LC_MESSAGES", messages);
        set("LANG", lang);
    }
    // The usual test case: a LANGUAGE list under a locale that lets it count.
    explicit UserLanguage(const char* language)
        : UserLanguage(language, nullptr, nullptr, "C.UTF-8") {}
};

} // namespace sonvela::test
