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

  // Tells that the folder |folder| was made.
  virtual void OnFolderMade(const Folder& folder) = 0;

  // Receives a failure that concerns no one file's move or copy.
  virtual void OnFailure(const Status& failure) = 0;
};

// Copies or moves every file of the folder tree |source| into |target|,
// reproducing its sub-folders there. Depth first: in each folder all files
// in listing order, then each sub-folder in listing order. Every folder
// below the two is opened from its parent, never following a link, and
// every file is read and written by its name in its open folder.
//
// kCopy copies a file only when there is none of its name in the target or
// the source is newer (as IsSourceNewer judges), replacing it; a target
// that is no longer older when the copy takes its name stays, and the file
// counts as not newer. kMove moves every file, never replacing one. When
// |retention_days| is not 0, every file and sub-folder written below
// |target| begins with |date_text|. Source folders are never removed.
// Links are carried as links, never followed.
//
// A source sub-folder is opened before its target is made; a target folder
// made gets its source's owner (where the program may give it) and
// permission bits at once and its time once its contents are in; one that
// exists is used as it is, and a link or file in its place fails that part
// of the tree. The target folder, met inside the source tree, is left out;
// so is a folder that is one of its own enclosing folders (a bind mount).
// The disk's protected files and the program's own temporary files stay
// where they are, unsaid; a FIFO, socket or device is never opened: it is
// said as a failure and left. Every failure is told and the transfer goes
// on. Lists each folder once, holding one listing open at a time, the names
// of one folder's sub-folders, and the folders of the copies waiting to be
// flushed: never a whole tree.
void TransferTree(Disk* disk, const Folder& source, const Folder& target,
                  const std::string& date_text, TransferMode mode,
                  int retention_days, TransferObserver* observer);

}  // namespace dravelkent
