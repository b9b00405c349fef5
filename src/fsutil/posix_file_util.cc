#include "fsutil/posix_file_util.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>
#include <vector>

#include "fsutil/temp_names.h"

namespace dravelkent {
namespace {

constexpr int kNameAttempts = 100;

// Returns a fresh temporary name (FileTempName) from random bits.
std::string RandomTempName() {
  uint64_t bits = 0;
  if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits) {
    // No entropy yet: the clock and the process make it unique enough, and
    // every user of the name retries when it is taken.
    static uint64_t counter = 0;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    bits = (static_cast<uint64_t>(now.tv_nsec) << 20) ^
           static_cast<uint64_t>(now.tv_sec) ^
           (static_cast<uint64_t>(getpid()) << 40) ^ ++counter;
  }
  return FileTempName(bits);
}

bool IsUnsupported(int error) {
  return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

}  // namespace

UniqueFd::~UniqueFd() { Reset(); }

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

void SplitPath(const std::string& path, std::string* folder,
               std::string* name) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    *folder = ".";
    *name = path;
  } else {
    *folder = slash == 0 ? "/" : path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
}

std::string WithTrailingSlash(const std::string& path) {
  return path.empty() || path.back() == '/' ? path : path + "/";
}

int OpenParent(const std::string& path, UniqueFd* dir, std::string* name) {
  std::string folder;
  SplitPath(path, &folder, name);
  if (name->empty() || *name == "." || *name == "..") return EISDIR;
  dir->Reset(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return dir->valid() ? 0 : errno;
}

int WriteAllAt(int fd, std::string_view bytes, off_t offset) {
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

namespace {

// Copies the bytes of |from| from |*offset| up to |end| to the same place in
// |to|, with copy_file_range while |*use_copy_range| and read/write once it
// proves unsupported, and moves |*offset| on. Stops short of |end| at the
// end of |from|. Returns 0 or errno.
int CopyRange(int from, int to, off_t* offset, off_t end,
              bool* use_copy_range) {
  while (*use_copy_range && *offset < end) {
    off_t in_offset = *offset;
    off_t out_offset = *offset;
    size_t size = static_cast<size_t>(std::min<off_t>(end - *offset, 1 << 30));
    ssize_t copied =
        copy_file_range(from, &in_offset, to, &out_offset, size, 0);
    if (copied > 0) {
      *offset += copied;
      continue;
    }
    if (copied == 0) break;  // The end, or a file system that gives 0.
    int error = errno;
    if (error == EINTR) continue;
    if (error != EXDEV && !IsUnsupported(error)) return error;
    *use_copy_range = false;
  }
  // Read and write whatever copy_file_range left, up to |end| or the real
  // end, whichever comes first. The large buffer is made only when there is
  // something left to copy.
  char first[512];
  std::vector<char> buffer;
  while (*offset < end) {
    char* into = buffer.empty() ? first : buffer.data();
    size_t size = buffer.empty() ? sizeof first : buffer.size();
    size = static_cast<size_t>(
        std::min<off_t>(static_cast<off_t>(size), end - *offset));
    ssize_t got = pread(from, into, size, *offset);
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (got == 0) return 0;
    int error = WriteAllAt(to, std::string_view(into, static_cast<size_t>(got)),
                           *offset);
    if (error != 0) return error;
    *offset += got;
    if (buffer.empty()) buffer.resize(size_t{128} * 1024);
  }
  return 0;
}

}  // namespace

int CopyFileData(int from, int to) {
  struct stat st;
  if (fstat(from, &st) != 0) return errno;
  bool use_copy_range = true;
  // Data only where the source has data, the holes left as holes. What a
  // growing file adds meanwhile is left for the next copy.
  off_t end = st.st_size;
  off_t data = end > 0 ? lseek(from, 0, SEEK_DATA) : -1;
  if (data < 0) {
    // Holes cannot be told here, or the file claims to be empty (some in
    // /proc have data all the same): the whole file, to its real end.
    off_t offset = 0;
    return CopyRange(from, to, &offset, std::numeric_limits<off_t>::max(),
                     &use_copy_range);
  }
  while (data < end) {
    off_t hole = lseek(from, data, SEEK_HOLE);
    if (hole < 0) {
      if (errno != ENXIO) return errno;
      end = data;  // Shrunk meanwhile.
      break;
    }
    // At least one byte a round, whatever a race of writes and holes says.
    hole = std::min(std::max(hole, data + 1), end);
    off_t offset = data;
    int error = CopyRange(from, to, &offset, hole, &use_copy_range);
    if (error != 0) return error;
    if (offset < hole) {
      end = offset;  // Shrunk meanwhile.
      break;
    }
    if (hole == end) return 0;  // Copied up to the end.
    data = lseek(from, hole, SEEK_DATA);
    if (data < 0) {
      if (errno != ENXIO) return errno;
      break;  // Nothing but a hole up to the end.
    }
  }
  // A hole up to the end, or a file that has shrunk meanwhile: the copy
  // takes the size the source has now, but never more than it had at the
  // start or than was there to be read.
  if (fstat(from, &st) != 0) return errno;
  return ftruncate(to, std::min(end, st.st_size)) == 0 ? 0 : errno;
}

int RenameNoReplace(int from_dir, const char* from, int to_dir, const char* to,
                    NoReplaceRename how) {
  if (how == NoReplaceRename::kWhereSupported) {
    if (renameat2(from_dir, from, to_dir, to, RENAME_NOREPLACE) == 0) {
      return 0;
    }
    if (!IsUnsupported(errno)) return errno;
  }
  // link fails when |to| exists, so nothing is ever replaced. Linux does not
  // follow a symbolic link here: the link itself moves.
  if (linkat(from_dir, from, to_dir, to, 0) != 0) return errno;
  if (unlinkat(from_dir, from, 0) != 0) {
    int error = errno;
    unlinkat(to_dir, to, 0);  // Back to the one name it had.
    return error;
  }
  return 0;
}

TempEntry::~TempEntry() {
  if (!name_.empty()) unlinkat(dir_fd_, name_.c_str(), 0);
}

int TempEntry::CreateFile(UnnamedTempFiles unnamed, mode_t mode) {
  if (unnamed == UnnamedTempFiles::kWhereSupported) {
    int fd = openat(dir_fd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd >= 0) {
      fd_.Reset(fd);
      return 0;
    }
    // EISDIR: a kernel that predates O_TMPFILE; the others: a file system
    // without it. Both get a named file instead.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      return errno;
    }
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name = RandomTempName();
    int fd = openat(dir_fd_, name.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) {
      fd_.Reset(fd);
      name_ = name;
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int TempEntry::CloseFile() { return close(fd_.Release()) == 0 ? 0 : errno; }

int TempEntry::CreateLink(const std::string& target) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name = RandomTempName();
    if (symlinkat(target.c_str(), dir_fd_, name.c_str()) == 0) {
      name_ = name;
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int TempEntry::LinkUnnamed(const std::string& name) {
  if (linkat(fd_.get(), "", dir_fd_, name.c_str(), AT_EMPTY_PATH) == 0) {
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
  // AT_EMPTY_PATH needs a capability an ordinary user lacks; the link
  // through /proc does the same without it.
  char proc_path[64];
  std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd_.get());
  if (linkat(AT_FDCWD, proc_path, dir_fd_, name.c_str(), AT_SYMLINK_FOLLOW) ==
      0) {
    return 0;
  }
  return errno;
}

int TempEntry::GiveName() {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name = RandomTempName();
    int error = LinkUnnamed(name);
    if (error == 0) {
      name_ = name;
      return 0;
    }
    if (error != EEXIST) return error;
  }
  return EEXIST;
}

int TempEntry::Publish(const std::string& final_name, NoReplaceRename how) {
  int error = unnamed() ? LinkUnnamed(final_name)
                        : RenameNoReplace(dir_fd_, name_.c_str(), dir_fd_,
                                          final_name.c_str(), how);
  if (error != 0) return error;
  name_.clear();
  placed_ = true;
  return 0;
}

int TempEntry::Replace(const std::string& final_name) {
  if (renameat(dir_fd_, name_.c_str(), dir_fd_, final_name.c_str()) != 0) {
    return errno;
  }
  name_.clear();
  placed_ = true;
  return 0;
}

}  // namespace dravelkent
