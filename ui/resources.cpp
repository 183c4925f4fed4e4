// Embeds res/png/*.png, res/png/2x/*.png and res/fonts/* with the assembler's .incbin, so the
// pictures and fonts need no files at run time. VELDMOOR_RES_DIR is set by ui/CMakeLists.txt.
#include "ui/resources.h"

#include <array>

// ui/CMakeLists.txt names the res/ folder and the object format's read-only data section.
#if !defined(VELDMOOR_RES_DIR) || !defined(VELDMOOR_EMBED_SECTION) || \
    !defined(VELDMOOR_EMBED_SECTION_END)
#error "ui/CMakeLists.txt must set VELDMOOR_RES_DIR and the embedding section's directives"
#endif

// NOLINTBEGIN
#define VELDMOOR_EMBED(symbol, file)                                               \
    asm(VELDMOOR_EMBED_SECTION                                                     \
        ".balign 16\n"                                                             \
        ".global " #symbol "_begin\n" #symbol                                      \
        "_begin:\n"                                                                \
        ".incbin \"" VELDMOOR_RES_DIR "/" file                                     \
        "\"\n"                                                                     \
        ".global " #symbol "_end\n" #symbol "_end:\n" VELDMOOR_EMBED_SECTION_END); \
    extern "C" const std::byte symbol##_begin[];                                   \
    extern "C" const std::byte symbol##_end[];

VELDMOOR_EMBED(veldmoor_png_128, "png/128.png")
VELDMOOR_EMBED(veldmoor_png_131, "png/131.png")
VELDMOOR_EMBED(veldmoor_png_147, "png/147.png")
VELDMOOR_EMBED(veldmoor_png_148, "png/148.png")
VELDMOOR_EMBED(veldmoor_png_149, "png/149.png")
VELDMOOR_EMBED(veldmoor_png_150, "png/150.png")
VELDMOOR_EMBED(veldmoor_png_151, "png/151.png")
VELDMOOR_EMBED(veldmoor_png_152, "png/152.png")
VELDMOOR_EMBED(veldmoor_png_153, "png/153.png")
VELDMOOR_EMBED(veldmoor_png_154, "png/154.png")
VELDMOOR_EMBED(veldmoor_png_155, "png/155.png")
VELDMOOR_EMBED(veldmoor_png_156, "png/156.png")
VELDMOOR_EMBED(veldmoor_png_158, "png/158.png")
VELDMOOR_EMBED(veldmoor_png_159, "png/159.png")
VELDMOOR_EMBED(veldmoor_png_162, "png/162.png")
VELDMOOR_EMBED(veldmoor_png_163, "png/163.png")
VELDMOOR_EMBED(veldmoor_png_164, "png/164.png")
VELDMOOR_EMBED(veldmoor_png_165, "png/165.png")
VELDMOOR_EMBED(veldmoor_png_166, "png/166.png")
VELDMOOR_EMBED(veldmoor_png_167, "png/167.png")
VELDMOOR_EMBED(veldmoor_png_168, "png/168.png")
VELDMOOR_EMBED(veldmoor_png_170, "png/170.png")
VELDMOOR_EMBED(veldmoor_png_171, "png/171.png")
VELDMOOR_EMBED(veldmoor_png_172, "png/172.png")
VELDMOOR_EMBED(veldmoor_png_174, "png/174.png")
VELDMOOR_EMBED(veldmoor_png_175, "png/175.png")
VELDMOOR_EMBED(veldmoor_png_176, "png/176.png")
VELDMOOR_EMBED(veldmoor_png_177, "png/177.png")
VELDMOOR_EMBED(veldmoor_png_179, "png/179.png")
VELDMOOR_EMBED(veldmoor_png_180, "png/180.png")
VELDMOOR_EMBED(veldmoor_png_181, "png/181.png")
VELDMOOR_EMBED(veldmoor_png_182, "png/182.png")
VELDMOOR_EMBED(veldmoor_png_183, "png/183.png")
VELDMOOR_EMBED(veldmoor_png_190, "png/190.png")
VELDMOOR_EMBED(veldmoor_png_191, "png/191.png")
VELDMOOR_EMBED(veldmoor_png_192, "png/192.png")
VELDMOOR_EMBED(veldmoor_png_193, "png/193.png")
VELDMOOR_EMBED(veldmoor_png_194, "png/194.png")
VELDMOOR_EMBED(veldmoor_png_195, "png/195.png")
VELDMOOR_EMBED(veldmoor_png_196, "png/196.png")
VELDMOOR_EMBED(veldmoor_png_197, "png/197.png")
VELDMOOR_EMBED(veldmoor_png_198, "png/198.png")
VELDMOOR_EMBED(veldmoor_png_199, "png/199.png")
VELDMOOR_EMBED(veldmoor_png_200, "png/200.png")
VELDMOOR_EMBED(veldmoor_png_201, "png/201.png")
VELDMOOR_EMBED(veldmoor_png2x_128, "png/2x/128.png")
VELDMOOR_EMBED(veldmoor_png2x_131, "png/2x/131.png")
VELDMOOR_EMBED(veldmoor_png2x_147, "png/2x/147.png")
VELDMOOR_EMBED(veldmoor_png2x_148, "png/2x/148.png")
VELDMOOR_EMBED(veldmoor_png2x_149, "png/2x/149.png")
VELDMOOR_EMBED(veldmoor_png2x_150, "png/2x/150.png")
VELDMOOR_EMBED(veldmoor_png2x_151, "png/2x/151.png")
VELDMOOR_EMBED(veldmoor_png2x_152, "png/2x/152.png")
VELDMOOR_EMBED(veldmoor_png2x_153, "png/2x/153.png")
VELDMOOR_EMBED(veldmoor_png2x_154, "png/2x/154.png")
VELDMOOR_EMBED(veldmoor_png2x_155, "png/2x/155.png")
VELDMOOR_EMBED(veldmoor_png2x_156, "png/2x/156.png")
VELDMOOR_EMBED(veldmoor_png2x_158, "png/2x/158.png")
VELDMOOR_EMBED(veldmoor_png2x_159, "png/2x/159.png")
VELDMOOR_EMBED(veldmoor_png2x_162, "png/2x/162.png")
VELDMOOR_EMBED(veldmoor_png2x_163, "png/2x/163.png")
VELDMOOR_EMBED(veldmoor_png2x_164, "png/2x/164.png")
VELDMOOR_EMBED(veldmoor_png2x_165, "png/2x/165.png")
VELDMOOR_EMBED(veldmoor_png2x_166, "png/2x/166.png")
VELDMOOR_EMBED(veldmoor_png2x_167, "png/2x/167.png")
VELDMOOR_EMBED(veldmoor_png2x_168, "png/2x/168.png")
VELDMOOR_EMBED(veldmoor_png2x_170, "png/2x/170.png")
VELDMOOR_EMBED(veldmoor_png2x_171, "png/2x/171.png")
VELDMOOR_EMBED(veldmoor_png2x_172, "png/2x/172.png")
VELDMOOR_EMBED(veldmoor_png2x_174, "png/2x/174.png")
VELDMOOR_EMBED(veldmoor_png2x_175, "png/2x/175.png")
VELDMOOR_EMBED(veldmoor_png2x_176, "png/2x/176.png")
VELDMOOR_EMBED(veldmoor_png2x_177, "png/2x/177.png")
VELDMOOR_EMBED(veldmoor_png2x_179, "png/2x/179.png")
VELDMOOR_EMBED(veldmoor_png2x_180, "png/2x/180.png")
VELDMOOR_EMBED(veldmoor_png2x_181, "png/2x/181.png")
VELDMOOR_EMBED(veldmoor_png2x_182, "png/2x/182.png")
VELDMOOR_EMBED(veldmoor_png2x_183, "png/2x/183.png")
VELDMOOR_EMBED(veldmoor_png2x_190, "png/2x/190.png")
VELDMOOR_EMBED(veldmoor_png2x_191, "png/2x/191.png")
VELDMOOR_EMBED(veldmoor_png2x_192, "png/2x/192.png")
VELDMOOR_EMBED(veldmoor_png2x_193, "png/2x/193.png")
VELDMOOR_EMBED(veldmoor_png2x_194, "png/2x/194.png")
VELDMOOR_EMBED(veldmoor_png2x_195, "png/2x/195.png")
VELDMOOR_EMBED(veldmoor_png2x_196, "png/2x/196.png")
VELDMOOR_EMBED(veldmoor_png2x_197, "png/2x/197.png")
VELDMOOR_EMBED(veldmoor_png2x_198, "png/2x/198.png")
VELDMOOR_EMBED(veldmoor_png2x_199, "png/2x/199.png")
VELDMOOR_EMBED(veldmoor_png2x_200, "png/2x/200.png")
VELDMOOR_EMBED(veldmoor_png2x_201, "png/2x/201.png")
VELDMOOR_EMBED(veldmoor_font_185, "fonts/185.ttf")
VELDMOOR_EMBED(veldmoor_font_186, "fonts/186.otf")
// NOLINTEND

namespace veldmoor {

namespace {

struct Entry {
    int id;
    const std::byte* begin;
    const std::byte* end;
};

#define VELDMOOR_PNG(id)                                       \
    Entry {                                                    \
        id, veldmoor_png_##id##_begin, veldmoor_png_##id##_end \
    }
const std::array kPngs = {
    VELDMOOR_PNG(128), VELDMOOR_PNG(131), VELDMOOR_PNG(147), VELDMOOR_PNG(148), VELDMOOR_PNG(149),
    VELDMOOR_PNG(150), VELDMOOR_PNG(151), VELDMOOR_PNG(152), VELDMOOR_PNG(153), VELDMOOR_PNG(154),
    VELDMOOR_PNG(155), VELDMOOR_PNG(156), VELDMOOR_PNG(158), VELDMOOR_PNG(159), VELDMOOR_PNG(162),
    VELDMOOR_PNG(163), VELDMOOR_PNG(164), VELDMOOR_PNG(165), VELDMOOR_PNG(166), VELDMOOR_PNG(167),
    VELDMOOR_PNG(168), VELDMOOR_PNG(170), VELDMOOR_PNG(171), VELDMOOR_PNG(172), VELDMOOR_PNG(174),
    VELDMOOR_PNG(175), VELDMOOR_PNG(176), VELDMOOR_PNG(177), VELDMOOR_PNG(179), VELDMOOR_PNG(180),
    VELDMOOR_PNG(181), VELDMOOR_PNG(182), VELDMOOR_PNG(183), VELDMOOR_PNG(190), VELDMOOR_PNG(191),
    VELDMOOR_PNG(192), VELDMOOR_PNG(193), VELDMOOR_PNG(194), VELDMOOR_PNG(195), VELDMOOR_PNG(196),
    VELDMOOR_PNG(197), VELDMOOR_PNG(198), VELDMOOR_PNG(199), VELDMOOR_PNG(200), VELDMOOR_PNG(201)};
#undef VELDMOOR_PNG
#define VELDMOOR_PNG2X(id)                                         \
    Entry {                                                        \
        id, veldmoor_png2x_##id##_begin, veldmoor_png2x_##id##_end \
    }
const std::array kPngs2x = {
    VELDMOOR_PNG2X(128), VELDMOOR_PNG2X(131), VELDMOOR_PNG2X(147), VELDMOOR_PNG2X(148),
    VELDMOOR_PNG2X(149), VELDMOOR_PNG2X(150), VELDMOOR_PNG2X(151), VELDMOOR_PNG2X(152),
    VELDMOOR_PNG2X(153), VELDMOOR_PNG2X(154), VELDMOOR_PNG2X(155), VELDMOOR_PNG2X(156),
    VELDMOOR_PNG2X(158), VELDMOOR_PNG2X(159), VELDMOOR_PNG2X(162), VELDMOOR_PNG2X(163),
    VELDMOOR_PNG2X(164), VELDMOOR_PNG2X(165), VELDMOOR_PNG2X(166), VELDMOOR_PNG2X(167),
    VELDMOOR_PNG2X(168), VELDMOOR_PNG2X(170), VELDMOOR_PNG2X(171), VELDMOOR_PNG2X(172),
    VELDMOOR_PNG2X(174), VELDMOOR_PNG2X(175), VELDMOOR_PNG2X(176), VELDMOOR_PNG2X(177),
    VELDMOOR_PNG2X(179), VELDMOOR_PNG2X(180), VELDMOOR_PNG2X(181), VELDMOOR_PNG2X(182),
    VELDMOOR_PNG2X(183), VELDMOOR_PNG2X(190), VELDMOOR_PNG2X(191), VELDMOOR_PNG2X(192),
    VELDMOOR_PNG2X(193), VELDMOOR_PNG2X(194), VELDMOOR_PNG2X(195), VELDMOOR_PNG2X(196),
    VELDMOOR_PNG2X(197), VELDMOOR_PNG2X(198), VELDMOOR_PNG2X(199), VELDMOOR_PNG2X(200),
    VELDMOOR_PNG2X(201)};
#undef VELDMOOR_PNG2X

const std::array kFonts = {Entry{185, veldmoor_font_185_begin, veldmoor_font_185_end},
                           Entry{186, veldmoor_font_186_begin, veldmoor_font_186_end}};

template <typename Table>
std::span<const std::byte> Find(const Table& table, int id) {
    for (const Entry& entry : table) {
        if (entry.id == id)
            return {entry.begin, entry.end};
    }
    return {};
}

}  // namespace

std::span<const std::byte> PngResource(int id, int scale) {
    return scale == 2 ? Find(kPngs2x, id) : Find(kPngs, id);
}

std::span<const std::byte> FontResource(int id) {
    return Find(kFonts, id);
}

const char* FontResourceExtension(int id) {
    return id == 186 ? ".otf" : ".ttf";
}

}  // namespace veldmoor
