// The POSIX Env's files: sources, new files and links, flush and publish.

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <limits>
#include <vector>

#include "fsutil/env_posix.h"
#include "fsutil/temp_names.h"

namespace dravelkent {
namespace {

constexpr int kNameAttempts = 100;

std::string RandomTempName() {
  uint64_t bits = 0;
  if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits) {
    // No entropy yet: unique enough, and a name taken is tried again.
    static uint64_t counter = 0;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    bits = (static_cast<uint64_t>(now.tv_nsec) << 20) ^
           static_cast<uint64_t>(now.tv_sec) ^
           (static_cast<uint64_t>(getpid()) << 40) ^ ++counter;
  }
  return FileTempName(bits);
}

// Copies the bytes of |from| from |*offset| up to |end| (or its real end)
// to the same place in |to|. Returns 0 or errno.
int CopyRange(int from, int to, off_t* offset, off_t end, bool* in_kernel) {
  while (*in_kernel && *offset < end) {
    off_t in = *offset;
    off_t out = *offset;
    size_t size = static_cast<size_t>(std::min<off_t>(end - *offset, 1 << 30));
    ssize_t copied = copy_file_range(from, &in, to, &out, size, 0);
    if (copied > 0) {
      *offset += copied;
      continue;
    }
    if (copied == 0) return 0;  // the real end
    if (errno == EINTR) continue;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
        errno != EXDEV) {
      return errno;
    }
    *in_kernel = false;
  }
  std::vector<char> buffer;
  while (*offset < end) {
    if (buffer.empty()) buffer.resize(size_t{128} * 1024);
    size_t size = static_cast<size_t>(
        std::min<off_t>(static_cast<off_t>(buffer.size()), end - *offset));
    ssize_t got = pread(from, buffer.data(), size, *offset);
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (got == 0) return 0;
    if (int error = WriteAll(to, {buffer.data(), size_t(got)}, *offset)) {
      return error;
    }
    *offset += got;
  }
  return 0;
}

// Copies the data segments of |from| below |size| into |to|, leaving holes
// as holes. Returns 0 or errno; |*copied| ends at the end of what was read.
int CopySegments(int from, int to, off_t size, off_t* copied, bool* in_kernel) {
  off_t data = lseek(from, 0, SEEK_DATA);
  while (data >= 0 && data < size) {
    off_t hole = lseek(from, data, SEEK_HOLE);
    if (hole < 0) return errno == ENXIO ? 0 : errno;  // shrunk meanwhile
    hole = std::min(std::max(hole, data + 1), size);
    *copied = data;
    if (int error = CopyRange(from, to, copied, hole, in_kernel)) return error;
    if (*copied < hole) return 0;  // shrunk meanwhile
    if (hole == size) return 0;
    data = lseek(from, hole, SEEK_DATA);
  }
  // ENXIO: nothing but holes from there on, the first byte included.
  if (data < 0 && errno != ENXIO) return errno;
  *copied = size;
  return 0;
}

Status Failure(const char* what, const OpenFile& file, int error) {
  return Status::FromErrno(what, file.native()->path, error);
}

Status Failure(const Folder& folder, int error) {
  return Status::FromErrno("cannot create a file in", folder.path(), error);
}

OpenFile::Native* NewTemp(const Folder& folder, int fd, std::string name) {
  return new OpenFile::Native{.fd = fd,
                              .dir_fd = folder.native()->fd,
                              .device = static_cast<dev_t>(folder.id().device),
                              .temp_name = name,
                              .folder_path = folder.path(),
                              .path = folder.path() + name};
}

}  // namespace

void OpenFile::NativeDeleter::operator()(Native* native) const {
  if (native->fd >= 0) close(native->fd);
  if (!native->published && !native->temp_name.empty()) {
    unlinkat(native->dir_fd, native->temp_name.c_str(), 0);
  }
  delete native;
}

