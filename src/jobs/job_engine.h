#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "fsutil/disk.h"
#include "fsutil/tree_transfer.h"
#include "settings/settings_store.h"

namespace dravelkent {

struct RunDates;

// The front end that shows the run: the window, the console, or nothing.
class Host {
 public:
  virtual ~Host() = default;
  // Replaces the whole status line with |text| and shows it at once.
  virtual void ShowStatus(const std::string& text) = 0;
  // Shows |text| ("確認", OK); returns once the user has acknowledged it.
  virtual void ShowMessage(const std::string& text) = 0;
  // Ends the run: the front end closes and the program exits.
  virtual void EndRun() = 0;
  // Waits for the user's choice: "実行" calls |run|, which runs all jobs and
  // returns when the run is over; "閉じる" returns without calling it.
  virtual void WaitForUser(const std::function<void()>& run) = 0;
};

// Writes what a run does (or, in a dry run, would do) on a stream, one
// flushed line per action: "mkdir FOLDER", "move FROM -> TO", "copy FROM ->
// TO", "skip FROM -> TO (not newer)", "delete FILE" or "set SETTINGS-FILE
// [SECTION] KEY=VALUE", each path and value escaped (EscapeForLine). A
// stream that failed is not written again; a log without one writes nothing.
class ActionLog {
 public:
  explicit ActionLog(std::FILE* out = nullptr) : out_(out) {}
  // Returns ok, or the first failure to write a line (the run goes on).
  const Status& status() const { return status_; }

  void FolderMade(const std::string& folder);
  void Moved(const std::string& from, const std::string& to);
  void Copied(const std::string& from, const std::string& to);
  void NotNewer(const std::string& from, const std::string& to);
  void Deleted(const std::string& file);
  void SettingWritten(const std::string& file, std::string_view section,
                      std::string_view key, std::string_view value);

 private:
  void Write(const std::string& line);

  std::FILE* out_;
  Status status_;
};

// Receives every failed operation of a run, which goes on after it; the log
// decides how it is said and counts it for the exit status.
class FailureLog {
 public:
  virtual ~FailureLog() = default;

  virtual void Report(const Status& status) = 0;
  // Says |text|, which is no failure, where failures are said.
  virtual void Note(const std::string& text) = 0;
  // Returns true once any failure was reported.
  virtual bool failed() const = 0;
};

// Writes each failure and note on |stream| as one line "dravelkent: text",
// escaped (EscapeForLine). A failure that recurs is written once.
class StreamFailureLog : public FailureLog {
 public:
  explicit StreamFailureLog(std::FILE* stream) : stream_(stream) {}

  void Report(const Status& status) override;
  void Note(const std::string& text) override;
  bool failed() const override { return failed_; }

 private:
  std::FILE* stream_;
  bool failed_ = false;
  std::set<std::string> written_;
};

// Keeps two runs in one folder from doing the day's work together: an
// exclusive lock on a lock file beside the settings file, which only the
// running user may open, held from Acquire until Release or the process ends.
class RunLock {
 public:
  // Locks |path|, the lock file, which |disk| then protects; in a folder
  // that takes no new file, the settings file |settings_path|. A dry run
  // only foresees the lock.
  RunLock(Disk* disk, std::string path, std::string settings_path)
      : disk_(disk),
        path_(std::move(path)),
        settings_path_(std::move(settings_path)) {}
  // Takes the lock unless this run has tried already, waiting (said on
  // |failures| and |host|) while another run holds it. A lock that cannot be
  // taken is reported; the run goes on without it.
  void Acquire(Host* host, FailureLog* failures);
  // Lets the lock go, so that another run need not wait for this one.
  void Release() { lock_.reset(); }

