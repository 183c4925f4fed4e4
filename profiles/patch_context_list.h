// The ordered list of profiles and the index selected last, stored in profiles.xml (and once
// imported from the older binary "contexts" file). Profiles are referred to by index; adding or
// removing may move the records, so keep no pointer from At() across a change of the list.
// No lock: changed on the user-interface thread; the patch worker reads and saves it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "profiles/patch_context.h"
#include "system/result.h"

namespace veldmoor {

inline constexpr char kProfilesFileName[] = "profiles.xml";
inline constexpr char kLegacyContextsFileName[] = "contexts";

// What the one-time import of the contexts file gives.
struct [[nodiscard]] ContextsImport {
    // The selected index; none when nothing was imported or no profile.
    std::optional<std::size_t> selected;
    // Writing the new profiles.xml; while it fails, the next start imports again.
    Status saved;
};

class PatchContextList {
public:
    // folder: where profiles.xml and contexts live; empty means the current directory, which
    // start-up keeps at the launcher's folder.
    explicit PatchContextList(std::string folder = {});

    // One-time import of the contexts file: does nothing when profiles.xml exists or contexts
    // cannot be read. Otherwise appends its profiles and saves profiles.xml (so the import never
    // runs again; contexts stays where it is). ImportContextsOrTell (profiles/profile_save.h)
    // tells the player when that save fails.
    ContextsImport ImportContexts();

    // Appends the profiles of profiles.xml. Returns the selected index, or none when the file
    // is missing, unreadable or malformed (the list is then unchanged) or the list is empty.
    std::optional<std::size_t> Load();
    // The same for the file's bytes.
    std::optional<std::size_t> LoadFromText(std::string bytes);

    // Writes the whole list to profiles.xml through a temporary file renamed over it, so a
    // failure (full disk, crash) leaves the previous file intact; SaveProfilesOrTell
    // (profiles/profile_save.h) tells the player.
    Status Save();

    // The exact bytes Save writes.
    std::string ToXml() const;

    void Add(const PatchContext& context);
    // Removes the profile at index; the ones behind move up. An index past the end does nothing.
    void Remove(std::size_t index);
    std::size_t Count() const { return profiles_.size(); }
    // The profile at index, or nullptr past the end.
    PatchContext* At(std::size_t index);
    const PatchContext* At(std::size_t index) const;

    std::uint32_t LastSelected() const { return lastSelected_; }
    void SetLastSelected(std::uint32_t index) { lastSelected_ = index; }

    std::string ProfilesFilePath() const;
    std::string ContextsFilePath() const;

private:
    // Sets LastSelected to 0 unless it names a profile; returns it, or none for an empty list.
    std::optional<std::size_t> ClampLastSelected();

    std::string folder_;
    std::vector<PatchContext> profiles_;
    std::uint32_t lastSelected_ = 0;
};

}  // namespace veldmoor
