#include "fsutil/real_disk_interface.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "fsutil/disk_operation.h"

namespace dravelkent {

using disk_internal::ErrnoOf;
using disk_internal::KindOf;
using disk_internal::MtimeNs;
using disk_internal::OpenParentHandle;
using disk_internal::Owner;
using disk_internal::SetFileAttributes;
using disk_internal::SetLinkAttributes;

namespace disk_internal {

int64_t MtimeNs(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
         st.st_mtim.tv_nsec;
}

FileKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::kFile;
  if (S_ISDIR(mode)) return FileKind::kDirectory;
  if (S_ISLNK(mode)) return FileKind::kSymlink;
  return FileKind::kOther;
}

}  // namespace disk_internal

namespace {

class RealDirReader : public DirReader {
 public:
  // What a listing examines beyond what readdir tells.
  using Times = EntryTimes;

  RealDirReader(DIR* dir, std::string path, Times times)
      : dir_(dir), path_(std::move(path)), times_(times) {}
  ~RealDirReader() override { closedir(dir_); }

  bool Next(DirEntry* entry) override {
    if (!status_.ok()) return false;
    errno = 0;
    struct dirent* ent = readdir(dir_);
    if (ent == nullptr) {
      if (errno != 0) status_ = Status::FromErrno("cannot list", path_, errno);
      return false;
    }
    entry->name = ent->d_name;
    entry->is_dir = ent->d_type == DT_DIR;
    entry->is_symlink = ent->d_type == DT_LNK;
    entry->device = 0;
    entry->inode = ent->d_ino;
    entry->has_time = false;
    entry->mtime_ns = 0;
    if (ent->d_type != DT_DIR && ent->d_type != DT_UNKNOWN &&
        times_ == Times::kNo) {
      return true;
    }
    // A folder needs its identity, a file its time when asked for, and a
    // file system that does not tell kinds in its listings a look at each
    // entry. The look goes from the open folder: no path to walk.
    struct stat st;
    if (fstatat(dirfd(dir_), ent->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      entry->is_dir = S_ISDIR(st.st_mode);
      entry->is_symlink = S_ISLNK(st.st_mode);
      if (entry->is_dir) {
        entry->device = st.st_dev;
        entry->inode = st.st_ino;
      } else if (times_ == Times::kYes) {
        entry->has_time = true;
        entry->mtime_ns = MtimeNs(st);
      }
    }
    // Otherwise gone since the listing read it, or unreachable: what the
    // listing itself knows stands.
    return true;
  }

  Status status() const override { return status_; }

 private:
  DIR* dir_;
  std::string path_;
  Times times_;
  Status status_;
};

// Returns whether a new file or link takes its source's owner and group:
// on a move, and on a copy made by root, as cp -a does.
bool TakesSourceOwner(Owner owner) {
  return owner == Owner::kKeep || geteuid() == 0;
}

}  // namespace

namespace disk_internal {

std::unique_ptr<DirReader> MakeDirReader(DIR* dir, std::string path,
                                         EntryTimes times) {
  return std::make_unique<RealDirReader>(dir, std::move(path), times);
}

int SetLinkAttributes(int dir_fd, const std::string& name,
                      const struct stat& st, Owner owner) {
  if (TakesSourceOwner(owner)) {
    (void)fchownat(dir_fd, name.c_str(), st.st_uid, st.st_gid,
                   AT_SYMLINK_NOFOLLOW);
  }
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  return ErrnoOf(utimensat(dir_fd, name.c_str(), times, AT_SYMLINK_NOFOLLOW));
}

int OpenParentHandle(const std::string& path,
                     std::optional<FolderHandle>* handle, std::string* name) {
  UniqueFd dir;
  if (int error = OpenParent(path, &dir, name); error != 0) return error;
  // The handle is named by the path's own folder text, for messages.
  handle->emplace(path.substr(0, path.size() - name->size()), dir.Release(),
                  FolderHandle::Attributes());
  return 0;
}

int ErrnoOf(int rc) { return rc == 0 ? 0 : errno; }

int SetFileAttributes(int fd, const struct stat& st, Owner owner) {
  if (TakesSourceOwner(owner)) {
    // Only root may give a file away; a user's own files keep their owner
    // anyway, so a refusal changes nothing worth reporting.
    (void)fchown(fd, st.st_uid, st.st_gid);
  }
  // A set-user-ID or set-group-ID bit stays only with the owner or group
  // that set it: another's would run with the copier's rights. The mode
  // comes after the owner, whose change clears these bits.
  struct stat now;
  if (fstat(fd, &now) != 0) return errno;
  mode_t mode = st.st_mode & 07777;
  if (now.st_uid != st.st_uid) mode &= ~S_ISUID;
  if (now.st_gid != st.st_gid) mode &= ~S_ISGID;
  if (fchmod(fd, mode) != 0) return errno;
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  return ErrnoOf(futimens(fd, times));
}

}  // namespace disk_internal

namespace {

std::unique_ptr<DirReader> OpenRealDir(const std::string& dir, Status* status,
                                       RealDirReader::Times times) {
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) {
    *status = Status::FromErrno("cannot list", dir, errno);
    return nullptr;
  }
  *status = Status::Ok();
  return std::make_unique<RealDirReader>(handle, dir, times);
}

}  // namespace

