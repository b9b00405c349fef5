#include "settings/file_saving.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>

namespace dravelkent {
namespace {

// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxLinkHops = 40;

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  return dir == "/" ? "/" + name : dir + "/" + name;
}

// Writes all of |bytes| to |fd| from |offset| on. Returns 0, or the errno
// of the failure.
int WriteAllAt(int fd, std::string_view bytes, off_t offset) {
  while (!bytes.empty()) {
    ssize_t put = pwrite(fd, bytes.data(), bytes.size(), offset);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return errno;
    bytes.remove_prefix(static_cast<size_t>(put));
    offset += put;
  }
  return 0;
}

Status SaveFailure(const std::string& shown, int error) {
  return Status::FromErrno("cannot save", shown, error);
}

}  // namespace

Status ResolveLinks(const std::string& path, std::string* target) {
  *target = path;
  for (int hops = 0;; ++hops) {
    struct stat info;
    if (lstat(target->c_str(), &info) != 0) {
      if (errno == ENOENT) return Status::Ok();
      return Status::FromErrno("cannot look up", *target, errno);
    }
    if (!S_ISLNK(info.st_mode)) return Status::Ok();
    if (hops == kMaxLinkHops) {
      return Status::FromErrno("cannot follow links of", path, ELOOP);
    }
    std::string link(static_cast<size_t>(info.st_size) + 256, '\0');
    ssize_t length = readlink(target->c_str(), link.data(), link.size());
    if (length < 0) return Status::FromErrno("cannot read link", *target, errno);
    if (static_cast<size_t>(length) == link.size()) {
      // The link grew between lstat and readlink; look again.
      continue;
    }
    link.resize(static_cast<size_t>(length));
    *target = link.front() == '/' ? link : JoinPath(DirName(*target), link);
  }
}

int CreateSaveTemporary(const std::string& target, mode_t mode,
                        std::string* temp) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static uint64_t counter = 0;
  const std::string prefix =
      JoinPath(DirName(target), "." + BaseName(target) + ".");
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t random = 0;
    if (getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random) {
      random = (static_cast<uint64_t>(getpid()) << 32) ^
               static_cast<uint64_t>(time(nullptr)) ^ (++counter * 7919);
    }
    *temp = prefix;
    for (int i = 0; i < 6; ++i) {
      temp->push_back(kLetters[random % (sizeof kLetters - 1)]);
      random /= sizeof kLetters - 1;
    }
    int fd = open(temp->c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

Status SaveByRename(const std::string& target, std::string_view bytes,
                    const struct stat* old_info, const std::string& shown) {
  // A new file gets the mode any new file gets; a replacement is written
  // privately and then given the old file's mode.
  std::string temp;
  int fd =
      CreateSaveTemporary(target, old_info != nullptr ? 0600 : 0666, &temp);
  if (fd < 0) {
    return Status::FromErrno("cannot create a temporary file to save",
                             shown, errno);
  }
  auto fail = [&](int error) {
    if (fd >= 0) close(fd);
    unlink(temp.c_str());
    return SaveFailure(shown, error);
  };

  if (int error = WriteAllAt(fd, bytes, 0); error != 0) {
    return fail(error);
  }
  if (old_info != nullptr) {
    mode_t mode = old_info->st_mode & 07777;
    if (fchmod(fd, mode) != 0) return fail(errno);
    // Keeps the owner when run by root on someone else's file; a plain user
    // cannot give a file away, and the new file is then theirs.
    struct stat temp_info;
    if (fstat(fd, &temp_info) != 0) return fail(errno);
    bool same_owner = temp_info.st_uid == old_info->st_uid &&
                      temp_info.st_gid == old_info->st_gid;
    if (!same_owner && fchown(fd, old_info->st_uid, old_info->st_gid) == 0) {
      // A change of owner clears the set-id bits; put them back.
      if (fchmod(fd, mode) != 0) return fail(errno);
    }
  }
  if (fsync(fd) != 0) return fail(errno);
  int closed = close(fd);
  fd = -1;
  if (closed != 0) return fail(errno);
  if (rename(temp.c_str(), target.c_str()) != 0) return fail(errno);

  // The rename is made; flush the folder so that it survives a crash.
  std::string dir = DirName(target);
  int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) {
    return Status::FromErrno("saved, but cannot flush the folder of",
                             shown, errno);
  }
  int synced = fsync(dir_fd);
  int error = errno;
  close(dir_fd);
  // Some file systems cannot flush a folder at all; that is no failure.
  if (synced != 0 && error != EINVAL) {
    return Status::FromErrno("saved, but cannot flush the folder of",
                             shown, error);
  }
  return Status::Ok();
}

int OpenForSavingInPlace(const std::string& target,
                         const struct stat& old_info,
                         const std::string& shown, Status* status) {
  int fd = open(target.c_str(),
                O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    *status = SaveFailure(shown, errno);
    return -1;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    *status = SaveFailure(shown, errno);
  } else if (info.st_dev != old_info.st_dev ||
             info.st_ino != old_info.st_ino) {
    *status = Status::Error("cannot save " + shown +
                            ": it was replaced while being saved");
  } else {
    return fd;
  }
  close(fd);
  return -1;
}

Status SaveInPlace(const std::string& target, std::string_view old_bytes,
                   std::string_view new_bytes, const struct stat& old_info,
                   const std::string& shown) {
  Status status;
  int fd = OpenForSavingInPlace(target, old_info, shown, &status);
  if (fd < 0) return status;
  size_t first_change = 0;
  size_t shorter = std::min(old_bytes.size(), new_bytes.size());
  while (first_change < shorter &&
         old_bytes[first_change] == new_bytes[first_change]) {
    ++first_change;
  }
  int error = 0;
  if (new_bytes.size() > old_bytes.size()) {
    error = posix_fallocate(fd, 0, static_cast<off_t>(new_bytes.size()));
  }
  if (error == 0) {
    error = WriteAllAt(fd,
                       new_bytes.substr(first_change),
                       static_cast<off_t>(first_change));
  }
  if (error == 0 && ftruncate(fd, static_cast<off_t>(new_bytes.size())) != 0) {
    error = errno;
  }
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  return error == 0 ? Status::Ok() : SaveFailure(shown, error);
}

}  // namespace dravelkent
