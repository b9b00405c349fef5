#pragma once

#include <cstdio>
#include <set>
#include <string>
#include <string_view>

#include "base/status.h"

namespace dravelkent {

// Writes what a run does (or, in a dry run, would do) on a stream, one line
// per action, its word first:
//   mkdir FOLDER
//   move FROM -> TO
//   copy FROM -> TO
//   skip FROM -> TO (not newer)
//   delete FILE
//   set SETTINGS-FILE [SECTION] KEY=VALUE
// Each path and value is escaped (EscapeForLine), so that every action is
// one line and its bytes can be read back. Each line is flushed as it is
// written. A stream that fails (a reader that went away) is not written
// again. A log without a stream writes nothing.
class ActionLog {
 public:
  explicit ActionLog(std::FILE* out = nullptr) : out_(out) {}

  // Returns ok, or why lines could not be written (the first failure; the
  // run goes on without them).
  const Status& status() const { return status_; }

  void FolderMade(const std::string& folder);
  void Moved(const std::string& from, const std::string& to);
  void Copied(const std::string& from, const std::string& to);
  void NotNewer(const std::string& from, const std::string& to);
  void Deleted(const std::string& file);
  void SettingWritten(const std::string& file, std::string_view section,
                      std::string_view key, std::string_view value);

 private:
  // Writes |line| and a line break.
  void Write(const std::string& line);

  std::FILE* out_;
  Status status_;
};

// Receives every operation of a run that failed. The run goes on after a
// failure; the log decides how it is said and counts it for the exit status.
class FailureLog {
 public:
  virtual ~FailureLog() = default;

  // Records one failure. |status| is not ok.
  virtual void Report(const Status& status) = 0;

  // Says |text|, which is no failure, where failures are said.
  virtual void Note(const std::string& text) = 0;

  // Returns how many failures were reported so far.
  virtual int count() const = 0;
};

// Writes each failure and note as one line "dravelkent: text" on a stream,
// escaped (EscapeForLine). The same failure is written once however often
// it recurs; every report is counted.
class StreamFailureLog : public FailureLog {
 public:
  explicit StreamFailureLog(std::FILE* stream) : stream_(stream) {}

  void Report(const Status& status) override;
  void Note(const std::string& text) override;
  int count() const override { return count_; }

 private:
  std::FILE* stream_;
  int count_ = 0;
  std::set<std::string> written_;
};

}  // namespace dravelkent
