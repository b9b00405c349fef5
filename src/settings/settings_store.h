#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"

namespace dravelkent {

struct IniFile;

// Whether a write changes the settings file's bytes.
enum class FileChange { kNone, kChanged };

// Reads and writes keys of the sectioned settings file at one path.
//
// The file is parsed once and its parse serves the reads while the path
// names the same file with the same size and times; the store's own saves
// make the next read parse it again. (Another program's edit that keeps the
// size within the file system's clock tick of the parse goes unseen until
// the file changes again.) Section and key names match without regard to
// ASCII case; names and values are trimmed of blanks; one pair of matching
// quotes around a value is removed. The file is UTF-8 (with or without a byte
// order mark) or else CP932, and is written back in its own encoding; every
// line a write does not edit keeps its bytes. Saves go through a temporary
// file (".dravelkent-<16 hex digits>.tmp", beside the file) renamed over the
// old one, except for a file with other hard links, which is rewritten in
// place so that it stays one file.
class SettingsStore {
 public:
  explicit SettingsStore(std::string path);
  virtual ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  const std::string& path() const { return path_; }

  // Returns the value of |key| in |section|, decoded to UTF-8, or
  // |default_value| when the file, the section or the key is missing or the
  // file cannot be read. Never fails. Each read looks up the path afresh
  // and reads and parses the file again unless it is the file parsed last,
  // unchanged in size, modification and change time.
  std::string Read(std::string_view section, std::string_view key,
                   std::string_view default_value) const;

  // Sets |key| in |section| to |value| (UTF-8), creating the file, the
  // section and the key as needed. Returns ok, or the failure; on failure the
  // file keeps its old bytes (but see below for hard links). A write that
  // would not change the file's bytes does not touch the file; one that
  // would is refused when the user may not write the file. When the path is
  // a symbolic link, the file it finally names is replaced and the link
  // stays. A file with more than one hard link is rewritten in place (new
  // bytes, new length, flushed): its names stay one file, but a failure or
  // crash during that rewrite can leave it part old, part new.
  // |*change|, unless null, tells whether the bytes changed.
  Status Write(std::string_view section, std::string_view key,
               std::string_view value, FileChange* change = nullptr);

  // Works out Write(|section|, |key|, |value|) without saving anything or
  // touching the folder. Returns ok with |*change| set to whether the write
  // would change the file's bytes; otherwise the failure Write would give
  // before its save (the file cannot be read, the edit cannot be made, the
  // user may not write the file or, for a save by rename, its folder).
  Status PreviewWrite(std::string_view section, std::string_view key,
                      std::string_view value, FileChange* change) const;

  // Returns ok when the file can be read whole or does not exist; otherwise
  // why it cannot be read (and why every read yields its default), or which
  // of its lines cannot be decoded (reads pass over them, writes keep them).
  Status CheckReadable() const;

  // Returns ok when Write(|section|, |key|, |value|) would succeed now, as
  // far as can be known without changing the file: the edit can be made and
  // saved the way Write saves it (a write that changes no byte needs no
  // save). The save's first step is tried: a temporary file is created and
  // removed beside the file, or a hard-linked file is opened for writing.
  // Otherwise returns the failure Write would give. Changes no file; a full
  // disk or a size limit that only the bytes would meet goes unseen.
  virtual Status ProbeWrite(std::string_view section, std::string_view key,
                            std::string_view value) const;

 private:
  // What tells one state of a file from another.
  struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modified_seconds = 0;
    int64_t modified_nanoseconds = 0;
    int64_t changed_seconds = 0;
    int64_t changed_nanoseconds = 0;

    bool operator==(const FileStamp&) const = default;
  };

  // Returns the parse of the file as the path names it now, or null when the
  // file is missing or cannot be read.
  const IniFile* CurrentFile() const;

  std::string path_;
  mutable std::unique_ptr<IniFile> parsed_;  // null until a read parses one
  mutable FileStamp parsed_stamp_;           // the file |parsed_| was read from
};

}  // namespace dravelkent