int PosixEnv::CreateNamedTemp(int dir_fd, mode_t mode, std::string* name) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    *name = RandomTempName();
    int fd = openat(dir_fd, name->c_str(),
                    O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

Status PosixEnv::OpenForCopy(const Folder& folder, const std::string& name,
                             Follow follow, std::unique_ptr<OpenFile>* file,
                             FileInfo* info) {
  const std::string path = folder.path() + name;
  if (follow == Follow::kYes) {
    Status examined = Stat(folder, name, Follow::kYes, info);
    if (!examined.ok()) return examined;
  }
  int fd = openat(folder.native()->fd, name.c_str(),
                  O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK |
                      (follow == Follow::kYes ? 0 : O_NOFOLLOW));
  if (fd < 0) return Status::FromErrno("cannot copy", path, errno);
  auto* native = new OpenFile::Native;
  native->fd = fd;
  native->path = path;
  file->reset(new OpenFile(native));
  struct stat st;
  if (fstat(fd, &st) != 0) return Status::FromErrno("cannot copy", path, errno);
  InfoFromStat(st, info);
  info->name = name;
  if (!S_ISREG(st.st_mode)) {
    file->reset();
    return Status::Error("cannot copy " + path + ": not a regular file");
  }
  return Status::Ok();
}

Status PosixEnv::StatOpen(OpenFile& file, FileInfo* info) {
  struct stat st;
  if (fstat(file.native()->fd, &st) != 0) {
    return Failure("cannot examine", file, errno);
  }
  InfoFromStat(st, info);
  return Status::Ok();
}

Status PosixEnv::CreateTemp(const Folder& folder,
                            const std::string* link_target,
                            std::unique_ptr<OpenFile>* temp) {
  const int dir = folder.native()->fd;
  if (link_target == nullptr && options_.unnamed_temp_files) {
    // Unnamed: it vanishes should the process die before it is published.
    int fd = openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
      temp->reset(new OpenFile(NewTemp(folder, fd, "")));
      return Status::Ok();
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      return Failure(folder, errno);
    }
  }
  std::string name;
  int fd = -1;
  if (link_target == nullptr) {
    fd = CreateNamedTemp(dir, 0600, &name);
  } else {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      name = RandomTempName();
      if (symlinkat(link_target->c_str(), dir, name.c_str()) == 0) break;
      if (errno != EEXIST) return Failure(folder, errno);
      name.clear();
    }
  }
  if (name.empty() || (link_target == nullptr && fd < 0)) {
    return Failure(folder, name.empty() ? EEXIST : errno);
  }
  temp->reset(new OpenFile(NewTemp(folder, fd, name)));
  return Status::Ok();
}

Status PosixEnv::CopyData(OpenFile& from, const FileInfo& info, OpenFile& to) {
  const int in = from.native()->fd;
  const int out = to.native()->fd;
  bool in_kernel = true;
  off_t copied = 0;
  int error = 0;
  if (info.size == 0) {
    // Empty, or one of the files that claim so and have data all the same.
    error = CopyRange(in, out, &copied, std::numeric_limits<off_t>::max(),
                      &in_kernel);
  } else if (!info.may_have_holes) {
    // Its blocks cover its size: no holes to look for.
    error = CopyRange(in, out, &copied, info.size, &in_kernel);
  } else {
    error = CopySegments(in, out, info.size, &copied, &in_kernel);
    if (error == 0 && ftruncate(out, copied) != 0) error = errno;
  }
  if (error != 0) return Failure("cannot copy the data of", from, error);
  return Status::Ok();
}

