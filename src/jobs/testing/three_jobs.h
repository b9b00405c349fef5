#pragma once

#include <unistd.h>

#include <cstdint>
#include <map>
#include <string>

#include "fsutil/disk_interface.h"
#include "fsutil/testing/temp_folder.h"
#include "jobs/clock.h"
#include "jobs/failure_log.h"
#include "jobs/host.h"

namespace dravelkent::testing {

// What a path holds, as a user would judge it.
struct EntryState {
  std::string content;  // a file's bytes, a link's target, "" for a folder
  char type = 'f';      // 'f' file, 'l' link, 'd' folder
  int64_t mtime_ns = 0;

  bool operator==(const EntryState&) const = default;
};

// Relative path -> state, for every entry below a folder.
using TreeState = std::map<std::string, EntryState>;

// Three jobs due on 6 December 2026 (TIMESTAMP 20261205) in a fresh folder:
//   01  src1/app.log        -> dst1/20261205app.log, which also holds an
//                              expired (20261120app.log) and a kept
//                              (20261203app.log) dated copy;
//   02  the tree src2/      -> dst2/, dated: a.txt, a link to it, sub/b.txt,
//                              sub/deeper/c.txt;
//   03  src3/app.log        -> dst3/20261206app.log (no retention).
class ThreeJobs {
 public:
  // |backup| is the BACKUP value, "On" (copy) or "Off" (move).
  explicit ThreeJobs(const std::string& backup);

  static CivilDate Today() { return {2026, 12, 6}; }

  const std::string& root() const { return folder_.path(); }
  std::string settings_path() const { return folder_ / "Dravelkent.ini"; }
  std::string Path(const std::string& relative) const {
    return folder_ / relative;
  }

  // Runs the three jobs on Today() through |disk|, showing on |host| and
  // reporting to |failures|.
  void RunAllJobs(DiskInterface* disk, Host* host, FailureLog* failures) const;

  // Sets TIMESTAMP back to the day before, so that the next run is due.
  void MakeDueAgain() const;

  // Returns every entry below the folder but the settings file.
  TreeState State() const;

 private:
  // In memory where there is a tmpfs: these runs are many, and a flush
  // costs nothing there.
  TempFolder folder_{access("/dev/shm", W_OK) == 0 ? "/dev/shm" : ""};
  std::string backup_;
};

// Returns the names of the entries of |state| that are the program's own
// temporary files, wherever they are.
std::string TemporaryFilesIn(const TreeState& state);

}  // namespace dravelkent::testing
