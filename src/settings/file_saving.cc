#include "settings/file_saving.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

#include "fsutil/posix_file_util.h"

namespace dravelkent {
namespace {

// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxLinkHops = 40;

// Opens the folder of |target| into |*dir|, gives the target's name there
// in |*name|, and creates the named temporary file |*temp| in the folder
// with |mode|, the way any new file is made (trimmed by the umask or the
// folder's default ACL). Returns 0 or errno.
int CreateTemporaryBeside(const std::string& target, mode_t mode, UniqueFd* dir,
                          std::string* name, std::unique_ptr<TempEntry>* temp) {
  if (int error = OpenParent(target, dir, name); error != 0) return error;
  *temp = std::make_unique<TempEntry>(dir->get());
  return (*temp)->CreateFile(UnnamedTempFiles::kNever, mode);
}

Status CreateFailure(const std::string& shown, int error) {
  return Status::FromErrno("cannot create a temporary file to save", shown,
                           error);
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
    if (length < 0) {
      return Status::FromErrno("cannot read link", *target, errno);
    }
    if (static_cast<size_t>(length) == link.size()) {
      // The link grew between lstat and readlink; look again.
      continue;
    }
    link.resize(static_cast<size_t>(length));
    if (!link.starts_with('/')) {
      std::string folder;
      std::string name;
      SplitPath(*target, &folder, &name);
      link = (folder == "/" ? folder : folder + "/") + link;
    }
    *target = std::move(link);
  }
}

Status ProbeSaveByRename(const std::string& target, size_t size,
                         const std::string& shown) {
  UniqueFd dir;
  std::string name;
  std::unique_ptr<TempEntry> temp;  // removes the file as it goes
  int error = CreateTemporaryBeside(target, 0600, &dir, &name, &temp);
  if (error != 0) return CreateFailure(shown, error);
  // A full disk still lets an empty file be made: ask for the room the
  // new bytes need, as the save will.
  error = posix_fallocate(temp->fd(), 0,
                          static_cast<off_t>(std::max<size_t>(size, 1)));
  return error == 0 ? Status::Ok() : SaveFailure(shown, error);
}

Status CheckSaveByRename(const std::string& target, const std::string& shown) {
  std::string folder;
  std::string name;
  SplitPath(target, &folder, &name);
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    return CreateFailure(shown, errno);
  }
  return Status::Ok();
}

Status SaveByRename(const std::string& target, std::string_view bytes,
                    const struct stat* old_info, const std::string& shown) {
  // A new file gets the mode any new file gets; a replacement is written
  // privately and then given the old file's mode.
  UniqueFd dir;
  std::string name;
  std::unique_ptr<TempEntry> temp;  // removed on any failure
  if (int error = CreateTemporaryBeside(
          target, old_info != nullptr ? 0600 : 0666, &dir, &name, &temp);
      error != 0) {
    return CreateFailure(shown, error);
  }
  const int fd = temp->fd();
  if (int error = WriteAllAt(fd, bytes, 0); error != 0) {
    return SaveFailure(shown, error);
  }
  if (old_info != nullptr) {
    mode_t mode = old_info->st_mode & 07777;
    if (fchmod(fd, mode) != 0) return SaveFailure(shown, errno);
    // Keeps the owner when run by root on someone else's file; a plain user
    // cannot give a file away, and the new file is then theirs.
    struct stat temp_info;
    if (fstat(fd, &temp_info) != 0) return SaveFailure(shown, errno);
    bool same_owner = temp_info.st_uid == old_info->st_uid &&
                      temp_info.st_gid == old_info->st_gid;
    if (!same_owner && fchown(fd, old_info->st_uid, old_info->st_gid) == 0) {
      // A change of owner clears the set-id bits; put them back.
      if (fchmod(fd, mode) != 0) return SaveFailure(shown, errno);
    }
  }
  if (fsync(fd) != 0) return SaveFailure(shown, errno);
  if (int error = temp->CloseFile(); error != 0) {
    return SaveFailure(shown, error);
  }
  if (int error = temp->Replace(name); error != 0) {
    return SaveFailure(shown, error);
  }

  // The rename is made; flush the folder so that it survives a crash. Some
  // file systems cannot flush a folder at all; that is no failure.
  if (fsync(dir.get()) != 0 && errno != EINVAL) {
    return Status::FromErrno("saved, but cannot flush the folder of", shown,
                             errno);
  }
  return Status::Ok();
}

int OpenForSavingInPlace(const std::string& target, const struct stat& old_info,
                         const std::string& shown, Status* status) {
  int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    *status = SaveFailure(shown, errno);
    return -1;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    *status = SaveFailure(shown, errno);
  } else if (info.st_dev != old_info.st_dev || info.st_ino != old_info.st_ino) {
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
    error = WriteAllAt(fd, new_bytes.substr(first_change),
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
