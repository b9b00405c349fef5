#include "fsutil/newer_file.h"

namespace dravelkent {

Newer IsSourceNewer(const FileInfo& source, const FileInfo& copy) {
  if (source.kind == FileKind::kMissing || copy.kind == FileKind::kMissing ||
      source.mtime_ns > copy.mtime_ns) {
    return Newer::kCopy;
  }
  return source.mtime_ns == copy.mtime_ns ? Newer::kSame : Newer::kCopyIsNewer;
}

}  // namespace dravelkent
