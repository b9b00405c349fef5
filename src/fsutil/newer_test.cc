#include "fsutil/newer_test.h"

namespace dravelkent {

int IsSourceNewer(DiskInterface* disk, const std::string& source,
                  const std::string& destination) {
  FileInfo from;
  FileInfo to;
  if (!disk->Stat(source, FollowLinks::kNo, &from).ok() ||
      from.kind == FileKind::kMissing) {
    return 1;
  }
  if (!disk->Stat(destination, FollowLinks::kNo, &to).ok() ||
      to.kind == FileKind::kMissing) {
    return 1;
  }
  if (from.mtime_ns > to.mtime_ns) return 1;
  if (from.mtime_ns == to.mtime_ns) return 0;
  return -1;
}

}  // namespace dravelkent
