// The compiled catalogues of po/*.po, embedded in the program by a source that
// cmake/EmbedCatalogues.cmake makes at build time, so the launcher finds its languages without
// any file beside it.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace veldmoor {

struct EmbeddedCatalogue {
    std::string_view language;         // the .po file's name: "en"
    std::span<const std::byte> bytes;  // the .mo file msgfmt made of it
};

std::span<const EmbeddedCatalogue> EmbeddedCatalogues();

}  // namespace veldmoor
