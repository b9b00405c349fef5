#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "base/status.h"

namespace dravelkent {

// The file operations of a settings save. |shown| names the file in
// messages.

// Follows |path| through symbolic links to the name of the file they end
// at, which need not exist, into |*target|. Returns ok, or the failure (a
// link that cannot be read, a loop).
Status ResolveLinks(const std::string& path, std::string* target);

// Tries the first step of SaveByRename on |target| and undoes it: opens its
// folder, creates a temporary file there with room for |size| bytes, and
// removes it. Returns ok, or the failure SaveByRename would meet at that
// step or for want of room.
Status ProbeSaveByRename(const std::string& target, size_t size,
                         const std::string& shown);

// Tells, without creating anything, whether SaveByRename may create its
// temporary file beside |target|: the folder must let the effective user
// add and remove names (faccessat). Returns ok, or the failure the save
// would meet there.
Status CheckSaveByRename(const std::string& target, const std::string& shown);

// Replaces the file |target| by one holding |bytes|, through a temporary
// file of the file layer (TempEntry) in the same folder: written, given the
// old file's mode and owner, flushed and renamed over it, and the folder
// flushed. |old_info| is the status of the file replaced, or nullptr for a
// new file, which gets the mode any new file gets. Returns ok, or the
// failure; before the rename a failure leaves the old file as it was and no
// temporary file behind.
Status SaveByRename(const std::string& target, std::string_view bytes,
                    const struct stat* old_info, const std::string& shown);

// Opens the existing file |target| for writing, as SaveInPlace does.
// Returns the descriptor, or -1 with |*status| set to the failure (no
// permission, or the path names another file than |old_info| describes).
int OpenForSavingInPlace(const std::string& target, const struct stat& old_info,
                         const std::string& shown, Status* status);

// Rewrites the file |target|, which held |old_bytes| and has the status
// |old_info|, in place to hold |new_bytes|: the bytes from the first change
// on, then the new length, then a flush. Space for a longer file is taken
// first, so that a full disk or a size limit fails before any byte changes.
// Returns ok, or the failure; a failure (or a crash) once writing has begun
// can leave the file part old, part new.
Status SaveInPlace(const std::string& target, std::string_view old_bytes,
                   std::string_view new_bytes, const struct stat& old_info,
                   const std::string& shown);

}  // namespace dravelkent
