// The POSIX Env: the date, links, folders, names and what the user may do.

#include "fsutil/env_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace dravelkent {

const char kPathSeparator = '/';
const NameCase kFileNameCase = NameCase::kSensitive;

bool IsPathSeparator(char c) { return c == '/'; }

void Folder::NativeDeleter::operator()(Native* native) const {
  if (native->fd >= 0) close(native->fd);
  delete native;
}

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv();
  return env;
}

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int FdOf(const Folder& folder) { return folder.native()->fd; }

FileKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::kFile;
  if (S_ISDIR(mode)) return FileKind::kFolder;
  if (S_ISLNK(mode)) return FileKind::kLink;
  return FileKind::kSpecial;
}

// kMissing: the file system tells no kind, to be looked at.
FileKind KindOfType(unsigned char type) {
  return type == DT_REG       ? FileKind::kFile
         : type == DT_DIR     ? FileKind::kFolder
         : type == DT_LNK     ? FileKind::kLink
         : type == DT_UNKNOWN ? FileKind::kMissing
                              : FileKind::kSpecial;
}

// Makes |*folder|, named |path|, of the open folder |fd| (-1: not opened).
Status FolderOf(int fd, std::string path, bool listable,
                std::unique_ptr<Folder>* folder) {
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    int error = errno;
    if (fd >= 0) close(fd);
    return Status::FromErrno("cannot open folder", path, error);
  }
  FileInfo info;
  InfoFromStat(st, &info);
  Folder::NativePtr native(new Folder::Native{fd});
  *folder = std::make_unique<Folder>(std::move(path), info, std::move(native),
                                     listable);
  return Status::Ok();
}

// Opens the folder |name| in |dir_fd| into |*folder|, named |path|: for
// listing where the user may, else only to reach the names in it.
Status OpenFolderAt(int dir_fd, const char* name, std::string path,
                    std::unique_ptr<Folder>* folder) {
  int fd = openat(dir_fd, name, kFolderFlags);
  const bool listable = fd >= 0 || errno != EACCES;
  if (!listable) fd = openat(dir_fd, name, kFolderFlags | O_PATH);
  struct stat st;
  // Linux calls a link no folder when O_DIRECTORY meets it.
  if (fd < 0 && (errno == ENOTDIR || errno == ELOOP) &&
      fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
  }
  return FolderOf(fd, std::move(path), listable, folder);
}

}  // namespace

int WriteAll(int fd, std::string_view bytes, off_t offset) {
  while (!bytes.empty()) {
    ssize_t written = pwrite(fd, bytes.data(), bytes.size(), offset);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
    offset += written;
  }
  return 0;
}

struct timespec TimespecOf(int64_t ns) {
  int64_t seconds = ns / 1000000000;
  int64_t rest = ns % 1000000000;
  if (rest < 0) {
    rest += 1000000000;
    --seconds;
  }
  return {static_cast<time_t>(seconds), static_cast<long>(rest)};
}

void InfoFromStat(const struct stat& st, FileInfo* info) {
  info->kind = KindOf(st.st_mode);
  info->id = {static_cast<uint64_t>(st.st_dev),
              static_cast<uint64_t>(st.st_ino)};
  info->complete = true;
  auto ns = [](const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
  };
  info->mtime_ns = ns(st.st_mtim);
  info->ctime_ns = ns(st.st_ctim);
  info->size = st.st_size;
  info->may_have_holes = static_cast<int64_t>(st.st_blocks) * 512 < st.st_size;
  info->mode = st.st_mode & 07777;
  info->owner = st.st_uid;
  info->group = st.st_gid;
  info->links = static_cast<uint32_t>(st.st_nlink);
}

PosixEnv::PosixEnv(const PosixEnvOptions& options)
    : options_(options), euid_(geteuid()), egid_(getegid()) {
  // Half the open files the system allows for copies waiting for a flush.
  struct rlimit files;
  rlim_t limit = 1024;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 65536);
    if (setrlimit(RLIMIT_NOFILE, &files) == 0 ||
        getrlimit(RLIMIT_NOFILE, &files) == 0) {
      limit = files.rlim_cur;
    }
  }
  files_at_once_ = std::clamp<size_t>((limit - 256) / 2, 16, 4096);
}

CivilDate PosixEnv::Today() {
  std::time_t now = std::time(nullptr);
  struct tm local;
  CivilDate date;
  if (localtime_r(&now, &local) != nullptr) {
    date = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
  }
  return date;
}

