#include "ui/translate.h"

#include <wx/arrstr.h>
#include <wx/translation.h>
#include <wx/uilocale.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "ui/catalogues.h"

namespace veldmoor {
namespace {

// The catalogue's name: po/veldmoor-launcher.pot is its template.
constexpr char kDomain[] = "veldmoor-launcher";

// "en_gb" of "en_GB.UTF-8" or "en-GB", lower case; "c" of "C.UTF-8".
std::string LocaleName(const std::string& locale) {
    std::string name = locale.substr(0, locale.find_first_of(".@"));
    std::replace(name.begin(), name.end(), '-', '_');
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

std::string LanguageOf(const std::string& locale) {
    const std::string name = LocaleName(locale);
    return name.substr(0, name.find('_'));
}

wxString Wide(std::string_view text) {
    return wxString::FromUTF8(text.data(), text.size());
}

const EmbeddedCatalogue* FindCatalogue(const wxString& language) {
    for (const EmbeddedCatalogue& catalogue : EmbeddedCatalogues()) {
        if (Wide(catalogue.language) == language)
            return &catalogue;
    }
    return nullptr;
}

// Hands wxTranslations the catalogues built into the program.
class EmbeddedCatalogueLoader : public wxTranslationsLoader {
public:
    wxMsgCatalog* LoadCatalog(const wxString& domain, const wxString& language) override {
        const EmbeddedCatalogue* catalogue = FindCatalogue(language);
        if (domain != kDomain || catalogue == nullptr)
            return nullptr;
        // The bytes live as long as the program; the catalogue copies what it keeps.
        return wxMsgCatalog::CreateFromData(
            wxScopedCharBuffer::CreateNonOwned(
                reinterpret_cast<const char*>(catalogue->bytes.data()), catalogue->bytes.size()),
            domain);
    }

    wxArrayString GetAvailableTranslations(const wxString& domain) const override {
        wxArrayString languages;
        if (domain == kDomain) {
            for (const EmbeddedCatalogue& catalogue : EmbeddedCatalogues())
                languages.push_back(Wide(catalogue.language));
        }
        return languages;
    }
};

// The languages the system asks for. The toolkit reports the C locale as American English,
// but that locale asks for no language, and gets the sources' German as a gettext program would.
std::vector<std::string> SystemLanguages() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0')
            continue;
        const std::string language = LanguageOf(value);
        if (language == "c" || language == "posix")
            return {"C"};
        break;
    }
    std::vector<std::string> wanted;
    for (const wxString& language : wxUILocale::GetPreferredUILanguages())
        wanted.emplace_back(language.utf8_str());
    return wanted;
}

}  // namespace

std::string tr(const char* german) {
    const wxTranslations* translations = wxTranslations::Get();
    // The empty text's entry in a catalogue is its header, not a translation.
    if (translations == nullptr || *german == '\0')
        return german;
    // Not wxGetTranslation: for a text without translation it keeps a copy in a set that every
    // thread would share; the German text is at hand.
    const wxString* translated = translations->GetTranslatedString(wxString::FromUTF8(german));
    return translated != nullptr ? std::string(translated->utf8_str()) : std::string(german);
}

std::vector<std::string> CatalogueLanguages() {
    std::vector<std::string> languages;
    for (const EmbeddedCatalogue& catalogue : EmbeddedCatalogues())
        languages.emplace_back(catalogue.language);
    return languages;
}

std::string LanguageFor(const std::vector<std::string>& wanted,
                        const std::vector<std::string>& catalogues) {
    for (const std::string& locale : wanted) {
        const std::string language = LanguageOf(locale);
        if (language == kSourceLanguage)
            return kSourceLanguage;
        // A catalogue for a region ("pt_BR") before the one for its language ("pt").
        for (const std::string& name : {LocaleName(locale), language}) {
            const auto found = std::find_if(
                catalogues.begin(), catalogues.end(),
                [&](const std::string& catalogue) { return LocaleName(catalogue) == name; });
            if (found != catalogues.end())
                return *found;
        }
    }
    return kSourceLanguage;
}

std::string PlayersLanguage() {
    const char* chosen = std::getenv("VELDMOOR_LANGUAGE");
    if (chosen != nullptr && *chosen != '\0')
        return LanguageFor({chosen}, CatalogueLanguages());
    return LanguageFor(SystemLanguages(), CatalogueLanguages());
}

void UseLanguage(const std::string& language) {
    if (FindCatalogue(Wide(language)) == nullptr) {
        wxTranslations::Set(nullptr);
        return;
    }
    auto translations = std::make_unique<wxTranslations>();
    translations->SetLoader(new EmbeddedCatalogueLoader);
    translations->SetLanguage(Wide(language));
    const bool loaded = translations->AddCatalog(kDomain, wxLANGUAGE_GERMAN);
    wxTranslations::Set(loaded ? translations.release() : nullptr);
}

}  // namespace veldmoor