std::unique_ptr<DirReader> RealDiskInterface::OpenDir(const std::string& dir,
                                                      Status* status) {
  return OpenRealDir(dir, status, RealDirReader::Times::kNo);
}

Status RealDiskInterface::Stat(const std::string& path, FollowLinks follow,
                               FileInfo* info) {
  struct stat st;
  int rc = follow == FollowLinks::kYes ? stat(path.c_str(), &st)
                                       : lstat(path.c_str(), &st);
  *info = FileInfo();
  if (rc != 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) return Status::Ok();
    return Status::FromErrno("cannot examine", path, err);
  }
  info->kind = KindOf(st.st_mode);
  info->mtime_ns = MtimeNs(st);
  info->device = st.st_dev;
  info->inode = st.st_ino;
  return Status::Ok();
}

Status RealDiskInterface::CopyFile(const std::string& from,
                                   const std::string& to) {
  Operation op(this, "cannot copy", from, to);
  UniqueFd source(open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!source.valid()) return op.Fail(errno);
  // The times are taken before the data: a source written during the copy
  // ends up later than its copy, so the next run copies it again.
  struct stat st;
  if (fstat(source.get(), &st) != 0) return op.Fail(errno);
  if (!S_ISREG(st.st_mode)) return op.FailKind("not a file");
  UniqueFd dir;
  std::string name;
  if (int error = OpenParent(to, &dir, &name); error != 0) {
    return op.Fail(error);
  }

  TempEntry temp(dir.get());
  bool done =
      op.Do(DiskStep::kCreateTemp,
            [&] { return temp.CreateFile(options_.unnamed_temp_files); }) &&
      op.Do(DiskStep::kCopyData,
            [&] { return CopyFileData(source.get(), temp.fd()); }) &&
      op.Do(DiskStep::kSetAttributes,
            [&] { return SetFileAttributes(temp.fd(), st, Owner::kMine); }) &&
      op.Do(DiskStep::kFlushTemp, [&] { return ErrnoOf(fsync(temp.fd())); }) &&
      (!temp.unnamed() ||
       op.Do(DiskStep::kNameTemp, [&] { return temp.GiveName(); })) &&
      op.Do(DiskStep::kReplaceDestination, [&] { return temp.Replace(name); });
  return done ? Status::Ok() : op.status();
}

Status RealDiskInterface::MoveFile(const std::string& from,
                                   const std::string& to) {
  if (options_.cross_device_move == RealDiskOptions::CrossDeviceMove::kAlways) {
    return MoveAcross(from, to);
  }
  int error = RenameNoReplace(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                              options_.no_replace_rename);
  if (error == 0) return Status::Ok();
  if (error == EXDEV) return MoveAcross(from, to);
  return Status::FromErrno("cannot move", from + " to " + to, error);
}

Status RealDiskInterface::MoveAcross(const std::string& from,
                                     const std::string& to) {
  // The same move as between open folders, each opened from its path.
  std::optional<FolderHandle> from_dir;
  std::optional<FolderHandle> to_dir;
  std::string from_name;
  std::string to_name;
  int error = OpenParentHandle(from, &from_dir, &from_name);
  if (error == 0) error = OpenParentHandle(to, &to_dir, &to_name);
  if (error != 0) {
    return Status::FromErrno("cannot move", from + " to " + to, error);
  }
  return MoveAcrossAt(*from_dir, from_name, *to_dir, to_name);
}

Status RealDiskInterface::RemoveFile(const std::string& path) {
  if (unlink(path.c_str()) != 0) {
    return Status::FromErrno("cannot remove", path, errno);
  }
  return Status::Ok();
}

Status RealDiskInterface::MakeDir(const std::string& path) {
  if (mkdir(path.c_str(), 0777) != 0) {
    return Status::FromErrno("cannot create folder", path, errno);
  }
  return Status::Ok();
}

}  // namespace dravelkent