 private:
  Disk* disk_;
  std::string path_;
  std::string settings_path_;
  bool tried_ = false;
  std::unique_ptr<FileLock> lock_;
};

// One numbered job, its keys read and checked.
struct Job {
  std::string source_folder;  // DIRNAMEFROM as read
  std::string target_folder;  // DIRNAMETO as read
  std::string file_name;      // FILENAME
  std::string kind;           // KIND
  int retention_days = 0;     // DELETEDAY, 0 to 9999
  bool delete_all = false;    // DELETEALL "On": every dated copy expires
};

// Returns true when the folder entry |name| is one of the job's dated
// copies: it matches "*." KIND, is at least 12 bytes long, its first eight
// bytes are digits whose number lies from 1 to 29000000, and the rest is
// exactly FILENAME "." KIND, or, when KIND holds "*", begins with FILENAME
// "." (any base name when FILENAME begins with "*"). Names compare as the
// file system compares them.
bool IsDatedCopy(const Job& job, const std::string& name);

// Returns true when the dated copy |name| is to be deleted on the date text
// |today|: with DELETEALL, or when its name date plus the retention days
// (not 0) lies before |today|.
bool IsExpired(const Job& job, const std::string& today,
               const std::string& name);

// Makes every missing folder of |folder|, one level at a time, each opened
// from the one before, and opens it into |*opened|, named as |folder| says.
// A link on the way is followed only when it belongs to the system or to the
// running user. "." and ".." are walked, never made; a network path
// ("//...") makes nothing, nor does anything after two separators in a row.
// Each folder made is told to |actions|. Returns ok, or what stopped it.
Status MakeDirectoryPath(Disk* disk, ActionLog* actions,
                         const std::string& folder,
                         std::unique_ptr<Folder>* opened);

// Opens |folder| as MakeDirectoryPath walks it, making nothing.
Status OpenDirectoryPath(Disk* disk, const std::string& folder,
                         std::unique_ptr<Folder>* opened);

// Everything a run works with, owned by the caller.
struct RunContext {
  Disk* disk = nullptr;  // real or dry, as the run is
  SettingsStore* settings = nullptr;
  Host* host = nullptr;
  FailureLog* failures = nullptr;
  ActionLog* actions = nullptr;
  RunLock* lock = nullptr;  // null: no lock
  // The process's current directory at start-up; job 1 falls back to it.
  std::string current_directory;
};

// Sets |key| in |section| of the settings file to |value| (a dry run only
// checks that it could), told to the action log when the bytes change.
Status WriteRunSetting(const RunContext& context, std::string_view section,
                       std::string_view key, std::string_view value);

// The run over the numbered jobs.
class JobEngine {
 public:
  static constexpr int kMaxJobs = 98;

  explicit JobEngine(const RunContext& context) : context_(context) {}
  // Takes the run lock, settles BACKUP and MESSAGE, processes jobs 1 to
  // kMaxJobs until the list ends, records the date of the run in TIMESTAMP,
  // lets the lock go, shows the completion message when messages are on and
  // ends the run. When TIMESTAMP (unless "00000000") could not be saved,
  // says so and does no file work; the jobs' keys are still checked.
  void RunAllJobs();

 private:
  // Reads and checks the job's keys, makes its target folder and, when the
  // keys are usable, rotates and expires (each when due).
  void ProcessJob(int job_number);
  // Today's rotation into |target| (null: not opened): of the source tree
  // when FILENAME or KIND holds "*", else of the one file. What was written
  // is fresh.
  void Rotate(const Job& job, const RunDates& dates, const Folder* target);
  Status RotateFile(const Job& job, const RunDates& dates, const Folder& source,
                    const Folder& target);
  // Removes from |target| every dated copy that IsExpired and is not fresh.
  void Expire(const Job& job, const RunDates& dates, const Folder& target);
  // Reads the job's key |suffix| of |section|. Returns false when it holds a
  // NUL byte: reported, and the list ends.
  bool ReadKey(int job_number, const char* section, const char* suffix,
               std::string* value);
  // Reads a folder key. Returns false when the job ends at once.
  bool ReadFolderKey(int job_number, const char* suffix, std::string* folder);
  // Reports the key |suffix| that held |value| as |what| ("%s": the job).
  void ReportUnusable(int job_number, const char* suffix,
                      const std::string& value, const char* what);
  // Writes a key and reports a failed save.
  void WriteSetting(const char* section, const std::string& key,
                    const std::string& value);

  RunContext context_;
  bool stop_ = false;
  bool list_ends_here_ = false;  // an empty folder key ended the list
  bool file_work_ = true;        // false: the date cannot be recorded
  // What the jobs of one run share.
  struct Shared {
    TransferMode mode = TransferMode::kMove;
    bool message_boxes = false;  // MESSAGE "On"
    // The copies the run wrote, by folder, which no expiry of the run may
    // delete: names, and date texts that begin every name written.
    std::set<std::pair<FileId, std::string>> fresh, fresh_dates;
    std::string work_message;  // the progress text the job showed last
  } run_;
};

}  // namespace dravelkent
