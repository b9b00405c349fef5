#pragma once

#include <string>

#include "fsutil/disk_interface.h"

namespace dravelkent {

// Creates every missing folder of the "/"-separated |folder| below its first
// component, one level at a time. The first component (the root of an
// absolute path, the first name of a relative one) is never created, only
// required to be a folder. A text that starts with "//" (a network path)
// creates nothing. An empty component other than the end, or a component
// that is not a folder, stops the walk. Relative paths are taken from the
// process's current directory, which is never changed.
//
// Returns true when the walk went through. Returns false when it stopped;
// |*failure| then holds the system's failure, or ok when the text itself
// stopped the walk (network path, "//" inside).
bool MakeDirectoryPath(DiskInterface* disk, const std::string& folder,
                       Status* failure);

}  // namespace dravelkent
