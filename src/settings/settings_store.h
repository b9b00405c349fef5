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
  // section and the key as needed, and saving only changed bytes: refused
  // when the file cannot be read whole or written. Through a link, the file
  // it names is saved. |*change|, unless null, tells whether bytes changed.
  Status Write(std::string_view section, std::string_view key,
               std::string_view value, FileChange* change = nullptr);
  // Works Write out the same way, its save only as far as |step|. Returns ok
  // or the failure Write would meet there.
  Status CheckWrite(std::string_view section, std::string_view key,
                    std::string_view value, SaveStep step,
                    FileChange* change) const;
  // Returns ok when the file can be read whole or does not exist; otherwise
  // why it cannot be read, or which of its section and key lines cannot be
  // decoded.
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
