#include "fsutil/tree_transfer.h"

#include <cerrno>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "fsutil/newer_file.h"
#include "fsutil/posix_file_util.h"
#include "fsutil/temp_names.h"
#include "fsutil/transfer_texts.h"

namespace dravelkent {
namespace {

struct FolderId {
  uint64_t device = 0;
  uint64_t inode = 0;

  bool known() const { return device != 0 || inode != 0; }
  bool operator==(const FolderId&) const = default;
};

// Returns |format| with its "%s" replaced by |name|, whole.
std::string StatusText(const char* format, const std::string& name) {
  std::string text = format;
  size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, name);
  return text;
}

// Returns whether |name| is what a save of the file |file_name| makes
// beside it: "." + |file_name| + "." + the six letters or digits mkostemp
// chose.
bool IsSaveTemporaryName(const std::string& name,
                         const std::string& file_name) {
  const std::string prefix = "." + file_name + ".";
  if (file_name.empty() || name.size() != prefix.size() + 6 ||
      name.compare(0, prefix.size(), prefix) != 0) {
    return false;
  }
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
          (c >= 'A' && c <= 'Z'))) {
      return false;
    }
  }
  return true;
}

std::string WithSlash(const std::string& folder) {
  return folder.back() == '/' ? folder : folder + "/";
}

// How one file went, told to the observer once it is settled.
struct Outcome {
  std::string text;      // the status text, unless told already
  std::string written;   // the destination, when a copy or move was tried
  Status status;         // its result, once known
  int batch_index = -1;  // its place in the copy batch, while it waits
};

// Files told at most after this many, whatever the batch holds.
constexpr size_t kMostWaiting = 512;

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
    skip_ = IdOf(skip_folder);
  }

  // Judges |settings_file| once: the entry itself, the file it leads to,
  // and the folder where its saves make their temporary files.
  void SetSettingsFile(const std::string& settings_file) {
    if (settings_file.empty()) return;
    std::string folder;
    SplitPath(settings_file, &folder, &settings_name_);
    for (FollowLinks follow : {FollowLinks::kNo, FollowLinks::kYes}) {
      FileInfo info;
      if (disk_->Stat(settings_file, follow, &info).ok() &&
          info.kind != FileKind::kMissing) {
        settings_ids_.push_back(FolderId{info.device, info.inode});
      }
    }
    settings_folder_ = IdOf(folder);
  }

  // Transfers the folder |source| into |target|; both end in "/" and the
  // ancestors of |source| (itself included) are on |enclosing_|. The folder
  // is listed once: files are handled as the listing gives them, its
  // sub-folders are noted and handled after the last file, the listing
  // closed by then.
  void TransferFolder(const std::string& source, const std::string& target) {
    std::vector<DirEntry> folders;
    {
      Status opened;
      // Copy mode judges each file by its time: the listing brings it.
      std::unique_ptr<DirReader> reader =
          mode_ == TransferMode::kCopy
              ? disk_->OpenDirWithTimes(source, &opened)
              : disk_->OpenDir(source, &opened);
      if (reader == nullptr) {
        Fail(opened);
        return;
      }
      DirEntry entry;
      while (reader->Next(&entry)) {
        if (!entry.is_dir) {
          // What a killed run left half-written is no file of the user's,
          // and the run's settings file stays where the run reads it.
          if (!IsOwnTemporaryName(entry.name) && !IsSettingsFile(entry)) {
            TransferFile(entry, source, target);
          }
        } else if (entry.name != "." && entry.name != "..") {
          folders.push_back(entry);
        }
      }
      ReportListing(*reader);
    }
    for (const DirEntry& folder : folders) {
      TransferSubFolder(folder, source, target);
    }
  }

  // Settles the copies still waiting and tells what is left to tell.
  void Finish() { FinishBatch(); }

  // Takes |source| as the top of the tree, the first enclosing folder.
  // Returns false, and takes nothing, when it is the folder |target|.
  bool EnterTop(const std::string& source, const std::string& target) {
    FolderId top = IdOf(source);
    if (top.known() && top == IdOf(target)) return false;
    enclosing_.push_back(top);
    return true;
  }

 private:
  FolderId IdOf(const std::string& folder) {
    FileInfo info;
    if (!disk_->Stat(folder, FollowLinks::kYes, &info).ok() ||
        info.kind != FileKind::kDirectory) {
      return FolderId();
    }
    return FolderId{info.device, info.inode};
  }

  // Returns whether |entry|, listed in the folder enclosing_.back(), is the
  // run's settings file or a temporary file of its save.
  bool IsSettingsFile(const DirEntry& entry) const {
    const FolderId& folder = enclosing_.back();
    if (!folder.known()) return false;
    const FolderId id{folder.device, entry.inode};
    for (const FolderId& settings : settings_ids_) {
      if (entry.inode != 0 && id == settings) return true;
    }
    return folder == settings_folder_ &&
           IsSaveTemporaryName(entry.name, settings_name_);
  }

  void ReportListing(const DirReader& reader) {
    if (!reader.status().ok()) Fail(reader.status());
  }

  void TransferFile(const DirEntry& entry, const std::string& source,
                    const std::string& target) {
    const std::string& name = entry.name;
    std::string from = source + name;
    std::string to = target + name_prefix_ + name;
    Outcome outcome;
    if (mode_ == TransferMode::kMove) {
      outcome.text = StatusText(transfer_texts::kMoving, name);
      outcome.status = disk_->MoveFile(from, to);
      outcome.written = to;
    } else if (IsSourceNewer(disk_, entry.has_time, entry.mtime_ns, to) != 1) {
      outcome.text = StatusText(transfer_texts::kNotNewer, name);
    } else {
      outcome.text = StatusText(transfer_texts::kCopying, name);
      outcome.written = to;
      if (entry.is_symlink) {
        outcome.status = disk_->CopySymlink(from, to);
      } else {
        // Told when its batch is finished, in turn with the files around.
        if (batch_ == nullptr) batch_ = disk_->StartCopyBatch();
        batch_->Add(from, to);
        outcome.batch_index = batched_++;
      }
    }
    if (outcome.batch_index < 0) {
      Tell(outcome);
      return;
    }
    // The copy has started: the status line names it now, and what became
    // of it is told once its batch is finished.
    observer_->OnStatus(outcome.text);
    outcome.text.clear();
    waiting_.push_back(std::move(outcome));
    if (batch_->full() || waiting_.size() >= kMostWaiting) FinishBatch();
  }

  // Finishes the copies waiting in the batch and tells how each went, in
  // the order added.
  void FinishBatch() {
    if (waiting_.empty()) return;
    std::vector<Status> results = batch_->Finish();
    for (Outcome& outcome : waiting_) {
      size_t index = static_cast<size_t>(outcome.batch_index);
      outcome.status = index < results.size()
                           ? results[index]
                           : Status::Error("copy to " + outcome.written +
                                           ": no result");
      Tell(outcome);
    }
    waiting_.clear();
    batched_ = 0;
  }

  void Tell(const Outcome& outcome) {
    if (!outcome.status.ok()) observer_->OnFailure(outcome.status);
    if (outcome.status.ok() && !outcome.written.empty()) {
      observer_->OnWritten(outcome.written);
    }
    if (!outcome.text.empty()) observer_->OnStatus(outcome.text);
  }

  void Fail(const Status& failure) { observer_->OnFailure(failure); }

  void TransferSubFolder(const DirEntry& entry, const std::string& source,
                         const std::string& target) {
    FolderId id{entry.device, entry.inode};
    if (id.known()) {
      if (id == skip_) return;  // The job's own target folder.
      for (const FolderId& enclosing : enclosing_) {
        if (id == enclosing) {
          // A bind mount can show a folder inside itself.
          Fail(Status::Error("cannot transfer folder " + source + entry.name +
                            ": it is one of its own enclosing folders"));
          return;
        }
      }
    }
    std::string sub_target = target + name_prefix_ + entry.name;
    if (!MakeTargetFolder(sub_target)) return;

    enclosing_.push_back(id);
    TransferFolder(source + entry.name + "/", sub_target + "/");
    enclosing_.pop_back();
  }

  // Creates |folder|, or uses the folder of that name that exists. Returns
  // false, the failure reported, when there is no folder to write into.
  bool MakeTargetFolder(const std::string& folder) {
    Status made = disk_->MakeDir(folder);
    if (made.ok()) return true;
    if (made.error_number() == EEXIST) {
      // A link of that name (a copy of a link the source once held) is not
      // entered: what it leads to lies outside the target folder.
      FileInfo info;
      Status examined = disk_->Stat(folder, FollowLinks::kNo, &info);
      if (examined.ok() && info.kind == FileKind::kDirectory) return true;
      if (!examined.ok()) made = examined;
      if (examined.ok() && info.kind == FileKind::kSymlink) {
        made = Status::Error("cannot create folder " + folder +
                             ": a link is in the way and is left alone");
      }
    }
    Fail(made);
    return false;
  }

  DiskInterface* disk_;
  std::string name_prefix_;
  TransferMode mode_;
  TransferObserver* observer_;
  FolderId skip_;
  std::vector<FolderId> settings_ids_;  // the settings entry, its file
  FolderId settings_folder_;
  std::string settings_name_;
  std::vector<FolderId> enclosing_;
  std::unique_ptr<CopyBatch> batch_;  // made at the first copy
  std::vector<Outcome> waiting_;      // copies in the batch, not yet told
  int batched_ = 0;                   // copies in the batch
};

}  // namespace

