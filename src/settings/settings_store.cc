#include "settings/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "settings/file_saving.h"
#include "settings/ini_text.h"
#include "settings/text_encoding.h"

namespace dravelkent {
namespace {

enum class FileState { kPresent, kMissing };

// The file's bytes and, when it exists, its status.
struct FileContents {
  FileState state = FileState::kMissing;
  std::string bytes;
  struct stat info = {};
};

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
      message.append(
          " only because of the old value; without it the file "
          "would read as ");
      message.append(encoding == TextEncoding::kCp932 ? "UTF-8" : "CP932");
      message.append(" and its other lines would change");
      break;
    case IniEditResult::kUndecodableLines: {
      UndecodableLines bad = FindUndecodableLines(file_bytes);
      message.append("the section is not in the file, and ");
      message.append(std::to_string(bad.count));
      message.append(" of its lines (the first is line ");
      message.append(std::to_string(bad.first));
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
  plan->shown = plan->target == path ? path : path + " -> " + plan->target;
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
    return Status::FromErrno("cannot save", plan->shown, errno);
  }
  // A file with other names stays one file: a rename would part them.
  plan->way =
      plan->contents.info.st_nlink > 1 ? SaveWay::kInPlace : SaveWay::kRename;
  return Status::Ok();
}

// Saves the bytes |plan| worked out, the way it chose. Returns ok or the
// failure.
Status Save(const WritePlan& plan) {
  switch (plan.way) {
    case SaveWay::kNone:
      return Status::Ok();
    case SaveWay::kRename:
      return SaveByRename(plan.target, plan.updated,
                          plan.contents.state == FileState::kPresent
                              ? &plan.contents.info
                              : nullptr,
                          plan.shown);
    case SaveWay::kInPlace:
      return SaveInPlace(plan.target, plan.contents.bytes, plan.updated,
                         plan.contents.info, plan.shown);
  }
  return Status::Ok();
}

}  // namespace

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {}

SettingsStore::~SettingsStore() = default;

const IniFile* SettingsStore::CurrentFile() const {
  auto stamp_of = [](const struct stat& info) {
    return FileStamp{static_cast<uint64_t>(info.st_dev),
                     static_cast<uint64_t>(info.st_ino),
                     static_cast<int64_t>(info.st_size),
                     static_cast<int64_t>(info.st_mtim.tv_sec),
                     static_cast<int64_t>(info.st_mtim.tv_nsec),
                     static_cast<int64_t>(info.st_ctim.tv_sec),
                     static_cast<int64_t>(info.st_ctim.tv_nsec)};
  };
  // The path is looked up on every read: a file replaced since (a save
  // renames a new file over the old one) or changed is read afresh.
  struct stat info;
  if (stat(path_.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    parsed_.reset();
    return nullptr;
  }
  if (parsed_ != nullptr && stamp_of(info) == parsed_stamp_) {
    return parsed_.get();
  }
  parsed_.reset();
  FileContents contents;
  if (!ReadWholeFile(path_, &contents).ok() ||
      contents.state == FileState::kMissing) {
    return nullptr;
  }
  // The stamp of the file opened, as it was before its bytes were read.
  parsed_stamp_ = stamp_of(contents.info);
  parsed_ = std::make_unique<IniFile>(ParseIniFile(contents.bytes));
  return parsed_.get();
}

std::string SettingsStore::Read(std::string_view section, std::string_view key,
                                std::string_view default_value) const {
  const IniFile* file = CurrentFile();
  std::optional<std::string> value =
      file != nullptr ? FindIniValue(*file, section, key) : std::nullopt;
  return value ? *value : std::string(default_value);
}

Status SettingsStore::Write(std::string_view section, std::string_view key,
                            std::string_view value, FileChange* change) {
  if (change != nullptr) *change = FileChange::kNone;
  WritePlan plan;
  Status planned = PlanWrite(path_, section, key, value, &plan);
  if (!planned.ok()) return planned;
  if (plan.way == SaveWay::kNone) return Status::Ok();
  // Whatever the save does to the file, the next read parses it afresh.
  parsed_.reset();
  Status saved = Save(plan);
  if (saved.ok() && change != nullptr) *change = FileChange::kChanged;
  return saved;
}

Status SettingsStore::PreviewWrite(std::string_view section,
                                   std::string_view key, std::string_view value,
                                   FileChange* change) const {
  WritePlan plan;
  Status planned = PlanWrite(path_, section, key, value, &plan);
  *change =
      plan.way == SaveWay::kNone ? FileChange::kNone : FileChange::kChanged;
  if (planned.ok() && plan.way == SaveWay::kRename) {
    return CheckSaveByRename(plan.target, plan.shown);
  }
  return planned;
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
                            : std::to_string(bad.count) + " lines of " + path_ +
                                  " (the first is line " + first + ")";
    std::string they = one ? "it is" : "they are";
    return Status::Error("cannot read " + where + ": not valid " +
                         EncodingName(encoding) + "; " + they +
                         " ignored and kept as " + they);
  }
  return Status::Ok();
}

Status SettingsStore::ProbeWrite(std::string_view section, std::string_view key,
                                 std::string_view value) const {
  WritePlan plan;
  Status planned = PlanWrite(path_, section, key, value, &plan);
  if (!planned.ok()) return planned;
  switch (plan.way) {
    case SaveWay::kNone:
      return Status::Ok();
    case SaveWay::kRename:
      return ProbeSaveByRename(plan.target, plan.updated.size(), plan.shown);
    case SaveWay::kInPlace: {
      Status status;
      int fd = OpenForSavingInPlace(plan.target, plan.contents.info, plan.shown,
                                    &status);
      if (fd >= 0) close(fd);
      return status;
    }
  }
  return Status::Ok();
}

}  // namespace dravelkent
