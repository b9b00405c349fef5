// The POSIX Env's whole files: the settings file and the run lock.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "fsutil/env_posix.h"

namespace dravelkent {
namespace {

// Links followed before giving up, as the kernel does.
constexpr int kMaxLinkHops = 40;

void SplitPath(const std::string& path, std::string* folder,
               std::string* name) {
  size_t slash = path.rfind('/');
  *folder = slash == std::string::npos ? "."
            : slash == 0               ? "/"
                                       : path.substr(0, slash);
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows |path| through its links to the name of the file they end at,
// and fills |*st| for it (st_nlink 0 when there is none).
Status ResolveLinks(const std::string& path, std::string* target,
                    struct stat* st) {
  *target = path;
  for (int hops = 0;; ++hops) {
    if (lstat(target->c_str(), st) != 0) {
      st->st_nlink = 0;
      if (errno == ENOENT) return Status::Ok();
      return Status::FromErrno("cannot look up", *target, errno);
    }
    if (!S_ISLNK(st->st_mode)) return Status::Ok();
    if (hops == kMaxLinkHops) {
      return Status::FromErrno("cannot follow the links of", path, ELOOP);
    }
    std::string link(static_cast<size_t>(st->st_size) + 256, '\0');
    ssize_t length = readlink(target->c_str(), link.data(), link.size());
    if (length < 0)
      return Status::FromErrno("cannot read link", *target, errno);
    if (static_cast<size_t>(length) == link.size()) continue;  // it grew
    link.resize(static_cast<size_t>(length));
    if (link[0] != '/') {
      std::string folder, name;
      SplitPath(*target, &folder, &name);
      link = (folder == "/" ? folder : folder + "/") + link;
    }
    *target = std::move(link);
  }
}

// Reads all of the open file |fd|, |expected| bytes or more; 0 or errno.
int ReadAll(int fd, size_t expected, std::string* bytes) {
  bytes->resize(expected + 1);
  size_t filled = 0;
  while (true) {
    if (filled == bytes->size()) bytes->resize(bytes->size() * 2);
    ssize_t got = pread(fd, bytes->data() + filled, bytes->size() - filled,
                        static_cast<off_t>(filled));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    filled += static_cast<size_t>(got);
    if (got == 0 || (filled == expected && filled < bytes->size())) break;
  }
  bytes->resize(filled);
  return 0;
}

Status SaveFailure(const WholeFile& file, int error) {
  return Status::FromErrno("cannot save", file.path, error);
}

class PosixFileLock : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}
  ~PosixFileLock() override { close(fd_); }  // closing drops the lock

 private:
  int fd_;
};

}  // namespace

Status PosixEnv::ReadWholeFile(const std::string& path, WholeFile* file) {
  file->path = path;
  struct stat st;
  std::string target;
  Status resolved = ResolveLinks(path, &target, &st);
  if (!resolved.ok()) return resolved;
  FileInfo now;
  if (st.st_nlink != 0) InfoFromStat(st, &now);
  const FileInfo& before = file->info;
  if (st.st_nlink != 0 && before.kind == FileKind::kFile &&
      target == file->target && now.id == before.id &&
      now.size == before.size && now.mtime_ns == before.mtime_ns &&
      now.ctime_ns == before.ctime_ns) {
    return Status::Ok();  // read as it is
  }
  file->target = target;
  file->bytes.clear();
  file->info = FileInfo();
  // O_NONBLOCK keeps a FIFO there from stalling the open.
  int fd =
      open(file->target.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return Status::Ok();
    return Status::FromErrno("cannot read", path, errno);
  }
  int error = 0;
  if (fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  } else {
    error = ReadAll(fd, static_cast<size_t>(st.st_size), &file->bytes);
  }
  close(fd);
  if (error != 0) return Status::FromErrno("cannot read", path, error);
  InfoFromStat(st, &file->info);
  return Status::Ok();
}

SaveWay PosixEnv::ChooseSaveWay(const WholeFile& file) {
  if (file.info.kind == FileKind::kMissing) return SaveWay::kNew;
  // A new file renamed over the old one keeps only its bits and a group the
  // user can give; where that loses anything, it is rewritten in place.
  if (file.info.links != 1 || file.info.owner != euid_ ||
      !MayTakeGroup(file.info.group)) {
    return SaveWay::kInPlace;
  }
  ssize_t attributes = llistxattr(file.target.c_str(), nullptr, 0);
  if (attributes != 0 && !(attributes < 0 && errno == ENOTSUP)) {
    return SaveWay::kInPlace;  // an ACL, a label, or unknown
  }
  std::string folder, name;
  SplitPath(file.target, &folder, &name);
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    return SaveWay::kInPlace;
  }
  return SaveWay::kRename;
}