bool PosixEnv::MayFollowLink(const FileInfo& link) {
  return link.owner == 0 || link.owner == euid_;
}

Status PosixEnv::OpenStart(const std::string& path,
                           std::unique_ptr<Folder>* start, std::string* rest) {
  const bool absolute = !path.empty() && path[0] == '/';
  size_t names = path.find_first_not_of('/');
  *rest = names == std::string::npos ? "" : path.substr(names);
  return OpenFolderAt(AT_FDCWD, absolute ? "/" : ".", absolute ? "/" : "",
                      start);
}

Status PosixEnv::OpenPath(const std::string& path,
                          std::unique_ptr<Folder>* folder) {
  struct open_how how = {};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  int fd = static_cast<int>(
      syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how));
  const bool listable = fd >= 0 || errno != EACCES;
  if (!listable) {
    how.flags |= O_PATH;
    fd = static_cast<int>(
        syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how));
  }
  if (fd < 0 && (errno == EINVAL || errno == EPERM)) errno = ENOSYS;
  return FolderOf(fd, path, listable, folder);
}

Status PosixEnv::OpenFolder(const Folder& parent, const std::string& name,
                            std::unique_ptr<Folder>* folder) {
  const std::string path = parent.path() + name + "/";
  if (name.empty() || name == "." || name.find('/') != std::string::npos) {
    return Status::FromErrno("cannot open folder", path, EINVAL);
  }
  return OpenFolderAt(FdOf(parent), name.c_str(), path, folder);
}

Status PosixEnv::ReadLink(const Folder& folder, const std::string& name,
                          std::string* target) {
  std::string buffer(256, '\0');
  while (true) {
    ssize_t size =
        readlinkat(FdOf(folder), name.c_str(), buffer.data(), buffer.size());
    if (size < 0) {
      return Status::FromErrno("cannot read link", folder.path() + name, errno);
    }
    if (static_cast<size_t>(size) < buffer.size()) {
      target->assign(buffer.data(), static_cast<size_t>(size));
      return Status::Ok();
    }
    buffer.resize(buffer.size() * 2);
  }
}

Status PosixEnv::List(const Folder& folder,
                      const std::function<void(const FileInfo&)>& each) {
  // A descriptor of its own, so that the listing keeps its own place.
  int fd = openat(FdOf(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (dir == nullptr) {
    int error = errno;
    if (fd >= 0) close(fd);
    return Status::FromErrno("cannot list", folder.path(), error);
  }
  FileInfo info;
  int error = 0;
  while (true) {
    errno = 0;
    struct dirent* entry = readdir(dir);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && !name[2]))) {
      continue;
    }
    info = FileInfo();
    info.name = name;
    info.kind = KindOfType(entry->d_type);
    info.id = {folder.id().device, static_cast<uint64_t>(entry->d_ino)};
    struct stat st;
    if (info.kind == FileKind::kMissing) {
      if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      InfoFromStat(st, &info);
    }
    each(info);
  }
  closedir(dir);
  if (error != 0) return Status::FromErrno("cannot list", folder.path(), error);
  return Status::Ok();
}

