// The changes of DryRunDiskInterface: each met with the checks the real
// operation would fail, then noted in the overlay.

#include <unistd.h>

#include <cerrno>
#include <utility>

#include "fsutil/dry_run_disk_interface.h"

namespace dravelkent {

Status DryRunDiskInterface::PretendCopy(const View& source,
                                        const FolderHandle* to_dir,
                                        const std::string& to,
                                        Overwrite overwrite, int folder_mode,
                                        const char* what,
                                        const std::string& paths) {
  // The checks of the real copy, in its order: the name, the temporary file
  // in the folder, what stands under the name when the copy takes it.
  const std::string name =
      to_dir != nullptr ? to : to.substr(to.rfind('/') + 1);
  int error = name.empty() || name == "." || name == ".." ? EISDIR : 0;
  uint64_t device = 0;
  if (error == 0) error = FolderAllows(to_dir, to, folder_mode, &device);
  View there;
  if (error == 0) error = ErrorOf(See(to_dir, to, FollowLinks::kNo, &there));
  if (error == 0 && there.info.kind != FileKind::kMissing) {
    const bool older = there.info.mtime_ns < source.info.mtime_ns;
    if (overwrite == Overwrite::kNothing ||
        (overwrite == Overwrite::kOlderOnly && !older)) {
      error = EEXIST;
    } else if (there.info.kind == FileKind::kDirectory) {
      error = EISDIR;  // No rename puts a file in a folder's place.
    }
  }
  if (error != 0) return Status::FromErrno(what, paths, error);
  // A new file, with the kind and mtime of its source.
  Pretended& copy = overlay_[Key(Full(to_dir, to))];
  copy = Pretended();
  copy.info.kind = source.info.kind;
  copy.info.mtime_ns = source.info.mtime_ns;
  copy.origin = source.origin;
  return Status::Ok();
}

Status DryRunDiskInterface::CopyFile(const std::string& from,
                                     const std::string& to) {
  const std::string paths = from + " to " + to;
  View source;  // A link is followed, as the copy opens it.
  int error = ErrorOf(See(nullptr, from, FollowLinks::kYes, &source));
  if (error == 0 && source.info.kind == FileKind::kMissing) error = ENOENT;
  if (error == 0 && source.real) error = Access(nullptr, from, R_OK);
  if (error != 0) return Status::FromErrno("cannot copy", paths, error);
  if (source.info.kind != FileKind::kFile) {
    return Status::Error("cannot copy " + paths + ": not a file");
  }
  // The real copy opens the destination's folder to make its temporary.
  return PretendCopy(source, nullptr, to, Overwrite::kAnything,
                     R_OK | W_OK | X_OK, "cannot copy", paths);
}

Status DryRunDiskInterface::CopyFileAt(const FolderHandle& from_dir,
                                       const std::string& from_name,
                                       const FolderHandle& to_dir,
                                       const std::string& to_name,
                                       Overwrite overwrite) {
  const std::string paths =
      from_dir.path() + from_name + " to " + to_dir.path() + to_name;
  View source;
  int error = ErrorOf(See(&from_dir, from_name, FollowLinks::kNo, &source));
  const FileKind kind = source.info.kind;
  if (error == 0 && kind == FileKind::kMissing) error = ENOENT;
  if (error == 0 && kind == FileKind::kSymlink) error = ELOOP;  // O_NOFOLLOW
  if (error == 0 && source.real) error = Access(&from_dir, from_name, R_OK);
  if (error != 0) return Status::FromErrno("cannot copy", paths, error);
  if (kind != FileKind::kFile) {
    return Status::Error("cannot copy " + paths + ": not a file");
  }
  return PretendCopy(source, &to_dir, to_name, overwrite, W_OK | X_OK,
                     "cannot copy", paths);
}

Status DryRunDiskInterface::CopySymlinkAt(const FolderHandle& from_dir,
                                          const std::string& from_name,
                                          const FolderHandle& to_dir,
                                          const std::string& to_name) {
  const std::string paths =
      from_dir.path() + from_name + " to " + to_dir.path() + to_name;
  View source;
  int error = ErrorOf(See(&from_dir, from_name, FollowLinks::kNo, &source));
  if (error == 0 && source.info.kind == FileKind::kMissing) error = ENOENT;
  if (error != 0) return Status::FromErrno("cannot copy link", paths, error);
  if (source.info.kind != FileKind::kSymlink) {
    return Status::Error("cannot copy link " + paths + ": not a link");
  }
  return PretendCopy(source, &to_dir, to_name, Overwrite::kAnything,
                     W_OK | X_OK, "cannot copy link", paths);
}

Status DryRunDiskInterface::PretendMove(const FolderHandle* from_dir,
                                        const std::string& from,
                                        const FolderHandle* to_dir,
                                        const std::string& to) {
  const std::string from_path = Full(from_dir, from);
  const std::string to_path = Full(to_dir, to);
  const std::string paths = from_path + " to " + to_path;
  View source;
  View there;
  uint64_t from_device = 0;
  uint64_t to_device = 0;
  int error = ErrorOf(See(from_dir, from, FollowLinks::kNo, &source));
  if (error == 0 && source.info.kind == FileKind::kMissing) error = ENOENT;
  if (error == 0) error = ErrorOf(See(to_dir, to, FollowLinks::kNo, &there));
  if (error == 0 && there.info.kind != FileKind::kMissing) error = EEXIST;
  const int mode = W_OK | X_OK;
  if (error == 0) error = FolderAllows(from_dir, from, mode, &from_device);
  if (error == 0) error = FolderAllows(to_dir, to, mode, &to_device);
  if (error != 0) return Status::FromErrno("cannot move", paths, error);
  // A rename takes anything; across file systems only a file or a link
  // can be carried.
  const FileKind kind = source.info.kind;
  if (kind != FileKind::kFile && kind != FileKind::kSymlink &&
      from_device != 0 && to_device != 0 && from_device != to_device) {
    return Status::Error("cannot move " + paths +
                         ": neither a file nor a link");
  }
  Pretended moved;
  moved.info = source.info;  // A rename keeps the entry itself.
  moved.origin = source.origin;
  overlay_[Key(to_path)] = std::move(moved);
  overlay_[Key(from_path)] = Pretended();
  return Status::Ok();
}

Status DryRunDiskInterface::MoveFile(const std::string& from,
                                     const std::string& to) {
  return PretendMove(nullptr, from, nullptr, to);
}

Status DryRunDiskInterface::MoveFileAt(const FolderHandle& from_dir,
                                       const std::string& from_name,
                                       const FolderHandle& to_dir,
                                       const std::string& to_name) {
  return PretendMove(&from_dir, from_name, &to_dir, to_name);
}

Status DryRunDiskInterface::RemoveFile(const std::string& path) {
  View view;
  uint64_t device = 0;
  int error = ErrorOf(See(nullptr, path, FollowLinks::kNo, &view));
  if (error == 0 && view.info.kind == FileKind::kMissing) error = ENOENT;
  if (error == 0) error = FolderAllows(nullptr, path, W_OK | X_OK, &device);
  if (error == 0 && view.info.kind == FileKind::kDirectory) error = EISDIR;
  if (error != 0) return Status::FromErrno("cannot remove", path, error);
  overlay_[Key(path)] = Pretended();
  return Status::Ok();
}

Status DryRunDiskInterface::PretendFolder(const FolderHandle* parent,
                                          const std::string& path) {
  View view;
  uint64_t device = 0;
  int error = ErrorOf(See(parent, path, FollowLinks::kNo, &view));
  if (error == 0 && view.info.kind != FileKind::kMissing) error = EEXIST;
  if (error == 0) error = FolderAllows(parent, path, W_OK | X_OK, &device);
  if (error != 0) {
    return Status::FromErrno("cannot create folder", Full(parent, path), error);
  }
  // Device 0 is no file system's: the inode number alone tells the
  // folders made apart, from each other and from real ones.
  Pretended& made = overlay_[Key(Full(parent, path))];
  made = Pretended();
  made.info.kind = FileKind::kDirectory;
  made.info.inode = ++folders_made_;
  return Status::Ok();
}

Status DryRunDiskInterface::MakeDir(const std::string& path) {
  return PretendFolder(nullptr, path);
}

Status DryRunDiskInterface::MakeSubFolder(const FolderHandle& parent,
                                          const std::string& name) {
  return PretendFolder(&parent, name);
}

Status DryRunDiskInterface::SetFolderAttributes(
    const FolderHandle& folder, const FolderHandle::Attributes& like) {
  (void)folder;
  (void)like;
  return Status::Ok();
}

}  // namespace dravelkent
