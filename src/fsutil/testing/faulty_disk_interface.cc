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
  std::unique_ptr<DirReader> reader = target_->OpenDir(dir, status);
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

StepHook CrashAfterSteps(int steps, std::vector<DiskStep>* seen) {
  return ActAt(steps, StepAction::kCrash, seen);
}

StepHook FailStep(int step, std::vector<DiskStep>* seen) {
  return ActAt(step, StepAction::kFail, seen);
}

}  // namespace dravelkent::testing