Status PosixEnv::Stat(const Folder& folder, const std::string& name,
                      Follow follow, FileInfo* info) {
  *info = FileInfo();
  info->name = name;
  struct stat st;
  if (fstatat(FdOf(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return Status::Ok();
    return Status::FromErrno("cannot examine", folder.path() + name, errno);
  }
  InfoFromStat(st, info);
  if (info->kind != FileKind::kLink || follow == Follow::kNo) {
    return Status::Ok();
  }
  if (!MayFollowLink(*info)) {
    return Status::Error("cannot follow " + folder.path() + name +
                         ": the link belongs to user " +
                         std::to_string(info->owner) +
                         ", neither to the system nor to the user running "
                         "this program");
  }
  if (fstatat(FdOf(folder), name.c_str(), &st, 0) != 0) {
    if (errno == ENOENT) {
      *info = FileInfo();
      return Status::Ok();
    }
    return Status::FromErrno("cannot examine", folder.path() + name, errno);
  }
  InfoFromStat(st, info);
  return Status::Ok();
}

bool PosixEnv::MayTakeGroup(gid_t gid) const {
  if (euid_ == 0 || gid == egid_) return true;
  gid_t groups[256];
  const int count = std::max(getgroups(256, groups), 0);
  return std::find(groups, groups + count, gid) != groups + count;
}

Status PosixEnv::MakeFolder(const Folder& parent, const std::string& name,
                            const FileInfo* like,
                            std::unique_ptr<Folder>* made) {
  const std::string path = parent.path() + name;
  // Private until it has its owner and bits.
  if (mkdirat(FdOf(parent), name.c_str(), like != nullptr ? 0700 : 0777) != 0) {
    return Status::FromErrno("cannot create folder", path, errno);
  }
  Status opened = OpenFolderAt(FdOf(parent), name.c_str(), path + "/", made);
  if (!opened.ok() || like == nullptr) return opened;
  const int fd = FdOf(**made);
  FileInfo now = (*made)->info();
  if (euid_ == 0 && (now.owner != like->owner || now.group != like->group)) {
    if (fchown(fd, like->owner, like->group) == 0) {
      now.owner = like->owner;
      now.group = like->group;
    }
  }
  mode_t mode = like->mode & 07777;
  if (now.group != like->group) mode &= ~static_cast<mode_t>(S_ISGID);
  if (euid_ != 0) mode |= S_IRWXU;  // to fill it; FinishFolder takes it back
  if (fchmod(fd, mode) != 0) {
    return Status::FromErrno("cannot set the mode of folder", path, errno);
  }
  return Status::Ok();
}

Status PosixEnv::FinishFolder(const Folder& folder, const FileInfo& like) {
  const int fd = FdOf(folder);
  mode_t mode = like.mode & 07777;
  if (folder.info().group != like.group) mode &= ~static_cast<mode_t>(S_ISGID);
  if (euid_ != 0 && mode != (mode | S_IRWXU) && fchmod(fd, mode) != 0) {
    return Status::FromErrno("cannot set the mode of folder", folder.path(),
                             errno);
  }
  const struct timespec times[2] = {{0, UTIME_OMIT}, TimespecOf(like.mtime_ns)};
  if (futimens(fd, times) != 0) {
    return Status::FromErrno("cannot set the time of folder", folder.path(),
                             errno);
  }
  return Status::Ok();
}

Status PosixEnv::MayChangeNames(const Folder& folder) {
  if (euid_ == 0) return Status::Ok();
  if (faccessat(FdOf(folder), ".", W_OK | X_OK, AT_EACCESS) != 0) {
    return Status::FromErrno("cannot change names in", folder.path(), errno);
  }
  return Status::Ok();
}

Status PosixEnv::MayRemove(const Folder& folder, const FileInfo& entry, Leave) {
  if ((folder.info().mode & S_ISVTX) == 0 || euid_ == 0 ||
      folder.info().owner == euid_) {
    return Status::Ok();
  }
  FileInfo info = entry;
  if (!info.complete) {
    Status examined = Stat(folder, entry.name, Follow::kNo, &info);
    if (!examined.ok()) return examined;
  }
  if (info.owner == euid_) return Status::Ok();
  return Status::FromErrno("cannot remove", folder.path() + entry.name, EPERM);
}

Status PosixEnv::MayRead(const Folder& folder, const std::string& name) {
  if (euid_ == 0) return Status::Ok();
  if (faccessat(FdOf(folder), name.c_str(), R_OK, AT_EACCESS) != 0) {
    return Status::FromErrno("cannot read", folder.path() + name, errno);
  }
  return Status::Ok();
}

Status PosixEnv::Remove(const Folder& folder, const std::string& name) {
  if (unlinkat(FdOf(folder), name.c_str(), 0) != 0) {
    return Status::FromErrno("cannot remove", folder.path() + name, errno);
  }
  return Status::Ok();
}

int PosixEnv::RenameNoReplace(int from_dir, const char* from, int to_dir,
                              const char* to) const {
  if (options_.no_replace_rename) {
    if (renameat2(from_dir, from, to_dir, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
      return errno;
    }
  }
  // link never replaces; Linux links a symbolic link itself.
  if (linkat(from_dir, from, to_dir, to, 0) != 0) return errno;
  if (unlinkat(from_dir, from, 0) != 0) {
    int error = errno;
    unlinkat(to_dir, to, 0);  // back to the one name it had
    return error;
  }
  return 0;
}

Status PosixEnv::Rename(const Folder& from, const std::string& from_name,
                        const Folder& to, const std::string& to_name) {
  int error =
      RenameNoReplace(FdOf(from), from_name.c_str(), FdOf(to), to_name.c_str());
  if (error == 0) return Status::Ok();
  return Status::FromErrno(
      "cannot move", from.path() + from_name + " to " + to.path() + to_name,
      error);
}

}  // namespace dravelkent
