#pragma once

#include <string>

#include "fsutil/disk_interface.h"

namespace dravelkent {

// Creates every missing folder of the "/"-separated |folder|, one level at
// a time: below the root of an absolute path, or from the process's current
// directory (which is never changed) for a relative one, its first name
// included. A text that starts with "//" (a network path) creates nothing.
// An empty component other than the end, or a component that is not a
// folder, stops the walk.
//
// Returns true when the walk went through. Returns false when it stopped;
// |*failure| then holds the system's failure, or ok when the text itself
// stopped the walk (network path, "//" inside).
bool MakeDirectoryPath(DiskInterface* disk, const std::string& folder,
                       Status* failure);

}  // namespace dravelkent
