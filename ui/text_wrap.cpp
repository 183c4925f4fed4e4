#include "ui/text_wrap.h"

#include <wx/arrstr.h>

namespace veldmoor {

namespace {

// One paragraph, as WrapToWidth says.
wxString WrapParagraph(const wxWindow& text, const wxString& paragraph, int width) {
    const auto fits = [&](const wxString& line) { return text.GetTextExtent(line).x <= width; };
    wxString wrapped;
    wxString line;
    for (wxString word : wxSplit(paragraph, ' ', '\0')) {
        const wxString longer = line.empty() ? word : line + " " + word;
        if (fits(longer)) {
            line = longer;
            continue;
        }
        if (!line.empty()) {
            wrapped += line + "\n";
            line.clear();
        }
        while (word.length() > 1 && !fits(word)) {
            // The longest start of the word that fits, found by halving.
            std::size_t low = 1;
            std::size_t high = word.length() - 1;
            while (low < high) {
                const std::size_t middle = (low + high + 1) / 2;
                if (fits(word.Left(middle)))
                    low = middle;
                else
                    high = middle - 1;
            }
            std::size_t cut = low;
            const std::size_t separator = word.Left(low).find_last_of("/\\");
            if (separator != wxString::npos && separator > 0)
                cut = separator + 1;
            wrapped += word.Left(cut) + "\n";
            word = word.Mid(cut);
        }
        line = word;
    }
    return wrapped + line;
}

}  // namespace

wxString WrapToWidth(const wxWindow& measure, const wxString& text, int width) {
    wxString wrapped;
    for (const wxString& paragraph : wxSplit(text, '\n', '\0')) {
        if (!wrapped.empty())
            wrapped += "\n";
        wrapped += WrapParagraph(measure, paragraph, width);
    }
    return wrapped;
}

}  // namespace veldmoor
