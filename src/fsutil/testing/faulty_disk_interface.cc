#include "fsutil/testing/faulty_disk_interface.h"

#include <memory>
#include <utility>

namespace dravelkent::testing {
namespace {

class FaultyDirReader : public DirReader {
 public:
  FaultyDirReader(std::unique_ptr<DirReader> target, std::string dir,
                  FaultyDiskInterface* disk)
      : target_(std::move(target)), dir_(std::move(dir)), disk_(disk) {}
  ~FaultyDirReader() override { disk_->ListingClosed(); }

  bool Next(DirEntry* entry) override {
    if (!status_.ok()) return false;
    status_ = disk_->CountRead(dir_);
    if (!status_.ok()) return false;
    return target_->Next(entry);
  }

  Status status() const override {
    return status_.ok() ? target_->status() : status_;
  }

 private:
  std::unique_ptr<DirReader> target_;
  std::string dir_;
  FaultyDiskInterface* disk_;
  Status status_;
};

// Returns a hook that answers |action| for the step number |at| + 1 and
// kContinue for all others.
StepHook ActAt(int at, StepAction action, std::vector<DiskStep>* seen) {
  auto consulted = std::make_shared<int>(0);
  return [at, action, seen, consulted](DiskStep step) {
    if (seen != nullptr) seen->push_back(step);
    return (*consulted)++ == at ? action : StepAction::kContinue;
  };
}

}  // namespace

void FaultyDiskInterface::FailNthCall(DiskCall call, int n, int error_number) {
  fail_at_[call][counts_[call] + n] = error_number;
}

void FaultyDiskInterface::BeforeCallOn(DiskCall call, const std::string& path,
                                       std::function<void()> action) {
  before_[call][path] = std::move(action);
}

void FaultyDiskInterface::FailPath(DiskCall call, const std::string& path,
                                   int error_number) {
  fail_path_[call][path] = error_number;
}

int FaultyDiskInterface::count(DiskCall call) const {
  auto it = counts_.find(call);
  return it == counts_.end() ? 0 : it->second;
}

std::vector<DiskCallRecord> FaultyDiskInterface::writes() const {
  std::vector<DiskCallRecord> writes;
  for (const DiskCallRecord& record : calls_) {
    if (record.call != DiskCall::kOpenDir) writes.push_back(record);
  }
  return writes;
}

Status FaultyDiskInterface::Count(DiskCall call, const std::string& path) {
  int number = ++counts_[call];
  if (auto it = before_[call].find(path); it != before_[call].end()) {
    std::function<void()> action = std::move(it->second);
    before_[call].erase(it);
    action();
  }
  int error = 0;
  if (auto it = fail_at_[call].find(number); it != fail_at_[call].end()) {
    error = it->second;
  }
  if (auto it = fail_path_[call].find(path); it != fail_path_[call].end()) {
    error = it->second;
  }
  if (error == 0) return Status::Ok();
  return Status::FromErrno("injected failure for", path, error);
}

Status FaultyDiskInterface::CountRead(const std::string& dir) {
  return Count(DiskCall::kReadDir, dir);
}

std::unique_ptr<DirReader> FaultyDiskInterface::OpenDir(const std::string& dir,
                                                        Status* status) {
  calls_.push_back({DiskCall::kOpenDir, dir, ""});
  *status = Count(DiskCall::kOpenDir, dir);
  if (!status->ok()) return nullptr;
  return Wrap(target_->OpenDir(dir, status), dir);
}

std::unique_ptr<DirReader> FaultyDiskInterface::Wrap(
    std::unique_ptr<DirReader> reader, const std::string& dir) {
  if (reader == nullptr) return nullptr;
  if (++open_listings_ > max_open_listings_) {
    max_open_listings_ = open_listings_;
  }
  return std::make_unique<FaultyDirReader>(std::move(reader), dir, this);
}

Status FaultyDiskInterface::Stat(const std::string& path, FollowLinks follow,
                                 FileInfo* info) {
  Status status = Count(DiskCall::kStat, path);
  if (!status.ok()) {
    *info = FileInfo();
    return status;
  }
  return target_->Stat(path, follow, info);
}

Status FaultyDiskInterface::CopyFile(const std::string& from,
                                     const std::string& to) {
  calls_.push_back({DiskCall::kCopyFile, from, to});
  Status status = Count(DiskCall::kCopyFile, from);
  return status.ok() ? target_->CopyFile(from, to) : status;
}

Status FaultyDiskInterface::MoveFile(const std::string& from,
                                     const std::string& to) {
  calls_.push_back({DiskCall::kMoveFile, from, to});
  Status status = Count(DiskCall::kMoveFile, from);
  return status.ok() ? target_->MoveFile(from, to) : status;
}

Status FaultyDiskInterface::CopySymlink(const std::string& from,
                                        const std::string& to) {
  calls_.push_back({DiskCall::kCopySymlink, from, to});
  Status status = Count(DiskCall::kCopySymlink, from);
  return status.ok() ? target_->CopySymlink(from, to) : status;
}

Status FaultyDiskInterface::RemoveFile(const std::string& path) {
  calls_.push_back({DiskCall::kRemoveFile, path, ""});
  Status status = Count(DiskCall::kRemoveFile, path);
  return status.ok() ? target_->RemoveFile(path) : status;
}

Status FaultyDiskInterface::MakeDir(const std::string& path) {
  calls_.push_back({DiskCall::kMakeDir, path, ""});
  Status status = Count(DiskCall::kMakeDir, path);
  return status.ok() ? target_->MakeDir(path) : status;
}

std::unique_ptr<FolderHandle> FaultyDiskInterface::OpenFolder(
    const std::string& path, Status* status) {
  calls_.push_back({DiskCall::kOpenDir, path, ""});
  *status = Count(DiskCall::kOpenDir, path);
  return status->ok() ? target_->OpenFolder(path, status) : nullptr;
}

std::unique_ptr<FolderHandle> FaultyDiskInterface::OpenSubFolder(
    const FolderHandle& parent, const std::string& name, Status* status) {
  const std::string path = parent.path() + name + "/";
  calls_.push_back({DiskCall::kOpenDir, path, ""});
  *status = Count(DiskCall::kOpenDir, path);
  return status->ok() ? target_->OpenSubFolder(parent, name, status)
                      : nullptr;
}

std::unique_ptr<DirReader> FaultyDiskInterface::ListFolder(
    const FolderHandle& folder, EntryTimes times, Status* status) {
  return Wrap(target_->ListFolder(folder, times, status), folder.path());
}

Status FaultyDiskInterface::StatAt(const FolderHandle& folder,
                                   const std::string& name, FollowLinks follow,
                                   FileInfo* info) {
  Status status = Count(DiskCall::kStat, folder.path() + name);
  if (!status.ok()) {
    *info = FileInfo();
    return status;
  }
  return target_->StatAt(folder, name, follow, info);
}

Status FaultyDiskInterface::MakeSubFolder(const FolderHandle& parent,
                                          const std::string& name) {
  const std::string path = parent.path() + name;
  calls_.push_back({DiskCall::kMakeDir, path, ""});
  Status status = Count(DiskCall::kMakeDir, path);
  return status.ok() ? target_->MakeSubFolder(parent, name) : status;
}

Status FaultyDiskInterface::SetFolderAttributes(
    const FolderHandle& folder, const FolderHandle::Attributes& like) {
  calls_.push_back({DiskCall::kMakeDir, folder.path(), ""});
  Status status = Count(DiskCall::kMakeDir, folder.path());
  return status.ok() ? target_->SetFolderAttributes(folder, like) : status;
}

Status FaultyDiskInterface::CopyFileAt(const FolderHandle& from_dir,
                                       const std::string& from_name,
                                       const FolderHandle& to_dir,
                                       const std::string& to_name,
                                       Overwrite overwrite) {
  const std::string from = from_dir.path() + from_name;
  calls_.push_back({DiskCall::kCopyFile, from, to_dir.path() + to_name});
  Status status = Count(DiskCall::kCopyFile, from);
  return status.ok() ? target_->CopyFileAt(from_dir, from_name, to_dir,
                                           to_name, overwrite)
                     : status;
}

Status FaultyDiskInterface::MoveFileAt(const FolderHandle& from_dir,
                                       const std::string& from_name,
                                       const FolderHandle& to_dir,
                                       const std::string& to_name) {
  const std::string from = from_dir.path() + from_name;
  calls_.push_back({DiskCall::kMoveFile, from, to_dir.path() + to_name});
  Status status = Count(DiskCall::kMoveFile, from);
  return status.ok()
             ? target_->MoveFileAt(from_dir, from_name, to_dir, to_name)
             : status;
}

Status FaultyDiskInterface::CopySymlinkAt(const FolderHandle& from_dir,
                                          const std::string& from_name,
                                          const FolderHandle& to_dir,
                                          const std::string& to_name) {
  const std::string from = from_dir.path() + from_name;
  calls_.push_back({DiskCall::kCopySymlink, from, to_dir.path() + to_name});
  Status status = Count(DiskCall::kCopySymlink, from);
  return status.ok()
             ? target_->CopySymlinkAt(from_dir, from_name, to_dir, to_name)
             : status;
}

StepHook CrashAfterSteps(int steps, std::vector<DiskStep>* seen) {
  return ActAt(steps, StepAction::kCrash, seen);
}

StepHook FailStep(int step, std::vector<DiskStep>* seen) {
  return ActAt(step, StepAction::kFail, seen);
}

}  // namespace dravelkent::testing
