#pragma once

// Pieces shared by the operations of RealDiskInterface (real_disk_interface.cc
// and real_copy_batch.cc); not for use elsewhere.

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "fsutil/posix_file_util.h"
#include "fsutil/real_disk_interface.h"

namespace dravelkent {
namespace disk_internal {

// Opens the folder that will hold |path| as |*handle|, named in messages by
// |path|'s own folder text, and gives |path|'s last name. Returns 0 or errno.
int OpenParentHandle(const std::string& path,
                     std::optional<FolderHandle>* handle, std::string* name);

// Returns 0 when |rc| is 0, else errno.
int ErrnoOf(int rc);

// Whether a new file takes the source's owner and group: kKeep for a move;
// kMine for a copy, which takes them only where the program runs as root.
enum class Owner { kKeep, kMine };

// Gives the open file |fd| the owner (as |owner| says), mode and times of
// |st|; a set-user-ID (set-group-ID) bit only when the file's owner (group)
// is the source's. Returns 0 or errno.
int SetFileAttributes(int fd, const struct stat& st, Owner owner);

// Gives the link |name| in |dir_fd| the owner (when asked) and times of
// |st|; a link has no mode of its own. Returns 0 or errno.
int SetLinkAttributes(int dir_fd, const std::string& name,
                      const struct stat& st, Owner owner);

// Returns the mtime of |st| in nanoseconds since the epoch.
int64_t MtimeNs(const struct stat& st);

// Returns the kind of file |mode| tells.
FileKind KindOf(mode_t mode);

// Returns a reader of the open folder |dir| (closed when it goes), naming
// it |path| in messages.
std::unique_ptr<DirReader> MakeDirReader(DIR* dir, std::string path,
                                         EntryTimes times);

}  // namespace disk_internal

// One copy or move: runs its steps through RealDiskInterface::RunStep and
// builds the failure that names the operation and both paths.
class RealDiskInterface::Operation {
 public:
  Operation(const RealDiskInterface* disk, const char* what,
            const std::string& from, const std::string& to)
      : disk_(disk), what_(what), paths_(from + " to " + to) {}

  // Runs |body| as |step|. Returns true when it gave 0; otherwise keeps the
  // failure for status() and returns false.
  bool Do(DiskStep step, const std::function<int()>& body) {
    const int error = disk_->RunStep(step, body);
    if (error == 0) return true;
    Fail(error);
    return false;
  }

  // Keeps the failure for |error|; returns it, kept, for a caller that
  // hands it on.
  const Status& Fail(int error) {
    status_ = Status::FromErrno(what_, paths_, error);
    return status_;
  }

  // As Fail, for a source of a kind it cannot take.
  const Status& FailKind(const char* reason) {
    status_ = Status::Error(what_ + " " + paths_ + ": " + reason);
    return status_;
  }

  const Status& status() const { return status_; }

 private:
  const RealDiskInterface* disk_;
  std::string what_;
  std::string paths_;
  Status status_;
};

}  // namespace dravelkent
