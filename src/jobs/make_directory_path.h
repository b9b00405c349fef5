#pragma once

#include <memory>
#include <string>

#include "fsutil/disk.h"
#include "jobs/reports.h"

namespace dravelkent {

// Creates every missing folder of |folder|, one level at a time: from the
// root of an absolute path, or from the current folder for a relative one
// (its first name included), and opens it into |*opened|. Every folder on
// the way is opened from the one before, so all later work inside it stays
// in the folder found now. A link on the way is followed only when it
// belongs to the system or to the user running the program; any other
// stops the walk. "." and ".." are walked, never created. A text that
// starts with two separators (a network path) creates nothing, nor does
// anything after two separators in a row. Each folder made is told to
// |actions| ("mkdir").
//
// Returns ok with the folder open, or the failure that stopped the walk: a
// folder that could not be made or opened, a file or a foreign link in the
// way.
Status MakeDirectoryPath(Disk* disk, ActionLog* actions,
                         const std::string& folder,
                         std::unique_ptr<Folder>* opened);

// Opens |folder| as MakeDirectoryPath walks it, creating nothing.
Status OpenDirectoryPath(Disk* disk, const std::string& folder,
                         std::unique_ptr<Folder>* opened);

}  // namespace dravelkent
