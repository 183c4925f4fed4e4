// Folders in the shared temporary directory that the launcher runs its program copy from.
// Another user who could create or change such a folder could replace the copy before it runs,
// so the folder must belong to this user and be writable by this user alone.
#pragma once

#include <string>

namespace veldmoor {

// Makes sure folder exists as a directory that only this user can change: creates it when it
// is missing and takes away write access of others from a folder of this user. False when it
// cannot be created, is not a directory (a plain file, a symbolic link) or belongs to someone
// else. On Windows the folder's list is replaced by one that is not inherited: this user, the
// system and the administrators.
bool EnsurePrivateDirectory(const std::string& folder);

}  // namespace veldmoor
