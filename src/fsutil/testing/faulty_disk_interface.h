#pragma once

#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fsutil/real_disk_interface.h"

namespace dravelkent::testing {

// The kinds of call a FaultyDiskInterface counts and can fail. kReadDir is
// one Next() of a listing it handed out. The operations on open folders
// count as their path-based kinds (OpenFolder, OpenSubFolder: kOpenDir;
// StatAt: kStat; MakeSubFolder, SetFolderAttributes: kMakeDir; the *At
// copies and moves as theirs), on the folder's path and the name.
// clang-format off
enum class DiskCall { kOpenDir, kReadDir, kStat, kCopyFile, kMoveFile,
                      kCopySymlink, kRemoveFile, kMakeDir };
// clang-format on

// Forwards every call to another DiskInterface and counts it; fails the
// calls it was told to fail without forwarding them.
class FaultyDiskInterface : public DiskInterface {
  using enum DiskCall;
  using Path = const std::string&;
  using Folder = const FolderHandle&;

 public:
  explicit FaultyDiskInterface(DiskInterface* target) : t_(target) {}

  // Makes the |n|th call of |call| from now on (from 1) fail with |error|.
  void FailNthCall(DiskCall call, int n, int error = EIO) {
    fail_at_[call][counts_[call] + n] = error;
  }
  // Makes every call of |call| on |path| (its first path) fail.
  void FailPath(DiskCall call, Path path, int error = EIO) {
    fail_path_[call][path] = error;
  }
  // Runs |action| once, just before the first call of |call| on |path|.
  void BeforeCallOn(DiskCall call, Path path, std::function<void()> action) {
    before_[call][path] = std::move(action);
  }
  int count(DiskCall call) const {
    return counts_.count(call) ? counts_.at(call) : 0;
  }

  std::unique_ptr<DirReader> OpenDir(Path dir, Status* status) override {
    *status = Count(kOpenDir, dir);
    return status->ok() ? Wrap(t_->OpenDir(dir, status), dir) : nullptr;
  }
  Status Stat(Path path, FollowLinks follow, FileInfo* info) override {
    *info = FileInfo();
    return Gate(kStat, path, [&] { return t_->Stat(path, follow, info); });
  }
  Status CopyFile(Path from, Path to) override {
    return Gate(kCopyFile, from, [&] { return t_->CopyFile(from, to); });
  }
  Status MoveFile(Path from, Path to) override {
    return Gate(kMoveFile, from, [&] { return t_->MoveFile(from, to); });
  }
  Status CopySymlink(Path from, Path to) override {
    return Gate(kCopySymlink, from, [&] { return t_->CopySymlink(from, to); });
  }
  Status RemoveFile(Path path) override {
    return Gate(kRemoveFile, path, [&] { return t_->RemoveFile(path); });
  }
  Status MakeDir(Path path) override {
    return Gate(kMakeDir, path, [&] { return t_->MakeDir(path); });
  }
  std::unique_ptr<FolderHandle> OpenFolder(Path path, Status* st) override {
    *st = Count(kOpenDir, path);
    return st->ok() ? t_->OpenFolder(path, st) : nullptr;
  }
  std::unique_ptr<FolderHandle> OpenSubFolder(Folder parent, Path name,
                                              Status* st) override {
    *st = Count(kOpenDir, parent.path() + name + "/");
    return st->ok() ? t_->OpenSubFolder(parent, name, st) : nullptr;
  }
  std::unique_ptr<DirReader> ListFolder(Folder folder, EntryTimes times,
                                        Status* status) override {
    return Wrap(t_->ListFolder(folder, times, status), folder.path());
  }
  Status StatAt(Folder dir, Path name, FollowLinks follow,
                FileInfo* info) override {
    *info = FileInfo();
    return Gate(kStat, dir.path() + name,
                [&] { return t_->StatAt(dir, name, follow, info); });
  }
  Status MakeSubFolder(Folder parent, Path name) override {
    return Gate(kMakeDir, parent.path() + name,
                [&] { return t_->MakeSubFolder(parent, name); });
  }
  Status SetFolderAttributes(Folder dir,
                             const FolderHandle::Attributes& like) override {
    return Gate(kMakeDir, dir.path(),
                [&] { return t_->SetFolderAttributes(dir, like); });
  }
  Status CopyFileAt(Folder from_dir, Path from, Folder to_dir, Path to,
                    Overwrite overwrite) override {
    return Gate(kCopyFile, from_dir.path() + from, [&] {
      return t_->CopyFileAt(from_dir, from, to_dir, to, overwrite);
    });
  }
  Status MoveFileAt(Folder from_dir, Path from, Folder to_dir,
                    Path to) override {
    return Gate(kMoveFile, from_dir.path() + from,
                [&] { return t_->MoveFileAt(from_dir, from, to_dir, to); });
  }
  Status CopySymlinkAt(Folder from_dir, Path from, Folder to_dir,
                       Path to) override {
    return Gate(kCopySymlink, from_dir.path() + from,
                [&] { return t_->CopySymlinkAt(from_dir, from, to_dir, to); });
  }

 private:
  // A listing whose every Next() counts as one kReadDir.
  class Reader : public DirReader {
   public:
    Reader(std::unique_ptr<DirReader> target, std::string dir,
           FaultyDiskInterface* disk)
        : t_(std::move(target)), dir_(std::move(dir)), disk_(disk) {}
    bool Next(DirEntry* entry) override {
      if (status_.ok()) status_ = disk_->Count(kReadDir, dir_);
      return status_.ok() && t_->Next(entry);
    }
    Status status() const override {
      return status_.ok() ? t_->status() : status_;
    }

   private:
    std::unique_ptr<DirReader> t_;
    std::string dir_;
    FaultyDiskInterface* disk_;
    Status status_;
  };

  std::unique_ptr<DirReader> Wrap(std::unique_ptr<DirReader> reader, Path dir) {
    if (reader == nullptr) return nullptr;
    return std::make_unique<Reader>(std::move(reader), dir, this);
  }

  // Counts a call of |call| on |path|; returns the failure planned for it.
  Status Count(DiskCall call, Path path) {
    const int number = ++counts_[call];
    if (auto it = before_[call].find(path); it != before_[call].end()) {
      std::function<void()> action = std::move(it->second);
      before_[call].erase(it);
      action();
    }
    int error = fail_at_[call].count(number) ? fail_at_[call][number] : 0;
    if (fail_path_[call].count(path)) error = fail_path_[call][path];
    if (error == 0) return Status::Ok();
    return Status::FromErrno("injected failure for", path, error);
  }

  template <typename Forward>
  Status Gate(DiskCall call, Path path, Forward forward) {
    Status status = Count(call, path);
    return status.ok() ? forward() : status;
  }

  DiskInterface* t_;
  std::map<DiskCall, int> counts_;
  std::map<DiskCall, std::map<int, int>> fail_at_;  // call -> n -> errno
  std::map<DiskCall, std::map<std::string, int>> fail_path_;
  std::map<DiskCall, std::map<std::string, std::function<void()>>> before_;
};

// A step hook that fails (kFail) the step with index |step|, counting from
// 0 over every operation it is consulted for. |*seen|, unless null,
// receives every step consulted.
inline StepHook FailStep(int step, std::vector<DiskStep>* seen) {
  auto consulted = std::make_shared<int>(0);
  return [=](DiskStep each) {
    if (seen != nullptr) seen->push_back(each);
    return (*consulted)++ == step ? StepAction::kFail : StepAction::kContinue;
  };
}

}  // namespace dravelkent::testing
