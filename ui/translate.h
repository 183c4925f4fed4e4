// The player's language: texts are written in German in the sources and looked up in the
// catalogue of the language the system asks for.
#pragma once
#include <string>
namespace veldmoor {
// Marks a German source text (UTF-8) for the catalogue and returns it in the player's language.
std::string tr(const char* german);
}  // namespace veldmoor

#include <vector>

namespace veldmoor {

// Marks a German text for the catalogue where it stands in a table or a constant; tr() looks it
// up where it is shown.
constexpr const char* German(const char* text) {
    return text;
}

// German, the language of the sources, needs no catalogue.
inline constexpr char kSourceLanguage[] = "de";

// The languages whose catalogue (po/<language>.po) is built into the program, e.g. "en".
std::vector<std::string> CatalogueLanguages();

// The language for the languages a system asks for, most wanted first, as "en_GB", "de", "pt-BR"
// or "C": the first that is German or has a catalogue (of its region before one of its
// language), else German.
std::string LanguageFor(const std::vector<std::string>& wanted,
                        const std::vector<std::string>& catalogues);

// The language this player gets: VELDMOOR_LANGUAGE ("de", "en") when set, for tests and
// screenshots, else the languages the system's user interface asks for (the C locale asks for
// none).
std::string PlayersLanguage();

// Makes tr() answer in `language` (German when it has no catalogue). The start-up calls it once
// before any window opens: tr() may then be called from any thread, but not beside this.
void UseLanguage(const std::string& language);

}  // namespace veldmoor
