#include "fsutil/tree_transfer.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include "fsutil/newer_file.h"
#include "fsutil/temp_names.h"

namespace dravelkent {
namespace {

// Folders made that wait for the copies into them at most; each is open.
constexpr size_t kMostMadeWaiting = 32;

class TreeTransfer {
 public:
  TreeTransfer(Disk* disk, std::string prefix, TransferMode mode,
               TransferObserver* observer, const Folder& source,
               const Folder& target)
      : disk_(disk),
        prefix_(std::move(prefix)),
        mode_(mode),
        observer_(observer),
        skip_(target.id()),
        enclosing_{source.id()} {}

  // Transfers |source| into |target| (|target_new|: made by this transfer).
  void TransferFolder(const Folder& source,
                      const std::shared_ptr<const Folder>& target,
                      bool target_new) {
    std::vector<std::string> folders;
    Status listed = disk_->List(source, [&](const FileInfo& entry) {
      if (entry.kind == FileKind::kFolder) {
        folders.push_back(entry.name);
      } else {
        TransferFile(entry, source, target, target_new);
      }
    });
    if (!listed.ok()) observer_->OnFailure(listed);
    for (const std::string& name : folders) {
      TransferSubFolder(name, source, *target);
    }
  }
  // Settles the copies still waiting and the folders made.
  void Finish() {
    std::vector<Status> results =
        batch_ ? batch_->Finish() : std::vector<Status>();
    for (size_t i = 0; i < waiting_.size(); ++i) {
      const Waiting& w = waiting_[i];
      // A target that turned out to be no older stays: not newer after all.
      if (results[i].error_number() == EEXIST) {
        observer_->OnFile(FileAction::kNotNewer, w.from, *w.to, w.to_name,
                          Status::Ok());
      } else {
        observer_->OnFile(FileAction::kCopied, w.from, *w.to, w.to_name,
                          results[i]);
      }
    }
    waiting_.clear();
    for (const auto& [folder, like] : made_) {
      Status finished = disk_->FinishFolder(*folder, like);
      if (!finished.ok()) observer_->OnFailure(finished);
    }
    made_.clear();
  }

 private:
  struct Waiting {
    std::string from;
    std::shared_ptr<const Folder> to;
    std::string to_name;
  };

  void TransferFile(const FileInfo& entry, const Folder& source,
                    const std::shared_ptr<const Folder>& target,
                    bool target_new) {
    if (IsOwnTemporaryName(entry.name) || disk_->IsProtected(entry)) return;
    const std::string from = source.path() + entry.name;
    if (entry.kind == FileKind::kSpecial) {
      observer_->OnFailure(Status::Failure(
          "cannot transfer", from,
          "a FIFO, socket or device is never opened; it stays where it is",
          EINVAL));
      return;
    }
    const std::string to_name = prefix_ + entry.name;
    if (mode_ == TransferMode::kMove) {
      Status moved = disk_->Move(source, entry, *target, to_name);
      observer_->OnFile(FileAction::kMoved, from, *target, to_name, moved);
      return;
    }
    // One that cannot be examined counts as none; its copy says why.
    FileInfo there;
    FileInfo file = entry;
    if (!target_new &&
        !disk_->Stat(*target, to_name, Follow::kNo, &there).ok()) {
      there = FileInfo();
    }
    if (there.kind != FileKind::kMissing && there.kind != FileKind::kFolder) {
      if (!file.complete &&
          !disk_->Stat(source, entry.name, Follow::kNo, &file).ok()) {
        file = entry;
      }
      if (file.complete && IsSourceNewer(file, there) != Newer::kCopy) {
        observer_->OnFile(FileAction::kNotNewer, from, *target, to_name,
                          Status::Ok());
        return;
      }
    }
    observer_->OnFile(FileAction::kCopying, from, *target, to_name,
                      Status::Ok());
    if (batch_ == nullptr) batch_ = std::make_unique<Disk::Batch>(disk_);
    batch_->Add(source, file, target, to_name, there,
                there.kind == FileKind::kMissing ? Overwrite::kNothing
                                                 : Overwrite::kOlderFile);
    waiting_.push_back({from, target, to_name});
    if (batch_->full()) Finish();
  }
  void TransferSubFolder(const std::string& name, const Folder& source,
                         const Folder& target) {
    std::unique_ptr<Folder> from;
    Status status = disk_->OpenFolder(source, name, &from);
    if (status.ok() && !from->listable()) {
      status = Status::FromErrno("cannot list", from->path(), EACCES);
    }
    if (!status.ok()) {
      observer_->OnFailure(status);
      return;
    }
    const FileId id = from->id();
    if (id == skip_) return;  // the job's own target folder
    if (std::find(enclosing_.begin(), enclosing_.end(), id) !=
        enclosing_.end()) {
      observer_->OnFailure(
          Status::Failure("cannot transfer folder", from->path(),
                          "it is one of its own enclosing folders", ELOOP));
      return;
    }
    const std::string to_name = prefix_ + name;
    std::unique_ptr<Folder> to;
    status = disk_->MakeFolder(target, to_name, &from->info(), &to);
    const bool made = status.ok();
    if (made) {
      observer_->OnFolderMade(*to);
    } else if (status.error_number() == EEXIST) {
      status = disk_->OpenFolder(target, to_name, &to);
      if (status.error_number() == ELOOP || status.error_number() == ENOTDIR) {
        status =
            Status::Failure("cannot create folder", target.path() + to_name,
                            status.error_number() == ELOOP
                                ? "a link is in the way and is left alone"
                                : "a file is in the way",
                            EEXIST);
      }
    }
    if (!status.ok()) {
      observer_->OnFailure(status);
      return;
    }
    std::shared_ptr<const Folder> into(std::move(to));
    enclosing_.push_back(id);
    TransferFolder(*from, into, made);
    enclosing_.pop_back();
    if (!made) return;  // a folder that was there is left as it is
    // Its bits and time wait for its last copy to be in place.
    made_.emplace_back(into, from->info());
    if (waiting_.empty() || made_.size() >= kMostMadeWaiting) Finish();
  }

  Disk* disk_;
  std::string prefix_;
  TransferMode mode_;
  TransferObserver* observer_;
  FileId skip_;
  std::vector<FileId> enclosing_;
  std::unique_ptr<Disk::Batch> batch_;
  std::vector<Waiting> waiting_;  // copies in the batch, in its order
  std::vector<std::pair<std::shared_ptr<const Folder>, FileInfo>> made_;
};

}  // namespace

void TransferTree(Disk* disk, const Folder& source, const Folder& target,
                  const std::string& date_text, TransferMode mode,
                  int retention_days, TransferObserver* observer) {
  if (source.id() == target.id()) {
    observer->OnFailure(Status::Failure(
        "cannot transfer", source.path() + " into " + target.path(),
        "the target folder is the source folder itself", EINVAL));
    return;
  }
  TreeTransfer transfer(disk, retention_days != 0 ? date_text : "", mode,
                        observer, source, target);
  // The caller keeps |target| open; the transfer only borrows it.
  transfer.TransferFolder(
      source,
      std::shared_ptr<const Folder>(std::shared_ptr<const Folder>(), &target),
      false);
  transfer.Finish();
}

}  // namespace dravelkent
