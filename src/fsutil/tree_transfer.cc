#include "fsutil/tree_transfer.h"

#include <cerrno>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "fsutil/newer_file.h"
#include "fsutil/temp_names.h"

namespace dravelkent {
namespace {

struct FolderId {
  uint64_t device = 0;
  uint64_t inode = 0;

  bool known() const { return device != 0 || inode != 0; }
  bool operator==(const FolderId&) const = default;
};

FolderId IdOf(const FolderHandle& folder) {
  return FolderId{folder.attributes().device, folder.attributes().inode};
}

// How one file went, told to the observer once it is settled.
struct Outcome {
  FileAction action = FileAction::kNone;  // unless told already
  std::string from;                       // the source file's path
  std::string to;                         // its destination's path
  std::string written;   // the destination, when a copy or move was tried
  Status status;         // its result, once known
  int batch_index = -1;  // its place in the copy batch, while it waits
};

// A folder the transfer made, to be given its source's attributes once
// everything in it is in place.
struct MadeFolder {
  std::unique_ptr<FolderHandle> folder;
  FolderHandle::Attributes source;
};

// Files told at most after this many, whatever the batch holds.
constexpr size_t kMostWaiting = 512;
// Folders made that wait for the batch at most; each holds one open.
constexpr size_t kMostMadeWaiting = 32;

class TreeTransfer {
 public:
  TreeTransfer(DiskInterface* disk, const std::string& date_text,
               TransferMode mode, long long retention_days,
               TransferObserver* observer)
      : disk_(disk),
        name_prefix_(retention_days != 0 ? date_text : std::string()),
        mode_(mode),
        observer_(observer) {}

  // Judges |skip_folder| once, so that it is known wherever it turns up.
  void SetSkipFolder(const std::string& skip_folder) {
    if (skip_folder.empty()) return;
    skip_ = IdOfPath(skip_folder);
  }

  // Judges |settings_file| once: the entry itself and the file it leads to.
  void SetSettingsFile(const std::string& settings_file) {
    if (settings_file.empty()) return;
    for (FollowLinks follow : {FollowLinks::kNo, FollowLinks::kYes}) {
      FileInfo info;
      if (disk_->Stat(settings_file, follow, &info).ok() &&
          info.kind != FileKind::kMissing) {
        settings_ids_.push_back(FolderId{info.device, info.inode});
      }
    }
  }

  // Takes |source| as the top of the tree, the first enclosing folder.
  // Returns false, and takes nothing, when it is the folder |target|.
  bool EnterTop(const FolderHandle& source, const FolderHandle& target) {
    if (IdOf(source) == IdOf(target)) return false;
    enclosing_.push_back(IdOf(source));
    return true;
  }

  // Transfers the open folder |source| into the open folder |target|; the
  // ancestors of |source| (itself included) are on |enclosing_|. The folder
  // is listed once: files are handled as the listing gives them, its
  // sub-folders are noted and handled after the last file, the listing
  // closed by then.
  void TransferFolder(const FolderHandle& source, const FolderHandle& target) {
    std::vector<DirEntry> folders;
    {
      Status opened;
      // Copy mode judges each file by its time: the listing brings it.
      std::unique_ptr<DirReader> reader = disk_->ListFolder(
          source,
          mode_ == TransferMode::kCopy ? EntryTimes::kYes : EntryTimes::kNo,
          &opened);
      if (reader == nullptr) {
        Fail(opened);
        return;
      }
      DirEntry entry;
      while (reader->Next(&entry)) {
        if (!entry.is_dir) {
          // What a killed run left half-written is no file of the user's,
          // and the run's settings file stays where the run reads it.
          if (!IsOwnTemporaryName(entry.name) &&
              !IsSettingsFile(entry, source)) {
            TransferFile(entry, source, target);
          }
        } else if (entry.name != "." && entry.name != "..") {
          folders.push_back(entry);
        }
      }
      if (!reader->status().ok()) Fail(reader->status());
    }
    for (const DirEntry& folder : folders) {
      TransferSubFolder(folder, source, target);
    }
  }

  // Settles the copies still waiting and the folders made, and tells what
  // is left to tell.
  void Finish() { FinishBatch(); }

 private:
  FolderId IdOfPath(const std::string& folder) {
    FileInfo info;
    if (!disk_->Stat(folder, FollowLinks::kYes, &info).ok() ||
        info.kind != FileKind::kDirectory) {
      return FolderId();
    }
    return FolderId{info.device, info.inode};
  }

