#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fsutil/real_disk_interface.h"

namespace dravelkent::testing {

// The calls counted, a Next() of a listing as kReadDir; calls on open
// folders as their path-based kinds, on the folder's path and the name.
// clang-format off
enum class DiskCall { kOpenDir, kReadDir, kStat, kCopyFile, kMoveFile,
                      kCopySymlink, kRemoveFile, kMakeDir };
// clang-format on

// Forwards and counts every call; fails those it was told to fail.
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
  int count(DiskCall call) { return counts_[call]; }

  std::unique_ptr<DirReader> OpenDir(Path dir, Status* status) override {
    *status = Count(kOpenDir, dir);
    return status->ok() ? Wrap(t_->OpenDir(dir, status), dir) : nullptr;
  }
  Status Stat(Path path, FollowLinks follow, FileInfo* info) override {
    *info = FileInfo();
    Status status = Count(kStat, path);
    return status.ok() ? t_->Stat(path, follow, info) : status;
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
    Status status = Count(kStat, dir.path() + name);
    return status.ok() ? t_->StatAt(dir, name, follow, info) : status;
  }
// Counts the call |kind| on |path| and forwards it unless it is to fail.
#define FAULTY_FORWARD(kind, path, method, params, args) \
  Status method params override {                        \
    Status status = Count(kind, path);                   \
    return status.ok() ? t_->method args : status;       \
  }
  FAULTY_FORWARD(kCopyFile, from, CopyFile, (Path from, Path to), (from, to))
  FAULTY_FORWARD(kMoveFile, from, MoveFile, (Path from, Path to), (from, to))
  FAULTY_FORWARD(kRemoveFile, path, RemoveFile, (Path path), (path))
  FAULTY_FORWARD(kMakeDir, path, MakeDir, (Path path), (path))
  FAULTY_FORWARD(kMakeDir, parent.path() + name, MakeSubFolder,
                 (Folder parent, Path name), (parent, name))
  FAULTY_FORWARD(kMakeDir, dir.path(), SetFolderAttributes,
                 (Folder dir, const FolderHandle::Attributes& like),
                 (dir, like))
  FAULTY_FORWARD(kCopyFile, from_dir.path() + from, CopyFileAt,
                 (Folder from_dir, Path from, Folder to_dir, Path to,
                  Overwrite overwrite),
                 (from_dir, from, to_dir, to, overwrite))
  FAULTY_FORWARD(kMoveFile, from_dir.path() + from, MoveFileAt,
                 (Folder from_dir, Path from, Folder to_dir, Path to),
                 (from_dir, from, to_dir, to))
  FAULTY_FORWARD(kCopySymlink, from_dir.path() + from, CopySymlinkAt,
                 (Folder from_dir, Path from, Folder to_dir, Path to),
                 (from_dir, from, to_dir, to))
#undef FAULTY_FORWARD

 private:
  // A listing whose every Next() counts as one kReadDir.
  struct Reader : DirReader {
    bool Next(DirEntry* entry) override {
      if (failure.ok()) failure = disk->Count(kReadDir, dir);
      return failure.ok() && listing->Next(entry);
    }
    Status status() const override {
      return failure.ok() ? listing->status() : failure;
    }
    FaultyDiskInterface* disk;
    std::string dir;
    std::unique_ptr<DirReader> listing;
    Status failure;
  };

  std::unique_ptr<DirReader> Wrap(std::unique_ptr<DirReader> listing,
                                  Path dir) {
    if (listing == nullptr) return nullptr;
    auto reader = std::make_unique<Reader>();
    reader->disk = this;
    reader->dir = dir;
    reader->listing = std::move(listing);
    return reader;
  }

  // Counts a call of |call| on |path|; returns the failure planned for it.
  Status Count(DiskCall call, Path path) {
    const int number = ++counts_[call];
    if (auto action = before_[call].extract(path)) action.mapped()();
    int error = fail_at_[call][number];
    if (fail_path_[call].count(path)) error = fail_path_[call][path];
    if (error == 0) return Status::Ok();
    return Status::FromErrno("injected failure for", path, error);
  }

  DiskInterface* t_;
  std::map<DiskCall, int> counts_;
  std::map<DiskCall, std::map<int, int>> fail_at_;  // call -> n -> errno
  std::map<DiskCall, std::map<std::string, int>> fail_path_;
  std::map<DiskCall, std::map<std::string, std::function<void()>>> before_;
};

// A RealDiskInterface that records the steps of its copies and moves, and
// fails one of them or acts just before one as told.
class RealDiskWithStepFaults : public RealDiskInterface {
 public:
  using RealDiskInterface::RealDiskInterface;

  // Makes the step that steps()[index] records fail with EIO, unrun.
  void FailStepAt(size_t index) { fail_at_ = index; }
  // Runs |action| just before every step |step|.
  void BeforeStep(DiskStep step, std::function<void()> action) {
    before_ = {step, std::move(action)};
  }
  // Returns the steps run or failed so far, in order.
  const std::vector<DiskStep>& steps() const { return steps_; }

 protected:
  int RunStep(DiskStep step, const std::function<int()>& body) const override {
    steps_.push_back(step);
    if (before_.second && step == before_.first) before_.second();
    return steps_.size() - 1 == fail_at_ ? EIO : body();
  }

 private:
  mutable std::vector<DiskStep> steps_;
  size_t fail_at_ = SIZE_MAX;
  std::pair<DiskStep, std::function<void()>> before_;
};

}  // namespace dravelkent::testing
