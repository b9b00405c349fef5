#pragma once

#include <cstdint>
#include <string>

#include "base/status.h"
#include "fsutil/disk.h"

namespace dravelkent {

// Whether a run copies (BACKUP "On") or moves the jobs' files.
enum class TransferMode { kMove, kCopy };

// What the folder tree transfer did, or is about to do, with one file.
enum class FileAction {
  kMoved,     // moved, or tried: the result says
  kCopying,   // its copy starts (the result comes with kCopied)
  kCopied,    // copied, or tried: the result says
  kNotNewer,  // left, its copy in the target being as new or newer
};

// Where the folder tree transfer tells what it does.
class TransferObserver {
 public:
  virtual ~TransferObserver() = default;
  // Tells |action| for the file whose path is |from| and its destination
  // |to_name| in |to|, with the result of a move or a copy (ok otherwise).
  virtual void OnFile(FileAction action, const std::string& from,
                      const Folder& to, const std::string& to_name,
                      const Status& result) = 0;
  virtual void OnFolderMade(const Folder& folder) = 0;
  // Receives a failure that concerns no one file's move or copy.
  virtual void OnFailure(const Status& failure) = 0;
};

// Copies or moves every file of the folder tree |source| into |target|,
// reproducing its sub-folders there, depth first in listing order; each
// folder is opened from its parent, never following a link, and listed once.
// kCopy copies a file only when there is none of its name in the target or
// the source is newer (IsSourceNewer), replacing it; kMove moves every file,
// never replacing one. Links are carried as links. When |retention_days| is
// not 0, every file and sub-folder written below |target| begins with
// |date_text|. A target folder made gets its source's owner (where the
// program may) and bits, and its time once its contents are in; one that
// exists is used, a link or file in its place fails that part. The target
// folder met inside the source, a folder enclosing itself (a bind mount),
// the disk's protected files and the program's temporary files are left
// out; a FIFO, socket or device is a failure and left. Every failure is
// told and the transfer goes on.
void TransferTree(Disk* disk, const Folder& source, const Folder& target,
                  const std::string& date_text, TransferMode mode,
                  int retention_days, TransferObserver* observer);

}  // namespace dravelkent
