// The player's language: which catalogue the system's language settings choose, and the window
// and its texts in English from the catalogue built into the program.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/scoped_env.h"
#include "tests/ui/launcher_fixture.h"
#include "ui/fill_in.h"
#include "ui/progress_texts.h"
#include "ui/translate.h"
#include "ui/wx_prompt.h"

namespace veldmoor {
namespace {

using testing::ScopedEnv;

// The variables a system states its languages in, as gettext reads them, and the override.
struct LanguageCase {
    const char* name;
    std::optional<std::string> override;  // VELDMOOR_LANGUAGE
    std::optional<std::string> language;  // LANGUAGE, a list
    std::optional<std::string> all;       // LC_ALL
    std::optional<std::string> lang;      // LANG
    const char* expected;
};

// Named in the test's name and its failures, not as bytes.
void PrintTo(const LanguageCase& c, std::ostream* out) {
    *out << c.name;
}

class LanguageChoice : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(LanguageChoice, SystemSettingsChooseTheCatalogue) {
    const LanguageCase& c = GetParam();
    const ScopedEnv override("VELDMOOR_LANGUAGE", c.override);
    const ScopedEnv language("LANGUAGE", c.language);
    const ScopedEnv all("LC_ALL", c.all);
    const ScopedEnv messages("LC_MESSAGES", std::nullopt);
    const ScopedEnv lang("LANG", c.lang);
    EXPECT_EQ(PlayersLanguage(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Systems, LanguageChoice,
    ::testing::Values(LanguageCase{"British", {}, {}, {}, "en_GB.UTF-8", "en"},
                      LanguageCase{"American", {}, {}, {}, "en_US.UTF-8", "en"},
                      LanguageCase{"German", {}, {}, {}, "de_DE.UTF-8", "de"},
                      LanguageCase{"Austrian", {}, {}, {}, "de_AT", "de"},
                      LanguageCase{"FrenchHasNoCatalogue", {}, {}, {}, "fr_FR.UTF-8", "de"},
                      LanguageCase{"AllOverridesLang", {}, {}, "en_IE.UTF-8", "de_DE.UTF-8", "en"},
                      LanguageCase{"FrenchThenEnglish", {}, "fr:en", {}, "fr_FR.UTF-8", "en"},
                      LanguageCase{"GermanThenEnglish", {}, "de:en", {}, "de_DE.UTF-8", "de"},
                      LanguageCase{"CLocaleAsksForNone", {}, {}, {}, "C.UTF-8", "de"},
                      LanguageCase{"CLocaleIgnoresList", {}, "en", "C", {}, "de"},
                      LanguageCase{"OverrideEnglish", "en", {}, {}, "de_DE.UTF-8", "en"},
                      LanguageCase{"OverrideGerman", "de", {}, {}, "en_GB.UTF-8", "de"},
                      LanguageCase{"OverrideWithoutCatalogue", "xx", {}, {}, "en_GB.UTF-8", "de"}),
    [](const ::testing::TestParamInfo<LanguageCase>& info) { return info.param.name; });

TEST(LanguageChoice, RegionalCatalogueComesBeforeItsLanguage) {
    const std::vector<std::string> catalogues{"pt", "pt_BR"};
    EXPECT_EQ(LanguageFor({"pt-BR"}, catalogues), "pt_BR");
    EXPECT_EQ(LanguageFor({"pt_PT.UTF-8"}, catalogues), "pt");
    EXPECT_EQ(LanguageFor({"EN_us"}, {"en"}), "en");
}

// The language for one test, and the test run's own (German) again after it.
class InLanguage {
public:
    explicit InLanguage(const std::string& language) { UseLanguage(language); }
    ~InLanguage() { UseLanguage(PlayersLanguage()); }
    InLanguage(const InLanguage&) = delete;
    InLanguage& operator=(const InLanguage&) = delete;
};

TEST(Translation, GermanKeepsTheSourceBytesAndEnglishComesFromTheCatalogue) {
    {
        const InLanguage german("de");
        EXPECT_EQ(tr("Schließen"), "Schließen");
        EXPECT_EQ(TimeLeftText(0, 3ULL << 30, 1ULL << 20), "noch 51:12 min");
    }
    const InLanguage english("en");
    EXPECT_EQ(tr("Schließen"), "Close");
    EXPECT_EQ(FillIn(tr("Möchtest du das Profil '%1' wirklich löschen?"), {"Ä/ß"}),
              "Do you really want to delete the profile 'Ä/ß'?");
    EXPECT_EQ(TimeLeftText(0, 3ULL << 30, 1ULL << 20), "51:12 min left");
    // Not in the catalogue, or its header's key: the text as it is.
    EXPECT_EQ(tr("Kein Eintrag"), "Kein Eintrag");
    EXPECT_EQ(tr(""), "");
}

TEST(Translation, MainWindowShowsEnglish) {
    const InLanguage english("en");
    const uitest::ShownLauncher dialog;
    EXPECT_EQ(ToUtf8(dialog->autoStart->GetLabel()), "Start automatically");
    EXPECT_EQ(ToUtf8(dialog->closeButton->GetToolTipText()), "Close");
}

}  // namespace
}  // namespace veldmoor
