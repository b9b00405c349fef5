#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "fsutil/env.h"

namespace dravelkent {

// Whether a write changes the settings file's bytes.
enum class FileChange { kNone, kChanged };

// Reads and writes keys of the sectioned settings file at one path.
//
// Section and key names match without regard to ASCII case; names and
// values are trimmed of blanks; one pair of matching quotes around a value
// is removed. The file is UTF-8 (with or without a byte-order mark),
// UTF-16LE with its mark, or else CP932, and is written back in its own
// encoding; every line a write does not edit keeps its bytes. Nothing is
// kept between calls: every read reads the file again. A save keeps the
// file what it is (Env::ChooseSaveWay): a new file renamed over the old one
// where that loses nothing, else the old file's own bytes rewritten.
class SettingsStore {
 public:
  SettingsStore(Env* env, std::string path)
      : env_(env), path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // Returns the value of |key| in |section|, decoded to UTF-8, or
  // |default_value| when the file, the section or the key is missing or the
  // file cannot be read. Never fails.
  std::string Read(std::string_view section, std::string_view key,
                   std::string_view default_value) const;

  // Sets |key| in |section| to |value| (UTF-8), creating the file, the
  // section and the key as needed. A write that would not change the
  // file's bytes does not touch the file; one that would is refused when
  // the user may not write the file or the file cannot be read whole. When
  // the path is a symbolic link, the file it finally names is saved and the
  // link stays. Returns ok, or the failure; |*change|, unless null, tells
  // whether the bytes changed.
  Status Write(std::string_view section, std::string_view key,
               std::string_view value, FileChange* change = nullptr);

  // Works Write out the same way and takes its save only as far as |step|
  // (kFirstOnly: tried and undone; kForesee: changing nothing at all).
  // Returns ok with |*change| set to whether the write would change the
  // bytes, or the failure Write would meet there.
  Status CheckWrite(std::string_view section, std::string_view key,
                    std::string_view value, SaveStep step,
                    FileChange* change) const;

  // Returns ok when the file can be read whole or does not exist; otherwise
  // why it cannot be read (and why every read yields its default), or which
  // of its section and key lines cannot be decoded (reads pass over them,
  // writes keep them).
  Status CheckReadable() const;

  // Fills |*id| with the file the path leads to and returns true, or
  // returns false when there is none.
  bool FindFile(FileId* id) const;

 private:
  // One write worked out up to its save.
  struct Plan {
    WholeFile file;
    std::string updated;  // the file's bytes after the write
    SaveWay way = SaveWay::kNew;
    FileChange change = FileChange::kNone;
  };

  // Works out the write of |value| to |key| in |section| into |*plan|.
  Status PlanWrite(std::string_view section, std::string_view key,
                   std::string_view value, Plan* plan) const;

  Env* env_;
  std::string path_;
};

}  // namespace dravelkent
