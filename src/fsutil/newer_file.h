#pragma once

#include <cstdint>
#include <string>

#include "fsutil/disk_interface.h"

namespace dravelkent {

// Decides whether |source| must be copied over |destination|. Each path is
// judged by its own entry, never followed: a symbolic link by the link's own
// time, a folder by the folder's. Returns 1 when either path finds no entry
// (one that cannot be examined counts as none) or when the source's mtime is
// later than the destination's, 0 when the two are equal to the nanosecond,
// and -1 when the source's is earlier.
int IsSourceNewer(DiskInterface* disk, const std::string& source,
                  const std::string& destination);

// As IsSourceNewer, for a source whose own entry was examined already:
// |source_found| tells whether it had one, |source_mtime_ns| its time.
int IsSourceNewer(DiskInterface* disk, bool source_found,
                  int64_t source_mtime_ns, const std::string& destination);

}  // namespace dravelkent
