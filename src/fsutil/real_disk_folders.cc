// The operations of RealDiskInterface on open folders: every name is looked
// up in its folder's descriptor, never by a path walked once more.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "fsutil/disk_operation.h"
#include "fsutil/real_disk_interface.h"

namespace dravelkent {

using disk_internal::ErrnoOf;
using disk_internal::KindOf;
using disk_internal::MakeDirReader;
using disk_internal::MtimeNs;
using disk_internal::Owner;
using disk_internal::SetFileAttributes;
using disk_internal::SetLinkAttributes;

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Returns the handle of the folder |fd| just opened (-1: the open failed,
// with errno set), named |path|; nullptr with |*status| set on failure.
std::unique_ptr<FolderHandle> HandleOf(int fd, const std::string& path,
                                       Status* status) {
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    *status = Status::FromErrno("cannot open folder", path, errno);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  FolderHandle::Attributes attributes;
  attributes.device = st.st_dev;
  attributes.inode = st.st_ino;
  attributes.mode = st.st_mode & 07777;
  attributes.uid = st.st_uid;
  attributes.gid = st.st_gid;
  attributes.mtime_ns = MtimeNs(st);
  *status = Status::Ok();
  return std::make_unique<FolderHandle>(path, fd, attributes);
}

// Reads the target text of the link |name| in |dir_fd|, whose lstat is
// |st|. Returns 0 or errno.
int ReadLinkTargetAt(int dir_fd, const std::string& name, const struct stat& st,
                     std::string* target) {
  std::vector<char> buffer(static_cast<size_t>(st.st_size) + 1);
  while (true) {
    ssize_t size =
        readlinkat(dir_fd, name.c_str(), buffer.data(), buffer.size());
    if (size < 0) return errno;
    if (static_cast<size_t>(size) < buffer.size()) {
      target->assign(buffer.data(), static_cast<size_t>(size));
      return 0;
    }
    buffer.resize(buffer.size() * 2);  // Grew since the lstat.
  }
}

// Returns whether |name| in |dir_fd| still names the file or link |copied|
// describes and, for a file (open as |fd|, else -1), whether that still has
// the size and modification time it had before its data was copied.
bool SameAsCopied(int dir_fd, const std::string& name, int fd,
                  const struct stat& copied) {
  struct stat now;
  if (fstatat(dir_fd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
      now.st_dev != copied.st_dev || now.st_ino != copied.st_ino) {
    return false;
  }
  if (fd < 0) return true;
  return fstat(fd, &now) == 0 && now.st_size == copied.st_size &&
         MtimeNs(now) == MtimeNs(copied);
}

struct timespec TimespecOf(int64_t ns) {
  int64_t seconds = ns / 1000000000;
  int64_t rest = ns % 1000000000;
  if (rest < 0) {
    rest += 1000000000;
    --seconds;
  }
  struct timespec time;
  time.tv_sec = static_cast<time_t>(seconds);
  time.tv_nsec = static_cast<long>(rest);
  return time;
}

}  // namespace

std::unique_ptr<FolderHandle> RealDiskInterface::OpenFolder(
    const std::string& path, Status* status) {
  return HandleOf(open(path.c_str(), kFolderFlags), WithTrailingSlash(path),
                  status);
}

std::unique_ptr<FolderHandle> RealDiskInterface::OpenSubFolder(
    const FolderHandle& parent, const std::string& name, Status* status) {
  const std::string path = parent.path() + name + "/";
  if (name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string::npos) {
    *status = Status::FromErrno("cannot open folder", path, EINVAL);
    return nullptr;
  }
  int fd = openat(parent.fd(), name.c_str(), kFolderFlags | O_NOFOLLOW);
  struct stat st;
  if (fd < 0 && errno == ENOTDIR &&
      fstatat(parent.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode)) {
    errno = ELOOP;  // With O_DIRECTORY, Linux calls a link no folder.
  }
  return HandleOf(fd, path, status);
}

std::unique_ptr<DirReader> RealDiskInterface::ListFolder(
    const FolderHandle& folder, EntryTimes times, Status* status) {
  // A descriptor of its own, so that the listing's position is its own.
  int fd = openat(folder.fd(), ".", kFolderFlags);
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (dir == nullptr) {
    *status = Status::FromErrno("cannot list", folder.path(), errno);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  *status = Status::Ok();
  return MakeDirReader(dir, folder.path(), times);
}

Status RealDiskInterface::StatAt(const FolderHandle& folder,
                                 const std::string& name, FollowLinks follow,
                                 FileInfo* info) {
  struct stat st;
  *info = FileInfo();
  if (fstatat(folder.fd(), name.c_str(), &st,
              follow == FollowLinks::kYes ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) return Status::Ok();
    return Status::FromErrno("cannot examine", folder.path() + name, err);
  }
  info->kind = KindOf(st.st_mode);
  info->mtime_ns = MtimeNs(st);
  info->device = st.st_dev;
  info->inode = st.st_ino;
  return Status::Ok();
}

Status RealDiskInterface::MakeSubFolder(const FolderHandle& parent,
                                        const std::string& name) {
  if (mkdirat(parent.fd(), name.c_str(), 0700) != 0) {
    return Status::FromErrno("cannot create folder", parent.path() + name,
                             errno);
  }
  return Status::Ok();
}

Status RealDiskInterface::SetFolderAttributes(
    const FolderHandle& folder, const FolderHandle::Attributes& like) {
  const FolderHandle::Attributes& want = like;
  const int fd = folder.fd();
  // A refusal of the owner (a file system that maps root away) still lets
  // the mode and the time be given; it is told at the end.
  Status owner;
  if (geteuid() == 0 && fchown(fd, want.uid, want.gid) != 0) {
    owner = Status::FromErrno("cannot give its owner to folder", folder.path(),
                              errno);
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    return Status::FromErrno("cannot examine", folder.path(), errno);
  }
  mode_t mode = want.mode & 07777;
  // Files made in it would take on a group the source never gave them.
  if (st.st_gid != want.gid) mode &= ~static_cast<mode_t>(S_ISGID);
  if (fchmod(fd, mode) != 0) {
    return Status::FromErrno("cannot set the mode of folder", folder.path(),
                             errno);
  }
  const struct timespec times[2] = {{0, UTIME_OMIT}, TimespecOf(want.mtime_ns)};
  if (futimens(fd, times) != 0) {
    return Status::FromErrno("cannot set the time of folder", folder.path(),
                             errno);
  }
  return owner;
}

Status RealDiskInterface::CopySymlinkAt(const FolderHandle& from_dir,
                                        const std::string& from_name,
                                        const FolderHandle& to_dir,
                                        const std::string& to_name) {
  Operation op(this, "cannot copy link", from_dir.path() + from_name,
               to_dir.path() + to_name);
  struct stat st;
  if (fstatat(from_dir.fd(), from_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) !=
      0) {
    return op.Fail(errno);
  }
  if (!S_ISLNK(st.st_mode)) return op.FailKind("not a link");
  std::string target;
  if (int error = ReadLinkTargetAt(from_dir.fd(), from_name, st, &target);
      error != 0) {
    return op.Fail(error);
  }
  const int dir = to_dir.fd();
  TempEntry temp(dir);
  bool done = op.Do(DiskStep::kCreateTemp, [&] {
    return temp.CreateLink(target);
  }) && op.Do(DiskStep::kSetAttributes, [&] {
    return SetLinkAttributes(dir, temp.name(), st, Owner::kMine);
  }) && op.Do(DiskStep::kReplaceDestination, [&] {
    return temp.Replace(to_name);
  });
  return done ? Status::Ok() : op.status();
}

Status RealDiskInterface::MoveFileAt(const FolderHandle& from_dir,
                                     const std::string& from_name,
                                     const FolderHandle& to_dir,
                                     const std::string& to_name) {
  if (options_.cross_device_move == RealDiskOptions::CrossDeviceMove::kAlways) {
    return MoveAcrossAt(from_dir, from_name, to_dir, to_name);
  }
  int error = RenameNoReplace(from_dir.fd(), from_name.c_str(), to_dir.fd(),
                              to_name.c_str(), options_.no_replace_rename);
  if (error == 0) return Status::Ok();
  if (error == EXDEV) return MoveAcrossAt(from_dir, from_name, to_dir, to_name);
  return Status::FromErrno(
      "cannot move",
      from_dir.path() + from_name + " to " + to_dir.path() + to_name, error);
}

Status RealDiskInterface::MoveAcrossAt(const FolderHandle& from_dir,
                                       const std::string& from_name,
                                       const FolderHandle& to_dir,
                                       const std::string& to_name) {
  Operation op(this, "cannot move", from_dir.path() + from_name,
               to_dir.path() + to_name);
  const int source_dir = from_dir.fd();
  const int dir = to_dir.fd();
  struct stat st;
  if (fstatat(source_dir, from_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return op.Fail(errno);
  }
  // Refuse at once rather than after copying all the data; the publishing
  // below refuses as well, should the name appear meanwhile.
  struct stat existing;
  if (fstatat(dir, to_name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    return op.Fail(EEXIST);
  }
  if (errno != ENOENT) return op.Fail(errno);

  TempEntry temp(dir);
  UniqueFd source;
  struct stat copied = st;  // The source as it was copied.
  bool made = false;
  if (S_ISLNK(st.st_mode)) {
    std::string target;
    if (int error = ReadLinkTargetAt(source_dir, from_name, st, &target);
        error != 0) {
      return op.Fail(error);
    }
    made = op.Do(DiskStep::kCreateTemp, [&] {
      return temp.CreateLink(target);
    }) && op.Do(DiskStep::kSetAttributes, [&] {
      return SetLinkAttributes(dir, temp.name(), st, Owner::kKeep);
    });
  } else if (S_ISREG(st.st_mode)) {
    source.Reset(openat(source_dir, from_name.c_str(),
                        O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!source.valid()) return op.Fail(errno);
    if (fstat(source.get(), &copied) != 0) return op.Fail(errno);
    if (copied.st_dev != st.st_dev || copied.st_ino != st.st_ino) {
      return op.Fail(EAGAIN);  // Replaced under our feet.
    }
    made = op.Do(DiskStep::kCreateTemp, [&] {
      return temp.CreateFile(options_.unnamed_temp_files);
    }) && op.Do(DiskStep::kCopyData, [&] {
      return CopyFileData(source.get(), temp.fd());
    }) && op.Do(DiskStep::kSetAttributes, [&] {
      return SetFileAttributes(temp.fd(), copied, Owner::kKeep);
    }) && op.Do(DiskStep::kFlushTemp, [&] {
      return ErrnoOf(fsync(temp.fd()));
    });
  } else {
    return op.FailKind("neither a file nor a link");
  }
  if (!made) return op.status();

  if (!op.Do(DiskStep::kPublish, [&] {
        return temp.Publish(to_name, options_.no_replace_rename);
      })) {
    return op.status();
  }
  // From here the file is complete under its final name, and the source is
  // still whole. A failure takes the new name away again, so that a failed
  // move leaves things as they were.
  bool done =
      op.Do(DiskStep::kFlushFolder, [&] { return ErrnoOf(fsync(dir)); });
  if (done && !SameAsCopied(source_dir, from_name, source.get(), copied)) {
    // Written to or replaced while it was copied: removing it would lose
    // what the copy missed.
    op.FailKind("the source changed while it was copied and stays in place");
    done = false;
  }
  done = done && op.Do(DiskStep::kRemoveSource, [&] {
    return ErrnoOf(unlinkat(source_dir, from_name.c_str(), 0));
  });
  if (done) return Status::Ok();
  unlinkat(dir, to_name.c_str(), 0);
  return op.status();
}

}  // namespace dravelkent