Status PosixEnv::SetAttributes(OpenFile& to, const FileInfo& like,
                               Owner owner) {
  OpenFile::Native& n = *to.native();
  const bool give = owner == Owner::kKeep || euid_ == 0;
  uid_t uid = euid_;
  gid_t gid = 0;
  bool group_known = false;
  if (give && (like.owner != euid_ || like.group != egid_)) {
    // Only root may give a file away; else the set-id bits go, unsaid.
    int rc = n.fd >= 0 ? fchown(n.fd, like.owner, like.group)
                       : fchownat(n.dir_fd, n.temp_name.c_str(), like.owner,
                                  like.group, AT_SYMLINK_NOFOLLOW);
    if (rc == 0) {
      uid = like.owner;
      gid = like.group;
      group_known = true;
    }
  } else if (like.owner == euid_ && like.group == egid_) {
    gid = egid_;
    group_known = true;
  }
  const struct timespec times[2] = {{0, UTIME_OMIT}, TimespecOf(like.mtime_ns)};
  if (n.fd < 0) {  // a link has no mode of its own
    if (utimensat(n.dir_fd, n.temp_name.c_str(), times, AT_SYMLINK_NOFOLLOW)) {
      return Failure("cannot set the time of", to, errno);
    }
    return Status::Ok();
  }
  mode_t mode = like.mode & 07777;
  if (uid != like.owner) mode &= ~static_cast<mode_t>(S_ISUID);
  if (!group_known || gid != like.group) mode &= ~static_cast<mode_t>(S_ISGID);
  if (fchmod(n.fd, mode) != 0)
    return Failure("cannot set the mode of", to, errno);
  if (futimens(n.fd, times) != 0) {
    return Failure("cannot set the time of", to, errno);
  }
  return Status::Ok();
}

Status PosixEnv::Flush(const std::vector<OpenFile*>& files) {
  std::vector<OpenFile*> data;
  for (OpenFile* file : files) {
    if (file->native()->fd >= 0) data.push_back(file);
  }
  if (data.size() == 1) {
    if (fsync(data[0]->native()->fd) != 0) {
      return Failure("cannot flush", *data[0], errno);
    }
    return Status::Ok();
  }
  std::vector<dev_t> flushed;
  for (OpenFile* file : data) {
    const OpenFile::Native& n = *file->native();
    if (std::find(flushed.begin(), flushed.end(), n.device) != flushed.end()) {
      continue;
    }
    if (syncfs(n.fd) != 0) {
      if (errno != ENOSYS) return Failure("cannot flush", *file, errno);
      for (OpenFile* other : data) {
        if (other->native()->device == n.device &&
            fsync(other->native()->fd) != 0) {
          return Failure("cannot flush", *other, errno);
        }
      }
    }
    flushed.push_back(n.device);
  }
  return Status::Ok();
}

Status PosixEnv::Publish(OpenFile& temp, const std::string& name,
                         Replace replace) {
  OpenFile::Native& n = *temp.native();
  const std::string path = n.folder_path + name;
  int error = 0;
  if (n.temp_name.empty()) {
    error = LinkUnnamed(n, name);
    if (error != EEXIST || replace == Replace::kNo) {
      n.published = error == 0;
      return error == 0 ? Status::Ok()
                        : Status::FromErrno("cannot create", path, error);
    }
    // rename takes no unnamed file: a temporary name first.
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      std::string named = RandomTempName();
      error = LinkUnnamed(n, named);
      if (error == 0) n.temp_name = named;
      if (error != EEXIST) break;
    }
    if (error != 0) return Status::FromErrno("cannot create", path, error);
  }
  error = replace == Replace::kYes
              ? ErrnoOf(renameat(n.dir_fd, n.temp_name.c_str(), n.dir_fd,
                                 name.c_str()))
              : RenameNoReplace(n.dir_fd, n.temp_name.c_str(), n.dir_fd,
                                name.c_str());
  if (error != 0) return Status::FromErrno("cannot create", path, error);
  n.published = true;
  return Status::Ok();
}

int PosixEnv::LinkUnnamed(const OpenFile::Native& n,
                          const std::string& name) const {
  // AT_EMPTY_PATH needs a capability; the link through /proc does not.
  if (euid_ == 0) {
    if (linkat(n.fd, "", n.dir_fd, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
    if (errno == EEXIST) return EEXIST;
  }
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", n.fd);
  return ErrnoOf(
      linkat(AT_FDCWD, proc, n.dir_fd, name.c_str(), AT_SYMLINK_FOLLOW));
}

Status PosixEnv::FlushFolder(const Folder& folder) {
  if (fsync(folder.native()->fd) != 0 && errno != EINVAL && errno != EBADF) {
    return Status::FromErrno("cannot flush folder", folder.path(), errno);
  }
  return Status::Ok();
}

}  // namespace dravelkent