Status PosixEnv::SaveWholeFile(const WholeFile& file, std::string_view bytes,
                               SaveWay way, SaveStep step) {
  std::string folder, name;
  SplitPath(file.target, &folder, &name);
  if (way == SaveWay::kInPlace) {
    if (step == SaveStep::kForesee) {
      if (faccessat(AT_FDCWD, file.target.c_str(), W_OK, AT_EACCESS) != 0) {
        return SaveFailure(file, errno);
      }
      return Status::Ok();
    }
    // Read and write: glibc's fallback for posix_fallocate reads.
    int fd = open(file.target.c_str(),
                  O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return SaveFailure(file, errno);
    struct stat st;
    int error = fstat(fd, &st) != 0 ? errno : 0;
    if (error == 0 &&
        (st.st_dev != file.info.id.device || st.st_ino != file.info.id.inode)) {
      close(fd);
      return Status::Error("cannot save " + file.path +
                           ": it was replaced while being saved");
    }
    const off_t old_size = static_cast<off_t>(file.bytes.size());
    const off_t new_size = static_cast<off_t>(bytes.size());
    if (error == 0 && step == SaveStep::kFirstOnly && new_size > old_size) {
      // The room, taken beyond the end, where the file's size stays.
      if (fallocate(fd, FALLOC_FL_KEEP_SIZE, old_size, new_size - old_size)) {
        error = errno;
        struct statvfs vfs;
        if (error == EOPNOTSUPP && fstatvfs(fd, &vfs) == 0) {
          error = static_cast<off_t>(vfs.f_bavail * vfs.f_frsize) >=
                          new_size - old_size
                      ? 0
                      : ENOSPC;
        }
      }
    } else if (error == 0 && step == SaveStep::kAll) {
      size_t first = 0;
      size_t shorter = std::min(file.bytes.size(), bytes.size());
      while (first < shorter && file.bytes[first] == bytes[first]) ++first;
      if (new_size > old_size) error = posix_fallocate(fd, 0, new_size);
      if (error == 0) {
        error = WriteAll(fd, bytes.substr(first), static_cast<off_t>(first));
      }
      if (error == 0 && ftruncate(fd, new_size) != 0) error = errno;
      if (error == 0 && fsync(fd) != 0) error = errno;
    }
    if (close(fd) != 0 && error == 0) error = errno;
    return error == 0 ? Status::Ok() : SaveFailure(file, error);
  }

  // A file the user may not write is not replaced by a rename either.
  if (way == SaveWay::kRename &&
      faccessat(AT_FDCWD, file.target.c_str(), W_OK, AT_EACCESS) != 0) {
    return SaveFailure(file, errno);
  }
  auto no_temp = [&] {
    return Status::FromErrno("cannot create a temporary file to save",
                             file.path, errno);
  };
  if (step == SaveStep::kForesee) {
    return faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0
               ? no_temp()
               : Status::Ok();
  }
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return no_temp();
  Folder parent(folder + "/", FileInfo(),  // closes |dir| when it goes
                Folder::NativePtr(new Folder::Native{dir}));
  // A replacement is made private, then given the old file's group and bits.
  std::string temp_name;
  int fd = CreateNamedTemp(dir, way == SaveWay::kNew ? 0666 : 0600, &temp_name);
  if (fd < 0) return no_temp();
  auto* native = new OpenFile::Native;
  native->fd = fd;
  native->dir_fd = dir;
  native->temp_name = temp_name;
  OpenFile temp(native);  // removed unless published
  int error = 0;
  if (step == SaveStep::kFirstOnly) {
    // A full disk still lets an empty file be made: ask for the room.
    error = posix_fallocate(fd, 0, std::max<off_t>(bytes.size(), 1));
    return error == 0 ? Status::Ok() : SaveFailure(file, error);
  }
  error = WriteAll(fd, bytes, 0);
  if (error == 0 && way == SaveWay::kRename) {
    struct stat st;
    if (fstat(fd, &st) != 0) {
      error = errno;
    } else if (st.st_gid != file.info.group &&
               fchown(fd, static_cast<uid_t>(-1), file.info.group) != 0) {
      error = errno;
    }
    if (error == 0 && fchmod(fd, file.info.mode & 07777) != 0) error = errno;
  }
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (error == 0 && renameat(dir, temp_name.c_str(), dir, name.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) return SaveFailure(file, error);
  native->published = true;
  // Some file systems cannot flush a folder at all; that is no failure.
  if (fsync(dir) != 0 && errno != EINVAL) {
    return Status::FromErrno("saved, but cannot flush the folder of", file.path,
                             errno);
  }
  return Status::Ok();
}

Status PosixEnv::LockFile(const std::string& path, SaveStep step,
                          const std::function<void()>& on_wait,
                          std::unique_ptr<FileLock>* lock) {
  const char* what = "cannot lock";
  auto not_ours = [&](uid_t owner) {
    return Status::Error(std::string(what) + " " + path +
                         ": it belongs to user " + std::to_string(owner) +
                         ", not to the user running this program");
  };
  if (step == SaveStep::kForesee) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
      std::string folder, name;
      SplitPath(path, &folder, &name);
      if (errno == ENOENT &&
          faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0) {
        return Status::Ok();
      }
      return Status::FromErrno(what, path, errno);
    }
    if (!S_ISREG(st.st_mode)) return Status::FromErrno(what, path, EINVAL);
    if (st.st_uid != euid_) return not_ours(st.st_uid);
    if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
      return Status::FromErrno(what, path, errno);
    }
    return Status::Ok();
  }
  int fd = open(path.c_str(),
                O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) return Status::FromErrno(what, path, errno);
  struct stat st;
  int error = fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
  if (error == 0 && st.st_uid != euid_) {
    close(fd);
    return not_ours(st.st_uid);
  }
  if (error == 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno;
    if (error == EWOULDBLOCK) {
      on_wait();
      do {
        error = flock(fd, LOCK_EX) == 0 ? 0 : errno;
      } while (error == EINTR);
    }
  }
  if (error != 0) {
    close(fd);
    return Status::FromErrno(what, path, error);
  }
  *lock = std::make_unique<PosixFileLock>(fd);
  return Status::Ok();
}

}  // namespace dravelkent
