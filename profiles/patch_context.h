// One profile: where a game installation lives, which repository it follows, what runs after a
// patch run, and two switches. A plain value type; the list (patch_context_list.h) holds copies.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

namespace veldmoor {

// A text field with a fixed byte limit, as the profile files have always stored it. Every
// assignment truncates to the limit; a cut never splits a UTF-8 character, and text after an
// embedded NUL is dropped (the stored form is NUL-terminated).
template <std::size_t Limit>
class BoundedString {
public:
    static constexpr std::size_t kLimit = Limit;

    BoundedString() = default;
    BoundedString(std::string_view text) { Assign(text); }  // NOLINT(google-explicit-constructor)
    BoundedString& operator=(std::string_view text) {
        Assign(text);
        return *this;
    }

    const std::string& str() const { return text_; }
    operator const std::string&() const { return text_; }  // NOLINT(google-explicit-constructor)
    operator std::string_view() const { return text_; }    // NOLINT(google-explicit-constructor)
    const char* c_str() const { return text_.c_str(); }
    bool empty() const { return text_.empty(); }
    std::size_t size() const { return text_.size(); }

    friend bool operator==(const BoundedString& a, std::string_view b) { return a.text_ == b; }
    friend bool operator==(const BoundedString& a, const BoundedString& b) {
        return a.text_ == b.text_;
    }
    friend std::ostream& operator<<(std::ostream& out, const BoundedString& s) {
        return out << s.text_;
    }

private:
    void Assign(std::string_view text) {
        text = text.substr(0, text.find('\0'));
        std::size_t length = text.size() < Limit ? text.size() : Limit;
        if (length < text.size()) {
            // Step back over UTF-8 continuation bytes so the cut lands between characters.
            std::size_t back = 0;
            while (back < 3 && length > back &&
                   (static_cast<unsigned char>(text[length - back]) & 0xC0) == 0x80) {
                ++back;
            }
            if ((static_cast<unsigned char>(text[length - back]) & 0xC0) != 0x80) {
                length -= back;
            }
        }
        text_.assign(text.substr(0, length));
    }

    std::string text_;
};

// Field limits in bytes: 255 for the name, 259 (a Windows path) for the others.
inline constexpr std::size_t kProfileNameLimit = 255;
inline constexpr std::size_t kProfilePathLimit = 259;

struct PatchContext {
    BoundedString<kProfileNameLimit> Name;               // shown in the profile selector
    BoundedString<kProfilePathLimit> PatchPath;          // installation folder, absolute
    BoundedString<kProfilePathLimit> RepoPath;           // repository address (see addresses.h)
    BoundedString<kProfilePathLimit> ExecuteAfterPatch;  // program to start; empty: none
    bool AutoPatch = false;        // start the patch run when this profile is current at start-up
    bool SetRegistryPath = false;  // record client.exe as the game's ExePath after patching

    friend bool operator==(const PatchContext&, const PatchContext&) = default;
};

}  // namespace veldmoor
