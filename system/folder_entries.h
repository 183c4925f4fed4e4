// The names a folder holds, as the system spells them (UTF-8).
#pragma once

#include <string>
#include <vector>

namespace veldmoor {

// Names of the entries directly in folder ("" means the current folder), without "." and "..",
// in the order the system lists them; links are listed, never followed. Empty when the folder
// cannot be read.
std::vector<std::string> FolderEntryNames(const std::string& folder);

}  // namespace veldmoor