int TransferTree(DiskInterface* disk, const std::string& source_folder,
                 const std::string& target_folder,
                 const std::string& date_text, TransferMode mode,
                 long long retention_days, const std::string& skip_folder,
                 const std::string& settings_file,
                 TransferObserver* observer) {
  if (source_folder.empty() || target_folder.empty()) {
    // "/" would be the whole file system; an empty folder names nothing.
    observer->OnFailure(Status::Error(
        "cannot transfer a folder tree: no source or target folder given"));
    return 1;
  }
  // Without a target folder every file would fail the same way; once is
  // enough to say so. (When it cannot even be examined, the files say why.)
  FileInfo target;
  if (disk->Stat(target_folder, FollowLinks::kYes, &target).ok() &&
      target.kind != FileKind::kDirectory) {
    observer->OnFailure(Status::FromErrno(
        "cannot transfer " + source_folder + " into", target_folder,
        target.kind == FileKind::kMissing ? ENOENT : ENOTDIR));
    return 1;
  }
  TreeTransfer transfer(disk, date_text, mode, retention_days, observer);
  transfer.SetSkipFolder(skip_folder);
  transfer.SetSettingsFile(settings_file);
  std::string source = WithSlash(source_folder);
  if (!transfer.EnterTop(source, target_folder)) {
    // Every name written would be listed again and written once more.
    observer->OnFailure(Status::Error(
        "cannot transfer " + source_folder + " into " + target_folder +
        ": the target folder is the source folder itself"));
    return 1;
  }
  transfer.TransferFolder(source, WithSlash(target_folder));
  transfer.Finish();
  return 1;
}

}  // namespace dravelkent
