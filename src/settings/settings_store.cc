#include "settings/settings_store.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <optional>

#include "jobs/texts.h"
#include "settings/ini_text.h"
#include "settings/text_encoding.h"

namespace dravelkent {
namespace {

// Symbolic links followed before giving up, as the kernel does.
constexpr int kMaxLinkHops = 40;

enum class FileState { kPresent, kMissing };

// The file's bytes and, when it exists, its status.
struct FileContents {
  FileState state = FileState::kMissing;
  std::string bytes;
  struct stat info = {};
};

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

// Reads the |expected| bytes of the open regular file |fd| from its start
// into |*bytes|, and more should it have grown. Asks for one byte more than
// expected, so that a file of unchanged size takes a single read, its end
// shown by getting exactly the size. Returns 0 or errno.
int ReadOpenFile(int fd, size_t expected, std::string* bytes) {
  bytes->resize(expected + 1);
  size_t filled = 0;
  for (;;) {
    if (filled == bytes->size()) bytes->resize(bytes->size() * 2);
    ssize_t got = pread(fd, bytes->data() + filled, bytes->size() - filled,
                        static_cast<off_t>(filled));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      bytes->clear();
      return errno;
    }
    filled += static_cast<size_t>(got);
    if (got == 0 || (filled == expected && filled < bytes->size())) break;
  }
  bytes->resize(filled);
  return 0;
}

// Opens |path| for reading. O_NONBLOCK keeps a FIFO at the path from
// stalling the open. Returns the descriptor, or -1 with errno set.
int OpenForReading(const std::string& path) {
  return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

// Returns the failure for a file of |mode| that is not a regular file.
int NotRegularError(mode_t mode) { return S_ISDIR(mode) ? EISDIR : EINVAL; }

// Reads the whole regular file at |path| into |*contents|. Returns ok with
// kMissing when there is no such file, ok with kPresent and the bytes when
// it was read, or the failure (a folder, a device, no permission, ...).
Status ReadWholeFile(const std::string& path, FileContents* contents) {
  contents->state = FileState::kMissing;
  contents->bytes.clear();
  int fd = OpenForReading(path);
  if (fd < 0) {
    if (errno == ENOENT) return Status::Ok();
    return Status::FromErrno("cannot read", path, errno);
  }
  int error = 0;
  if (fstat(fd, &contents->info) != 0) {
    error = errno;
  } else if (!S_ISREG(contents->info.st_mode)) {
    error = NotRegularError(contents->info.st_mode);
  } else {
    error = ReadOpenFile(fd, static_cast<size_t>(contents->info.st_size),
                         &contents->bytes);
  }
  close(fd);
  if (error != 0) return Status::FromErrno("cannot read", path, error);
  contents->state = FileState::kPresent;
  return Status::Ok();
}

// Follows |path| through symbolic links to the name of the file they end
// at, which need not exist, into |*target|. Returns ok, or the failure (a
// link that cannot be read, a loop).
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

// Creates a new empty file beside |target| to save it through, named
// ".<name>.<six letters>", the way any new file is made: |mode| is trimmed
// by the umask (or the folder's default ACL). Fills |*temp| with its path.
// Returns the descriptor, or -1 with errno set.
int CreateTemporary(const std::string& target, mode_t mode,
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

// How a write reaches the disk.
enum class SaveWay {
  kNone,     // the write changes no byte: nothing to save
  kRename,   // a temporary file renamed over the old one, or a new file
  kInPlace,  // the file's own bytes rewritten: other hard links share it
};

// One write worked out up to its save.
struct WritePlan {
  std::string target;  // the file the path finally names
  std::string shown;   // names the file in messages
  FileContents contents;
  std::string updated;  // the file's bytes after the write
  SaveWay way = SaveWay::kNone;
};

// Returns the failure to save |plan|'s file.
Status SaveFailure(const WritePlan& plan, int error) {
  return Status::FromErrno("cannot save", plan.shown, error);
}

// Replaces the file of |plan| by one holding its new bytes, through a
// temporary file in the same folder renamed over it. Returns ok, or the
// failure; before the rename a failure leaves the old file as it was and no
// temporary file behind.
Status SaveByRename(const WritePlan& plan) {
  const std::string& target = plan.target;
  const struct stat* old_info =
      plan.contents.state == FileState::kPresent ? &plan.contents.info
                                                 : nullptr;
  // A new file gets the mode any new file gets; a replacement is written
  // privately and then given the old file's mode.
  std::string temp;
  int fd = CreateTemporary(target, old_info != nullptr ? 0600 : 0666, &temp);
  if (fd < 0) {
    return Status::FromErrno("cannot create a temporary file to save",
                             plan.shown, errno);
  }
  auto fail = [&](int error) {
    if (fd >= 0) close(fd);
    unlink(temp.c_str());
    return SaveFailure(plan, error);
  };

  if (int error = WriteAllAt(fd, plan.updated, 0); error != 0) {
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
                             plan.shown, errno);
  }
  int synced = fsync(dir_fd);
  int error = errno;
  close(dir_fd);
  // Some file systems cannot flush a folder at all; that is no failure.
  if (synced != 0 && error != EINVAL) {
    return Status::FromErrno("saved, but cannot flush the folder of",
                             plan.shown, error);
  }
  return Status::Ok();
}

// Opens the existing file of |plan| for writing, as an in-place save does.
// Returns the descriptor, or -1 with |*status| set to the failure.
int OpenForSavingInPlace(const WritePlan& plan, Status* status) {
  int fd = open(plan.target.c_str(),
                O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    *status = SaveFailure(plan, errno);
    return -1;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    *status = SaveFailure(plan, errno);
  } else if (info.st_dev != plan.contents.info.st_dev ||
             info.st_ino != plan.contents.info.st_ino) {
    *status = Status::Error("cannot save " + plan.shown +
                            ": it was replaced while being saved");
  } else {
    return fd;
  }
  close(fd);
  return -1;
}

// Rewrites the file of |plan|, which other hard links share, in place:
// the bytes from the first change on, then its new length, then a flush.
// Space for a longer file is taken first, so that a full disk or a size
// limit fails before any byte changes. Returns ok, or the failure; a
// failure (or a crash) once writing has begun can leave the file part old,
// part new.
Status SaveInPlace(const WritePlan& plan) {
  Status status;
  int fd = OpenForSavingInPlace(plan, &status);
  if (fd < 0) return status;
  const std::string& old_bytes = plan.contents.bytes;
  const std::string& new_bytes = plan.updated;
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
                       std::string_view(new_bytes).substr(first_change),
                       static_cast<off_t>(first_change));
  }
  if (error == 0 && ftruncate(fd, static_cast<off_t>(new_bytes.size())) != 0) {
    error = errno;
  }
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  return error == 0 ? Status::Ok() : SaveFailure(plan, error);
}

