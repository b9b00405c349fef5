#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "fsutil/reporting_disk_interface.h"

namespace dravelkent {

// Writes what a run does (or, in a dry run, would do) on a stream, one line
// per action, its word first:
//   mkdir FOLDER
//   move FROM -> TO
//   copy FROM -> TO
//   skip FROM -> TO (not newer)
//   delete FILE
//   set SETTINGS-FILE [SECTION] KEY=VALUE
// with each name escaped on its own (EscapeForLine), so that every action
// is one line whose names read back exactly, whatever they hold. Each line is
// flushed as it is written. A stream that fails (a reader that went away) is
// not written again.
class ActionLog : public DiskChangeListener {
 public:
  explicit ActionLog(std::FILE* out) : out_(out) {}

  // Returns ok, or why lines could not be written (the first failure; the
  // run goes on without them, as nobody reads them).
  const Status& status() const { return status_; }

  // Writes the line of a change to the file system.
  void OnDiskChange(DiskChange change, const std::string& path,
                    const std::string& to) override;

  // Writes the line of a copy left out because |from| is not newer than its
  // copy |to|.
  void OnNotNewer(const std::string& from, const std::string& to);

  // Writes the line of |key| in |section| of the settings file |path| set
  // to |value|.
  void OnSettingWritten(const std::string& path, std::string_view section,
                        std::string_view key, std::string_view value);

 private:
  // Writes |line|, its names already escaped, and a line break.
  void Write(const std::string& line);

  std::FILE* out_;
  Status status_;
};

}  // namespace dravelkent
