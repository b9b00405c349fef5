#pragma once

#include <cstdint>
#include <string>

#include "fsutil/disk_interface.h"

namespace dravelkent {

// How a source's last-write time stands to its copy's.
enum class Newer {
  kCopy,         // the source is later, or either path has no entry: copy it
  kSame,         // equal to the nanosecond: nothing to copy
  kCopyIsNewer,  // the copy was written later: leave it
};

// Decides whether |source| must be copied over |destination|. Each path is
// judged by its own entry, never followed: a symbolic link by the link's own
// time, a folder by the folder's. Returns kCopy when either path finds no
// entry (one that cannot be examined counts as none) or when the source's
// mtime is later than the destination's, kSame when the two are equal to
// the nanosecond, and kCopyIsNewer when the source's is earlier.
Newer IsSourceNewer(DiskInterface* disk, const std::string& source,
                    const std::string& destination);

// Returns the verdict for a source whose time |source_mtime_ns| was found
// and a destination whose time is |destination_mtime_ns|.
Newer CompareTimes(int64_t source_mtime_ns, int64_t destination_mtime_ns);

}  // namespace dravelkent
