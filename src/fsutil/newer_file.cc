#include "fsutil/newer_file.h"

namespace dravelkent {
namespace {

// Returns whether |path| finds an entry, filling |*info| when it does.
bool FindEntry(DiskInterface* disk, const std::string& path, FileInfo* info) {
  return disk->Stat(path, FollowLinks::kNo, info).ok() &&
         info->kind != FileKind::kMissing;
}

}  // namespace

Newer IsSourceNewer(DiskInterface* disk, const std::string& source,
                    const std::string& destination) {
  FileInfo source_info;
  FileInfo destination_info;
  if (!FindEntry(disk, source, &source_info) ||
      !FindEntry(disk, destination, &destination_info)) {
    return Newer::kCopy;
  }
  return CompareTimes(source_info.mtime_ns, destination_info.mtime_ns);
}

Newer CompareTimes(int64_t source_mtime_ns, int64_t destination_mtime_ns) {
  if (source_mtime_ns > destination_mtime_ns) return Newer::kCopy;
  if (source_mtime_ns == destination_mtime_ns) return Newer::kSame;
  return Newer::kCopyIsNewer;
}

}  // namespace dravelkent