  // Returns whether |entry|, listed in |folder|, is the run's settings file.
  bool IsSettingsFile(const DirEntry& entry, const FolderHandle& folder) const {
    const FolderId id{IdOf(folder).device, entry.inode};
    for (const FolderId& settings : settings_ids_) {
      if (entry.inode != 0 && id == settings) return true;
    }
    return false;
  }

  void TransferFile(const DirEntry& entry, const FolderHandle& source,
                    const FolderHandle& target) {
    const std::string& name = entry.name;
    const std::string to_name = name_prefix_ + name;
    Outcome outcome;
    outcome.from = source.path() + name;
    outcome.to = target.path() + to_name;
    outcome.written = outcome.to;
    if (mode_ == TransferMode::kMove) {
      outcome.action = FileAction::kMoving;
      outcome.status = disk_->MoveFileAt(source, name, target, to_name);
      Tell(outcome);
      return;
    }
    // Each entry judged by itself, never followed; one that cannot be
    // examined counts as none.
    FileInfo existing;
    Status examined =
        disk_->StatAt(target, to_name, FollowLinks::kNo, &existing);
    const bool found = examined.ok() && existing.kind != FileKind::kMissing;
    if (entry.has_time && found &&
        CompareTimes(entry.mtime_ns, existing.mtime_ns) != Newer::kCopy) {
      outcome.action = FileAction::kNotNewer;
      outcome.written.clear();
      Tell(outcome);
      return;
    }
    outcome.action = FileAction::kCopying;
    if (entry.is_symlink) {
      outcome.status = disk_->CopySymlinkAt(source, name, target, to_name);
      Tell(outcome);
      return;
    }
    // The copy has started: the status line names it now, and what became
    // of it is told once its batch is finished. The target is judged again
    // when the copy takes its name: changed or made meanwhile, it stays.
    observer_->OnFile(outcome.action, outcome.from, outcome.to);
    outcome.action = FileAction::kNone;
    if (batch_ == nullptr) batch_ = disk_->StartCopyBatch();
    batch_->AddAt(
        source, name, target, to_name,
        examined.ok() && !found ? Overwrite::kNothing : Overwrite::kOlderOnly);
    outcome.batch_index = batched_++;
    waiting_.push_back(std::move(outcome));
    if (batch_->full() || waiting_.size() >= kMostWaiting) FinishBatch();
  }

  // Finishes the copies waiting in the batch and tells how each went, in
  // the order added; then gives the folders made their attributes.
  void FinishBatch() {
    if (!waiting_.empty()) {
      std::vector<Status> results = batch_->Finish();
      for (Outcome& outcome : waiting_) {
        size_t index = static_cast<size_t>(outcome.batch_index);
        outcome.status =
            index < results.size()
                ? results[index]
                : Status::Error("copy to " + outcome.written + ": no result");
        if (outcome.status.error_number() == EEXIST) {
          // The target turned out to be no older: not newer after all.
          outcome.status = Status::Ok();
          outcome.written.clear();
        }
        Tell(outcome);
      }
      waiting_.clear();
      batched_ = 0;
    }
    for (const MadeFolder& made : made_) {
      Status set = disk_->SetFolderAttributes(*made.folder, made.source);
      if (!set.ok()) Fail(set);
    }
    made_.clear();
  }

  void Tell(const Outcome& outcome) {
    if (!outcome.status.ok()) observer_->OnFailure(outcome.status);
    if (outcome.status.ok() && !outcome.written.empty()) {
      observer_->OnWritten(outcome.written);
    }
    if (outcome.action != FileAction::kNone) {
      observer_->OnFile(outcome.action, outcome.from, outcome.to);
    }
  }

  void Fail(const Status& failure) { observer_->OnFailure(failure); }

  // Returns whether the folder |id| (|path| in messages) is left out: the
  // job's own target folder, or one of its own enclosing folders.
  bool LeftOut(const FolderId& id, const std::string& path) {
    if (!id.known()) return false;
    if (id == skip_) return true;  // The job's own target folder.
    for (const FolderId& enclosing : enclosing_) {
      if (id == enclosing) {
        // A bind mount can show a folder inside itself.
        Fail(Status::Error("cannot transfer folder " + path +
                           ": it is one of its own enclosing folders"));
        return true;
      }
    }
    return false;
  }

