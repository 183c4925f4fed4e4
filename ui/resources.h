// The launcher's built-in resources: the PNG pictures and the two TrueType fonts from res/,
// compiled into the program so that it ships complete. Ids are the resource ids the window
// code uses (147 background, 148-177 buttons and pictures, 179-183 menu icons, 128 and 131
// program pictures, 185 and 186 fonts).
#pragma once

#include <cstddef>
#include <span>

namespace veldmoor {

// Bytes of the PNG picture with this id, from the set drawn at `scale` times the picture's size
// (1 or 2); empty when there is none.
std::span<const std::byte> PngResource(int id, int scale = 1);

// Bytes of the embedded font with this id (185 "Runeglyph_Hollow", 186 "Runeglyph_Solid");
// empty when there is none.
std::span<const std::byte> FontResource(int id);
// File name extension of that font (".ttf" or ".otf"), for writing it out.
const char* FontResourceExtension(int id);

}  // namespace veldmoor
