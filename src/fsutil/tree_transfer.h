#pragma once

#include <string>

#include "base/status.h"
#include "fsutil/disk_interface.h"

namespace dravelkent {

// Whether a run copies (BACKUP "On") or moves the jobs' files.
enum class TransferMode { kMove, kCopy };

// What the folder tree transfer does with one file.
enum class FileAction {
  kNone,
  kCopying,   // copied, being newer than its copy in the target
  kNotNewer,  // left, its copy in the target being as new or newer
  kMoving,    // moved
};

// Where the folder tree transfer tells what it does.
class TransferObserver {
 public:
  virtual ~TransferObserver() = default;

  // Tells what is done with the file |from| (its source path) and |to| (its
  // destination's path). Called once for every file: for a copy as it
  // starts, otherwise after the file has been handled; never for a folder.
  virtual void OnFile(FileAction action, const std::string& from,
                      const std::string& to) = 0;

  // Receives one failure (not ok). The transfer goes on after it.
  virtual void OnFailure(const Status& failure) = 0;

  // Called after a file or link has been copied or moved to |path|.
  virtual void OnWritten(const std::string& path) { (void)path; }
};

// Copies or moves every file of the folder tree |source_folder| into
// |target_folder|, reproducing its sub-folders there (created one level at
// a time below |target_folder|, which must exist: a target folder that is
// missing or not a folder, or that is the source folder itself, is one
// failure, and nothing is transferred). Depth first: in each folder all
// files in listing order, then each sub-folder in listing order.
//
// The two folders are opened once, as named (links followed); every
// folder below them is opened from its parent, never following a link,
// and every file is read and written by its name in its open folder. So a
// sub-folder on either side that is, or becomes, a symbolic link is never
// written through nor read from; its part of the tree fails. A sub-folder
// the transfer makes is private until everything in it is in place, then
// takes the source folder's mode bits and last-write time, and, when run
// as root, its owner and group; one that exists already is used as it is.
//
// kCopy copies a file only when its source is newer than its destination
// (as IsSourceNewer judges), replacing the destination; a destination
// changed or made after that check, no longer older than the source when
// the copy takes its name, stays and the file counts as not newer. kMove
// moves every file, never replacing an existing one. When |retention_days|
// is not 0, every file and sub-folder written below |target_folder| begins
// with |date_text|. Source folders are never removed. Symbolic links are
// carried as links (copy mode recreates them, move mode moves them) and
// never followed. The folder |skip_folder| (judged by identity; empty for
// none), met inside the source tree, is neither listed nor descended into,
// and neither is a folder that is one of its own enclosing folders. The
// program's own temporary files (IsOwnTemporaryName: those of copies and
// of settings saves), left by a run that was killed, are not transferred;
// neither is the file |settings_file| (judged by identity, the link and the
// file it leads to; empty for none): they stay where they are.
//
// For each file |observer| gets its action with its two paths:
// kCopying as its copy starts, kNotNewer or kMoving once it is handled.
// Every failure (a folder that cannot be listed, created
// or opened, a copy or move that fails) goes to |observer| and the
// transfer goes on with the next entry. Lists each folder once and holds
// at most one listing open; keeps the names of one folder's sub-folders
// and two open folders for each level of depth, never a whole tree.
// Nothing to return: what went wrong has been told to |observer|.
void TransferTree(DiskInterface* disk, const std::string& source_folder,
                  const std::string& target_folder,
                  const std::string& date_text, TransferMode mode,
                  long long retention_days, const std::string& skip_folder,
                  const std::string& settings_file, TransferObserver* observer);

}  // namespace dravelkent
