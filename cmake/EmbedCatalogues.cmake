# Run at build time (cmake -P) by ui/CMakeLists.txt: writes OUTPUT, a source that holds the bytes
# of every compiled catalogue DIR/<language>.mo of LANGUAGES. The bytes stand in the source
# itself, not in an assembler .incbin, so the compiler cache sees a changed translation.
set(declarations "")
set(entries "")
foreach(language ${LANGUAGES})
  file(READ "${DIR}/${language}.mo" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(MAKE_C_IDENTIFIER "${language}" name)
  # Aligned as the .mo file's 32-bit words are read.
  string(APPEND declarations "alignas(4) const unsigned char kCatalogue_${name}[] = {${bytes}};\n")
  string(APPEND entries "        {\"${language}\", std::as_bytes(std::span(kCatalogue_${name}))},\n")
endforeach()
file(WRITE "${OUTPUT}.partial" "// Made by cmake/EmbedCatalogues.cmake from po/*.po: every compiled catalogue.
#include \"ui/catalogues.h\"

// NOLINTBEGIN
namespace veldmoor {
namespace {

${declarations}
}  // namespace

std::span<const EmbeddedCatalogue> EmbeddedCatalogues() {
    static const EmbeddedCatalogue catalogues[] = {
${entries}    };
    return catalogues;
}

}  // namespace veldmoor
// NOLINTEND
")
# Only a changed source is compiled again.
file(COPY_FILE "${OUTPUT}.partial" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.partial")
