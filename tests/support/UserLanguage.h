#pragma once

#include <array>
#include <cstdlib>
#include <optional>
#include <string>

namespace sonvela::test {

// Sets LANGUAGE, LC_ALL, LC_MESSAGES and LANG (nullptr unsets one) while the object lives.
class UserLanguage {
public:
    UserLanguage(const char* language, const char* all, const char* messages, const char* lang) {
        const std::array<const char*, 4> values{language, all, messages, lang};
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            if (const char* old = std::getenv(kNames[i])) {
                saved_[i] = old;
            }
            set(kNames[i], values[i]);
        }
    }
    // The usual test case: a LANGUAGE list under a locale that lets it count.
    explicit UserLanguage(const char* language)
        : UserLanguage(language, nullptr, nullptr, "C.UTF-8") {}
    ~UserLanguage() {
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            set(kNames[i], saved_[i] ? saved_[i]->c_str() : nullptr);
        }
    }
    UserLanguage(const UserLanguage&) = delete;
    UserLanguage& operator=(const UserLanguage&) = delete;

private:
    static constexpr std::array<const char*, 4> kNames{"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    static void set(const char* name, const char* value) {
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    std::array<std::optional<std::string>, 4> saved_;
};

} // namespace sonvela::test
