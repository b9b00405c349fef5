#pragma once

#include <string>

#include "fsutil/disk_interface.h"

namespace dravelkent {

// Tells whether |source| is to be copied over |destination|. Each path is
// judged by its own entry (a link by the link, a folder by the folder).
// Returns 1 when either path has no entry (or cannot be examined) or the
// source's mtime is later, 0 when both mtimes are equal to the nanosecond,
// -1 when the source's mtime is earlier. Never fails.
int IsSourceNewer(DiskInterface* disk, const std::string& source,
                  const std::string& destination);

}  // namespace dravelkent