Status EditFailure(IniEditResult result, std::string_view section,
                   std::string_view key, const std::string& path,
                   std::string_view file_bytes) {
  TextEncoding encoding = DetectEncoding(file_bytes);
  std::string message = "cannot write ";
  message.append(key).append(" in [").append(section).append("] of ");
  message.append(path).append(": ");
  switch (result) {
    case IniEditResult::kNotEncodable:
      message.append("the value has no form in the file's encoding (");
      message.append(EncodingName(encoding)).append(")");
      break;
    case IniEditResult::kUnknownEncoding:
      message.append("the file's encoding (").append(EncodingName(encoding));
      message.append(") cannot be written");
      break;
    case IniEditResult::kEncodingWouldChange:
      message.append("the file is ").append(EncodingName(encoding));
      message.append(" only because of the old value; without it the file "
                     "would read as ");
      message.append(encoding == TextEncoding::kCp932 ? "UTF-8" : "CP932");
      message.append(" and its other lines would change");
      break;
    case IniEditResult::kUndecodableLines: {
      UndecodableLines bad = FindUndecodableLines(file_bytes);
      message.append("the section is not in the file, and ");
      message.append(std::to_string(bad.count)).append(" of its lines (the "
                     "first is line ").append(std::to_string(bad.first));
      message.append(") are not valid ").append(EncodingName(encoding));
      message.append("; one of them may be the section, so none is added");
      break;
    }
    case IniEditResult::kMalformed:
    case IniEditResult::kDone:
      message.append("the name or the value would not read back");
      break;
  }
  return Status::Error(std::move(message));
}

// Works out the write of |value| to |key| in |section| of the file at
// |path| (the file its symbolic links end at) into |*plan|. Returns ok, or
// the failure the write gives: the file cannot be read, the edit cannot be
// made, or the file, which the write would change, is not writable by the
// user (a save by rename would replace it regardless).
Status PlanWrite(const std::string& path, std::string_view section,
                 std::string_view key, std::string_view value,
                 WritePlan* plan) {
  Status resolved = ResolveLinks(path, &plan->target);
  if (!resolved.ok()) return resolved;
  plan->shown =
      plan->target == path ? path : path + " -> " + plan->target;
  Status read = ReadWholeFile(plan->target, &plan->contents);
  if (!read.ok()) return read;
  const std::string& bytes = plan->contents.bytes;

  IniEditResult result =
      SetIniValue(bytes, section, key, value, &plan->updated);
  if (result != IniEditResult::kDone) {
    return EditFailure(result, section, key, plan->shown, bytes);
  }
  if (plan->contents.state == FileState::kMissing) {
    plan->way = SaveWay::kRename;
    return Status::Ok();
  }
  if (plan->updated == bytes) {
    plan->way = SaveWay::kNone;
    return Status::Ok();
  }
  if (faccessat(AT_FDCWD, plan->target.c_str(), W_OK, AT_EACCESS) != 0) {
    return SaveFailure(*plan, errno);
  }
  // A file with other names stays one file: a rename would part them.
  plan->way =
      plan->contents.info.st_nlink > 1 ? SaveWay::kInPlace : SaveWay::kRename;
  return Status::Ok();
}

}  // namespace

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {}

