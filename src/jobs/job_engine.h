#pragma once

// The run over the numbered jobs, and what it works with.

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "fsutil/disk.h"
#include "fsutil/tree_transfer.h"
#include "jobs/reports.h"
#include "settings/settings_store.h"

namespace dravelkent {

// What the job engine asks of the front end that shows the run: the window,
// the console, or nothing at all (a dry run).
class Host {
 public:
  virtual ~Host() = default;

  // Replaces the whole status line with |text| and shows it at once, even
  // though the run keeps the front end busy.
  virtual void ShowStatus(const std::string& text) = 0;

  // Shows |text| to the user with the caption "確認" and one OK button and
  // returns once the user has acknowledged it.
  virtual void ShowMessage(const std::string& text) = 0;

  // Ends the run: the front end closes and the program exits.
  virtual void EndRun() = 0;

  // Waits for the user's choice, the first status text shown. For "実行"
  // calls |run|, which runs all jobs and returns when the run is over; for
  // "閉じる" returns without calling it.
  virtual void WaitForUser(const std::function<void()>& run) = 0;
};

// Keeps two runs in one folder (cron and a person, or two timers) from
// doing the day's work together: an exclusive lock on a lock file beside
// the settings file, which only the running user may open. Held from
// Acquire until Release or until the object goes; the system drops it when
// the process ends, however it ends.
class RunLock {
 public:
  // Locks |path|, the lock file, which |disk| then protects; in a folder
  // that takes no new file, the settings file |settings_path| itself, which
  // every save there rewrites in place. A dry run takes no lock: it only
  // foresees whether the lock could be taken.
  RunLock(Disk* disk, std::string path, std::string settings_path)
      : disk_(disk),
        path_(std::move(path)),
        settings_path_(std::move(settings_path)) {}

  // Takes the lock unless this run has tried already, waiting as long as
  // another run holds it: said once on |failures| and in |host|'s status
  // line first. A lock that cannot be taken is reported; the run goes on
  // without it.
  void Acquire(Host* host, FailureLog* failures);

  // Lets the lock go, so that another run need not wait for this one (say,
  // for a message that waits for a person).
  void Release() { lock_.reset(); }

  const std::string& path() const { return path_; }

 private:
  Disk* disk_;
  std::string path_;
  std::string settings_path_;
  bool tried_ = false;
  std::unique_ptr<FileLock> lock_;
};

// Whether DELETEALL "On" removes every dated copy, expired or not.
enum class DeleteAll { kNo, kYes };

// One numbered job, its keys read and checked.
struct Job {
  std::string source_folder;  // DIRNAMEFROM as read
  std::string target_folder;  // DIRNAMETO as read
  std::string file_name;      // FILENAME
  std::string kind;           // KIND
  int retention_days = 0;     // DELETEDAY, 0 to 9999
  DeleteAll delete_all = DeleteAll::kNo;
};

// Whether a failure is also shown in a message box (MESSAGE "On").
enum class MessageBoxes { kOff, kOn };

// The copies the run has written, by folder and name, so that no expiry of
// the run deletes them: with DELETEALL, with a last-run date older than the
// retention days, or as a later job's copy over the same folder (reached by
// another name), it would otherwise delete a copy just made, and in move
// mode the only one.
class FreshCopies {
 public:
  void Add(const FileId& folder, const std::string& name) {
    names_.emplace(folder, name);
  }
  // Every name in |folder| that begins with |date_text|.
  void AddDated(const FileId& folder, const std::string& date_text) {
    dated_.emplace(folder, date_text);
  }
  bool Contains(const FileId& folder, const std::string& name) const {
    for (const auto& [dated, date_text] : dated_) {
      if (dated == folder && name.starts_with(date_text)) return true;
    }
    return names_.count({folder, name}) != 0;
  }

 private:
  std::set<std::pair<FileId, std::string>> names_;
  std::set<std::pair<FileId, std::string>> dated_;
};

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

// What the jobs of one run share.
struct RunState {
  TransferMode mode = TransferMode::kMove;
  MessageBoxes message_boxes = MessageBoxes::kOff;
  FreshCopies fresh;
  // The progress text the job at hand showed last.
  std::string work_message;
};

// Sets |key| in |section| of the settings file to |value| as the run's kind
// says: a real run saves it, a dry run only checks that it could; either
// tells the action log when the file's bytes change. Returns ok, or the
// failure the write gave (or would give).
Status WriteRunSetting(const RunContext& context, std::string_view section,
                       std::string_view key, std::string_view value);

// The run over the numbered jobs.
class JobEngine {
 public:
  static constexpr int kMaxJobs = 98;

  explicit JobEngine(const RunContext& context) : context_(context) {}

  // Takes the run lock, settles the run-wide switches, processes jobs 1 to
  // 98 until the list ends, records the date of the run in TIMESTAMP, lets
  // the run lock go, shows the completion message when messages are on and
  // ends the run through the host. When TIMESTAMP (unless "00000000") could
  // not be saved, says so before the first job and does no file work: the
  // jobs' keys are still read and checked, no folder is created, nothing is
  // moved, copied or deleted, and TIMESTAMP is left as it is.
  void RunAllJobs();

 private:
  // Processes one job: reads and checks its keys, creates and opens its
  // target folder and, when the keys are usable, does its file work: the
  // rotation when it is due, then the expiry of dated copies when that is
  // due. Sets the stop flag when the job list ends here. A key that is
  // unusable although the folder keys are given is reported.
  void ProcessJob(int job_number);

  // Reads the job's |suffix| key in |section|; an unusable one (a NUL byte
  // in it) is reported and ends the job list. Returns false then.
  bool ReadKey(int job_number, const char* section, const char* suffix,
               std::string* value);

  // Reads a folder key (DIRNAMEFROM or DIRNAMETO) into |*folder|. Returns
  // false when the job ends at once.
  bool ReadFolderKey(int job_number, const char* suffix, std::string* folder);

  // Reports the job's unusable |key|, which held |value|: the settings
  // path, key="value", then |what_follows| with "%s" as the job's number.
  void ReportUnusable(int job_number, const std::string& key,
                      const std::string& value, const char* what_follows);

  // Writes a key and reports a failed save.
  void WriteSetting(const char* section, const std::string& key,
                    const std::string& value);

  RunContext context_;
  bool stop_ = false;
  bool list_ends_here_ = false;  // an empty folder key ended the list
  bool file_work_ = true;        // false: the date cannot be recorded
  RunState run_;
};

}  // namespace dravelkent
