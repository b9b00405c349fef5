#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "fsutil/env.h"

namespace dravelkent {

// Whether a write changes the settings file's bytes.
enum class FileChange { kNone, kChanged };

// Reads and writes keys of the settings file at one path, as ini_text.h
// reads and edits its text. Every call looks at the file again and reads it
// again once it has changed. A save keeps the file what it is
// (Env::ChooseSaveWay).
class SettingsStore {
 public:
  SettingsStore(Env* env, std::string path)
      : env_(env), path_(std::move(path)) {}

  const std::string& path() const { return path_; }
  // Returns the value of |key| in |section|, in UTF-8, or |default_value|.
  std::string Read(std::string_view section, std::string_view key,
                   std::string_view default_value) const;
  // Sets |key| in |section| to |value| (UTF-8), creating the file, the
  // section and the key as needed. A write that would not change the bytes
  // does not touch the file; one that would is refused when the file cannot
  // be read whole or the user may not write it. Through a symbolic link,
  // the file it finally names is saved and the link stays. Returns ok or
  // the failure; |*change|, unless null, tells whether the bytes changed.
  Status Write(std::string_view section, std::string_view key,
               std::string_view value, FileChange* change = nullptr);
  // Works Write out the same way and takes its save only as far as |step|
  // (kFirstOnly: tried and undone; kForesee: changing nothing). Returns ok
  // or the failure Write would meet there; |*change| tells whether the
  // write would change the bytes.
  Status CheckWrite(std::string_view section, std::string_view key,
                    std::string_view value, SaveStep step,
                    FileChange* change) const;
  // Returns ok when the file can be read whole or does not exist; otherwise
  // why it cannot be read (every read then yields its default), or which of
  // its section and key lines cannot be decoded (reads pass over them,
  // writes keep them).
  Status CheckReadable() const;
  // Fills |*id| with the file the path leads to; false when there is none.
  bool FindFile(FileId* id) const;

 private:
  Env* env_;
  std::string path_;
  // The file as read last: read again only once it has changed.
  mutable WholeFile file_;
};

}  // namespace dravelkent
