#include "fsutil/newer_file.h"

namespace dravelkent {
namespace {

// Returns whether |path| finds an entry, filling |*info| when it does.
bool FindEntry(DiskInterface* disk, const std::string& path, FileInfo* info) {
  return disk->Stat(path, FollowLinks::kNo, info).ok() &&
         info->kind != FileKind::kMissing;
}

}  // namespace

int IsSourceNewer(DiskInterface* disk, const std::string& source,
                  const std::string& destination) {
  FileInfo source_info;
  bool source_found = FindEntry(disk, source, &source_info);
  return IsSourceNewer(disk, source_found, source_info.mtime_ns, destination);
}

int IsSourceNewer(DiskInterface* disk, bool source_found,
                  int64_t source_mtime_ns, const std::string& destination) {
  FileInfo destination_info;
  bool destination_found = FindEntry(disk, destination, &destination_info);
  if (!source_found || !destination_found) return 1;
  if (source_mtime_ns > destination_info.mtime_ns) return 1;
  if (source_mtime_ns == destination_info.mtime_ns) return 0;
  return -1;
}

}  // namespace dravelkent
