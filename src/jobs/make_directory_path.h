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
// Returns ok when the walk went through, and also when the text itself
// ends it (a network path, "//" inside), as nothing is to be created there.
// Returns the system's failure when a folder could not be created or
// entered.
Status MakeDirectoryPath(DiskInterface* disk, const std::string& folder);

}  // namespace dravelkent
