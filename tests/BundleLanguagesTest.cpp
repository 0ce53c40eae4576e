#include "platform/bundle/Bundle.h"
#include "platform/bundle/UserLanguages.h"
#include "platform/plist/PlistFile.h"

#include "tests/support/TempHome.h"
#include "tests/support/UserLanguage.h"

#include <gtest/gtest.h>

using platform::bundle::Bundle;
using sonvela::test::UserLanguage;
using Languages = std::vector<std::string>;

namespace {

struct LanguagesCase {
    const char* name;
    const char* language;
    const char* all;
    const char* messages;
    const char* lang;
    Languages expected;
    friend void PrintTo(const LanguagesCase& c, std::ostream* os) { *os << c.name; }
};

class UserLanguages : public testing::TestWithParam<LanguagesCase> {};

TEST_P(UserLanguages, FollowTheEnvironmentAsGettextDoes) {
    const LanguagesCase& c = GetParam();
    UserLanguage set(c.language, c.all, c.messages, c.lang);
    EXPECT_EQ(platform::bundle::userLanguages(), c.expected);
}

const LanguagesCase kLanguagesCases[] = {
    {"NothingSet", nullptr, nullptr, nullptr, nullptr, {}},
    {"LangWithCodeset", nullptr, nullptr, nullptr, "de_DE.UTF-8", {"de_DE", "de"}},
    {"MessagesBeforeLang", nullptr, nullptr, "fr_CA.UTF-8", "de_DE.UTF-8", {"fr_CA", "fr"}},
    {"AllBeforeMessages", nullptr, "fr_FR", "de_DE", "en_US", {"fr_FR", "fr"}},
    {"ListInsteadOfLocale", "fr_CA:de", nullptr, nullptr, "en_US.UTF-8", {"fr_CA", "fr", "de"}},
    {"ListUnderCUtf8", "de", nullptr, nullptr, "C.UTF-8", {"de"}},
    {"ListIgnoredWithoutLocale", "de", nullptr, nullptr, nullptr, {}},
    {"ListIgnoredUnderC", "de", nullptr, nullptr, "C", {}},
    {"ListIgnoredUnderPosix", "de", "POSIX", nullptr, "de_DE", {}},
    {"EmptyListMeansLocale", "", nullptr, nullptr, "fr_BE.UTF-8", {"fr_BE", "fr"}},
    {"Modifier",
     "sr_RS@latin",
     nullptr,
     nullptr,
     "C.UTF-8",
     {"sr_RS@latin", "sr@latin", "sr_RS", "sr"}},
    {"EmptyAndRepeatedEntries", "::de:de_DE:", nullptr, nullptr, "C.UTF-8", {"de", "de_DE"}},
    {"NamesThatLeaveAFolderDropped", "../../etc:x/y:dé:fr", nullptr, nullptr, "C.UTF-8", {"fr"}},
    {"CLocaleNamesNoLanguage", nullptr, nullptr, nullptr, "C.UTF-8", {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, UserLanguages, testing::ValuesIn(kLanguagesCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A bundle in English with German and French tables; the German one lacks an entry and has the
// window's compiled texts.
class LocalizedBundle : public testing::Test {
protected:
    void SetUp() override {
        using namespace platform::plist;
        namespace t = sonvela::test;
        t::makeDirs(resources + "/de.lproj");
        t::makeDirs(resources + "/fr.lproj");
        writeXmlAtomically(bundle + "/Info.plist",
                           Dictionary{{"CFBundleDevelopmentRegion", Value("en")}});
        writeXmlAtomically(resources + "/Localizable.strings",
                           Dictionary{{"Output", Value("Output")}, {"Ceiling", Value("Ceiling")}});
        writeXmlAtomically(resources + "/de.lproj/Localizable.strings",
                           Dictionary{{"Output", Value("Ausgang")}});
        writeXmlAtomically(resources + "/fr.lproj/Localizable.strings",
                           Dictionary{{"Output", Value("Sortie")}, {"Ceiling", Value("Plafond")}});
        t::writeAll(resources + "/de.lproj/Sonvela.qm", "de");
        t::writeAll(resources + "/sonvela.icns", "icon");
        t::writeAll(resources + "/de.lproj/sonvela.icns", "not this one");
    }
    sonvela::test::TempHome home;
    std::string bundle = home.path() + "/Sonvela.app";
    std::string resources = bundle + "/Resources";
};

struct LookupCase {
    const char* name;
    const char* language;
    const char* lang;
    std::optional<std::string> localization;
    const char* output;
    const char* ceiling;
    friend void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }
};

class Lookup : public LocalizedBundle, public testing::WithParamInterface<LookupCase> {};

TEST_P(Lookup, TakesTheFirstLanguageWithATableAndTheBaseForWhatItLacks) {
    const LookupCase& c = GetParam();
    UserLanguage set(c.language, nullptr, nullptr, c.lang);
    Bundle localized(bundle);
    EXPECT_EQ(localized.localization(), c.localization);
    EXPECT_EQ(localized.localizedString("Output", "", ""), c.output);
    EXPECT_EQ(localized.localizedString("Ceiling", "", "Localizable"), c.ceiling);
    EXPECT_EQ(localized.localizedString("Missing", "", ""), "Missing");
    EXPECT_EQ(localized.localizedString("Missing", "Fallback", ""), "Fallback");
    EXPECT_EQ(localized.localizedString("Output", "", "../Localizable"), "Output");
    // Other resources come from the language folder only when the base has none.
    EXPECT_EQ(localized.pathForResource("Sonvela", "qm"),
              c.localization == "de" ? std::optional(resources + "/de.lproj/Sonvela.qm")
                                     : std::nullopt);
    EXPECT_EQ(localized.pathForResource("sonvela.icns", ""), resources + "/sonvela.icns");
    EXPECT_EQ(localized.pathForResource("Missing", "qm"), std::nullopt);
}

const LookupCase kLookupCases[] = {
    {"RegionFallsBackToLanguage", nullptr, "de_AT.UTF-8", "de", "Ausgang", "Ceiling"},
    {"FirstLanguageWithAFolder", "es:fr:de", "C.UTF-8", "fr", "Sortie", "Plafond"},
    {"EnglishFirstMeansTheBase", "en_GB:de", "de_DE.UTF-8", std::nullopt, "Output", "Ceiling"},
    {"NoTableForAnyLanguage", "es:it", "C.UTF-8", std::nullopt, "Output", "Ceiling"},
    {"CLocale", "de", "C", std::nullopt, "Output", "Ceiling"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Lookup, testing::ValuesIn(kLookupCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
