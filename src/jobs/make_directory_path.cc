#include "jobs/make_directory_path.h"

#include <cerrno>

namespace dravelkent {
namespace {

// Returns ok when |path| is a folder (following links, as entering it
// would), else the failure of entering it.
Status CheckEnterable(DiskInterface* disk, const std::string& path) {
  FileInfo info;
  Status status = disk->Stat(path, FollowLinks::kYes, &info);
  if (!status.ok()) return status;
  if (info.kind == FileKind::kDirectory) return Status::Ok();
  int error = info.kind == FileKind::kMissing ? ENOENT : ENOTDIR;
  return Status::FromErrno("cannot enter folder", path, error);
}

}  // namespace

Status MakeDirectoryPath(DiskInterface* disk, const std::string& folder) {
  if (folder.size() >= 2 && folder[0] == '/' && folder[1] == '/') {
    return Status::Ok();
  }

  // A folder that exists already is the common case: one look settles it,
  // where the walk would try to create and enter every component. Not for
  // a text with "//" inside, which the walk refuses.
  if (folder.find("//") == std::string::npos &&
      folder.find('/') != std::string::npos) {
    FileInfo info;
    if (disk->Stat(folder, FollowLinks::kYes, &info).ok() &&
        info.kind == FileKind::kDirectory) {
      return Status::Ok();
    }
  }

  // |built| is the path walked so far, always ending in "/" once the first
  // component has been taken.
  size_t pos = 0;
  size_t slash = folder.find('/');
  std::string first = folder.substr(0, slash);
  if (!first.empty()) {
    // A relative path starts in the current folder: its first name is a
    // folder to create like the others.
    Status made = disk->MakeDir(first);
    if (!made.ok() && made.error_number() != EEXIST) return made;
  }
  if (slash == std::string::npos) return Status::Ok();
  std::string built = first + "/";
  if (Status status = CheckEnterable(disk, built); !status.ok()) {
    return status;
  }
  pos = slash + 1;

  while (true) {
    slash = folder.find('/', pos);
    std::string component = folder.substr(
        pos, slash == std::string::npos ? std::string::npos : slash - pos);
    if (component.empty()) {
      // The empty remainder after a trailing "/" ends the walk, and so does
      // "//" in the middle, which cannot be created.
      return Status::Ok();
    }
    std::string path = built + component;
    Status made = disk->MakeDir(path);
    if (!made.ok() && made.error_number() != EEXIST) return made;
    if (slash == std::string::npos) return Status::Ok();
    if (Status status = CheckEnterable(disk, path); !status.ok()) {
      return status;
    }
    built = path + "/";
    pos = slash + 1;
  }
}

}  // namespace dravelkent
