#include "fsutil/disk_interface.h"

#include <cerrno>
#include <utility>

namespace dravelkent {
namespace {

// Makes each copy at once; Finish only hands the results over.
class ImmediateCopyBatch : public CopyBatch {
 public:
  explicit ImmediateCopyBatch(DiskInterface* disk) : disk_(disk) {}

  void Add(const std::string& from, const std::string& to) override {
    results_.push_back(disk_->CopyFile(from, to));
  }
  void AddAt(const FolderHandle& from_dir, const std::string& from_name,
             const FolderHandle& to_dir, const std::string& to_name,
             Overwrite overwrite) override {
    results_.push_back(
        disk_->CopyFileAt(from_dir, from_name, to_dir, to_name, overwrite));
  }
  bool full() const override { return false; }
  std::vector<Status> Finish() override { return std::exchange(results_, {}); }

 private:
  DiskInterface* disk_;
  std::vector<Status> results_;
};

// Adds to each entry of |reader| that is no folder its time, examined
// through |disk|.
class TimedDirReader : public DirReader {
 public:
  TimedDirReader(DiskInterface* disk, std::string dir,
                 std::unique_ptr<DirReader> reader)
      : disk_(disk), dir_(std::move(dir)), reader_(std::move(reader)) {
    if (!dir_.empty() && dir_.back() != '/') dir_ += '/';
  }

  bool Next(DirEntry* entry) override {
    if (!reader_->Next(entry)) return false;
    entry->has_time = false;
    entry->mtime_ns = 0;
    FileInfo info;
    if (!entry->is_dir &&
        disk_->Stat(dir_ + entry->name, FollowLinks::kNo, &info).ok() &&
        info.kind != FileKind::kMissing) {
      entry->has_time = true;
      entry->mtime_ns = info.mtime_ns;
    }
    return true;
  }

  Status status() const override { return reader_->status(); }

 private:
  DiskInterface* disk_;
  std::string dir_;
  std::unique_ptr<DirReader> reader_;
};

}  // namespace

std::unique_ptr<DirReader> DiskInterface::OpenDirWithTimes(
    const std::string& dir, Status* status) {
  std::unique_ptr<DirReader> reader = OpenDir(dir, status);
  if (reader == nullptr) return nullptr;
  return std::make_unique<TimedDirReader>(this, dir, std::move(reader));
}

Status DiskInterface::CopySymlink(const std::string& from,
                                  const std::string& to) {
  return Status::FromErrno("cannot copy link", from + " to " + to, ENOSYS);
}

std::unique_ptr<CopyBatch> DiskInterface::StartCopyBatch() {
  return std::make_unique<ImmediateCopyBatch>(this);
}

}  // namespace dravelkent