SettingsStore::~SettingsStore() {
  if (fd_ >= 0) close(fd_);
}

bool SettingsStore::ReadCurrentBytes(std::string* bytes) const {
  // The path is looked up on every read: a file replaced since (a save
  // renames a new file over the old one) is another file, opened afresh.
  struct stat info;
  if (stat(path_.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  if (fd_ < 0 || info.st_dev != device_ || info.st_ino != inode_) {
    if (fd_ >= 0) close(fd_);
    fd_ = OpenForReading(path_);
    // The file opened may differ from the one looked at; judge that one.
    if (fd_ < 0 || fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
      if (fd_ >= 0) close(fd_);
      fd_ = -1;
      return false;
    }
    device_ = info.st_dev;
    inode_ = info.st_ino;
  }
  return ReadOpenFile(fd_, static_cast<size_t>(info.st_size), bytes) == 0;
}

std::string SettingsStore::Read(std::string_view section, std::string_view key,
                                std::string_view default_value) const {
  // The buffer of the last read is filled again: no allocation, and no
  // zeroing of the bytes that are read over anyway.
  if (!ReadCurrentBytes(&buffer_)) return std::string(default_value);
  std::optional<std::string> value = FindIniValue(buffer_, section, key);
  return value ? *value : std::string(default_value);
}

Status SettingsStore::Write(std::string_view section, std::string_view key,
                            std::string_view value) {
  WritePlan plan;
  Status planned = PlanWrite(path_, section, key, value, &plan);
  if (!planned.ok()) return planned;
  switch (plan.way) {
    case SaveWay::kNone:
      return Status::Ok();
    case SaveWay::kRename:
      return SaveByRename(plan);
    case SaveWay::kInPlace:
      return SaveInPlace(plan);
  }
  return Status::Ok();
}

Status SettingsStore::CheckReadable() const {
  FileContents contents;
  Status read = ReadWholeFile(path_, &contents);
  if (!read.ok() || contents.state == FileState::kMissing) return read;
  TextEncoding encoding = DetectEncoding(contents.bytes);
  if (!TextCodec(encoding).usable()) {
    return Status::Error("cannot read " + path_ + ": text in " +
                         EncodingName(encoding) + " cannot be read");
  }
  UndecodableLines bad = FindUndecodableLines(contents.bytes);
  if (bad.count > 0) {
    bool one = bad.count == 1;
    std::string first = std::to_string(bad.first);
    std::string where = one ? "line " + first + " of " + path_
                            : std::to_string(bad.count) + " lines of " +
                                  path_ + " (the first is line " + first + ")";
    std::string they = one ? "it is" : "they are";
    return Status::Error("cannot read " + where + ": not valid " +
                         EncodingName(encoding) + "; " + they +
                         " ignored and kept as " + they);
  }
  return Status::Ok();
}

Status SettingsStore::ProbeWrite(std::string_view section,
                                 std::string_view key,
                                 std::string_view value) const {
  WritePlan plan;
  Status planned = PlanWrite(path_, section, key, value, &plan);
  if (!planned.ok()) return planned;
  switch (plan.way) {
    case SaveWay::kNone:
      return Status::Ok();
    case SaveWay::kRename: {
      std::string temp;
      int fd = CreateTemporary(plan.target, 0600, &temp);
      if (fd < 0) {
        return Status::FromErrno("cannot create a temporary file to save",
                                 plan.shown, errno);
      }
      close(fd);
      unlink(temp.c_str());
      return Status::Ok();
    }
    case SaveWay::kInPlace: {
      Status status;
      int fd = OpenForSavingInPlace(plan, &status);
      if (fd >= 0) close(fd);
      return status;
    }
  }
  return Status::Ok();
}

std::string SettingsPathFor(const std::string& current_directory) {
  return current_directory + "/" + texts::kSettingsFileName;
}

}  // namespace dravelkent
