// The player's language: texts are written in German in the sources and looked up in the
// catalogue of the language the system asks for.
#pragma once
#include <string>
namespace veldmoor {
// Marks a German source text (UTF-8) for the catalogue and returns it in the player's language.
std::string tr(const char* german);
}  // namespace veldmoor