  // Makes (or takes) the target folder of the sub-folder |entry| of
  // |source|, opens both from their parents, never following a link, and
  // transfers the one into the other.
  void TransferSubFolder(const DirEntry& entry, const FolderHandle& source,
                         const FolderHandle& target) {
    const std::string source_path = source.path() + entry.name;
    if (LeftOut(FolderId{entry.device, entry.inode}, source_path)) return;
    const std::string name = name_prefix_ + entry.name;
    Status made = disk_->MakeSubFolder(target, name);
    if (!made.ok() && made.error_number() != EEXIST) {
      Fail(made);
      return;
    }
    Status opened;
    std::unique_ptr<FolderHandle> sub_target =
        disk_->OpenSubFolder(target, name, &opened);
    if (sub_target == nullptr) {
      if (opened.error_number() == ELOOP) {
        // Where it leads lies outside the target folder.
        Fail(Status::Error("cannot create folder " + target.path() + name +
                           ": a link is in the way and is left alone"));
      } else {
        // Something else in the way is told as what stopped the making.
        Fail(!made.ok() && opened.error_number() == ENOTDIR ? made : opened);
      }
      return;
    }
    std::unique_ptr<FolderHandle> sub_source =
        disk_->OpenSubFolder(source, entry.name, &opened);
    if (sub_source == nullptr) {
      Fail(opened);
      return;
    }
    const FolderId id = IdOf(*sub_source);
    if (id != FolderId{entry.device, entry.inode} && LeftOut(id, source_path)) {
      return;
    }

    enclosing_.push_back(id);
    TransferFolder(*sub_source, *sub_target);
    enclosing_.pop_back();
    if (!made.ok()) return;  // A folder that was there is left as it is.
    // Its mode may forbid writing into it, and what goes in changes its
    // time: both wait for its last copy to be in place.
    made_.push_back({std::move(sub_target), sub_source->attributes()});
    if (waiting_.empty() || made_.size() >= kMostMadeWaiting) FinishBatch();
  }

  DiskInterface* disk_;
  std::string name_prefix_;
  TransferMode mode_;
  TransferObserver* observer_;
  FolderId skip_;
  std::vector<FolderId> settings_ids_;  // the settings entry, its file
  std::vector<FolderId> enclosing_;
  std::unique_ptr<CopyBatch> batch_;  // made at the first copy
  std::vector<Outcome> waiting_;      // copies in the batch, not yet told
  int batched_ = 0;                   // copies in the batch
  std::vector<MadeFolder> made_;      // folders made, waiting for the batch
};

}  // namespace

void TransferTree(DiskInterface* disk, const std::string& source_folder,
                  const std::string& target_folder,
                  const std::string& date_text, TransferMode mode,
                  long long retention_days, const std::string& skip_folder,
                  const std::string& settings_file,
                  TransferObserver* observer) {
  if (source_folder.empty() || target_folder.empty()) {
    // "/" would be the whole file system; an empty folder names nothing.
    observer->OnFailure(Status::Error(
        "cannot transfer a folder tree: no source or target folder given"));
    return;
  }
  // Without a target folder every file would fail the same way; once is
  // enough to say so.
  FileInfo target_info;
  if (disk->Stat(target_folder, FollowLinks::kYes, &target_info).ok() &&
      target_info.kind != FileKind::kDirectory) {
    observer->OnFailure(Status::FromErrno(
        "cannot transfer " + source_folder + " into", target_folder,
        target_info.kind == FileKind::kMissing ? ENOENT : ENOTDIR));
    return;
  }
  // The two folders as the job names them, links followed; everything
  // below them is reached from them, never by a path walked again.
  Status opened;
  std::unique_ptr<FolderHandle> target =
      disk->OpenFolder(WithTrailingSlash(target_folder), &opened);
  std::unique_ptr<FolderHandle> source;
  if (target != nullptr) {
    source = disk->OpenFolder(WithTrailingSlash(source_folder), &opened);
  }
  if (source == nullptr) {
    observer->OnFailure(opened);
    return;
  }
  TreeTransfer transfer(disk, date_text, mode, retention_days, observer);
  transfer.SetSkipFolder(skip_folder);
  transfer.SetSettingsFile(settings_file);
  if (!transfer.EnterTop(*source, *target)) {
    // Every name written would be listed again and written once more.
    observer->OnFailure(Status::Error(
        "cannot transfer " + source_folder + " into " + target_folder +
        ": the target folder is the source folder itself"));
    return;
  }
  transfer.TransferFolder(*source, *target);
  transfer.Finish();
}

}  // namespace dravelkent
