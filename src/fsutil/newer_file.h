#pragma once

#include "fsutil/env.h"

namespace dravelkent {

// How a source's last-write time stands to its copy's.
enum class Newer {
  kCopy,         // the source is later, or either has no entry: copy it
  kSame,         // equal to the nanosecond: nothing to copy
  kCopyIsNewer,  // the copy was written later: leave it
};

// The newer-file test of copy mode, on the entries |source| and |copy| as
// found (each judged by itself, a link by its own time).
Newer IsSourceNewer(const FileInfo& source, const FileInfo& copy);

}  // namespace dravelkent
