#include "fsutil/real_disk_interface.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace dravelkent {
namespace {

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

class RealDirReader : public DirReader {
 public:
  RealDirReader(DIR* dir, std::string path) : dir_(dir), path_(std::move(path)) {}
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
    struct stat st;
    if (fstatat(dirfd(dir_), ent->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      entry->is_dir = S_ISDIR(st.st_mode);
      entry->is_symlink = S_ISLNK(st.st_mode);
      entry->mtime_ns = MtimeNs(st);
    } else {
      // Gone since the listing read it, or unreachable: report what the
      // listing itself knows.
      entry->is_dir = ent->d_type == DT_DIR;
      entry->is_symlink = ent->d_type == DT_LNK;
      entry->mtime_ns = 0;
    }
    return true;
  }

  Status status() const override { return status_; }

 private:
  DIR* dir_;
  std::string path_;
  Status status_;
};

}  // namespace

std::unique_ptr<DirReader> RealDiskInterface::OpenDir(const std::string& dir,
                                                      Status* status) {
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) {
    *status = Status::FromErrno("cannot list", dir, errno);
    return nullptr;
  }
  *status = Status::Ok();
  return std::make_unique<RealDirReader>(handle, dir);
}

Status RealDiskInterface::Stat(const std::string& path, FollowLinks follow,
                               FileInfo* info) {
  struct stat st;
  int rc = follow == FollowLinks::kYes ? stat(path.c_str(), &st)
                                       : lstat(path.c_str(), &st);
  if (rc != 0) {
    int err = errno;
    info->kind = FileKind::kMissing;
    info->mtime_ns = 0;
    if (err == ENOENT || err == ENOTDIR) return Status::Ok();
    return Status::FromErrno("cannot examine", path, err);
  }
  info->kind = KindOf(st.st_mode);
  info->mtime_ns = MtimeNs(st);
  return Status::Ok();
}

Status RealDiskInterface::CopyFile(const std::string& from,
                                   const std::string& to) {
  (void)to;
  return Status::FromErrno("cannot copy", from, ENOSYS);
}

Status RealDiskInterface::MoveFile(const std::string& from,
                                   const std::string& to) {
  (void)to;
  return Status::FromErrno("cannot move", from, ENOSYS);
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
