#include "fsutil/reporting_disk_interface.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace dravelkent {
namespace {

// The copies of another batch, told once Finish has made them.
class ReportingCopyBatch : public CopyBatch {
 public:
  ReportingCopyBatch(std::unique_ptr<CopyBatch> inner,
                     DiskChangeListener* listener)
      : inner_(std::move(inner)), listener_(listener) {}

  bool full() const override { return inner_->full(); }

  void AddAt(const FolderHandle& from_dir, const std::string& from_name,
             const FolderHandle& to_dir, const std::string& to_name,
             Overwrite overwrite) override {
    added_.emplace_back(from_dir.path() + from_name, to_dir.path() + to_name);
    inner_->AddAt(from_dir, from_name, to_dir, to_name, overwrite);
  }

  std::vector<Status> Finish() override {
    std::vector<Status> results = inner_->Finish();
    const size_t told = std::min(results.size(), added_.size());
    for (size_t i = 0; i < told; ++i) {
      if (!results[i].ok()) continue;
      listener_->OnDiskChange(DiskChange::kFileCopied, added_[i].first,
                              added_[i].second);
    }
    added_.clear();
    return results;
  }

 private:
  std::unique_ptr<CopyBatch> inner_;
  DiskChangeListener* listener_;
  std::vector<std::pair<std::string, std::string>> added_;  // from, to
};

}  // namespace

Status ReportingDiskInterface::Tell(Status status, DiskChange change,
                                    const std::string& path,
                                    const std::string& to) {
  if (status.ok()) listener_->OnDiskChange(change, path, to);
  return status;
}

std::unique_ptr<DirReader> ReportingDiskInterface::OpenDir(
    const std::string& dir, Status* status) {
  return inner_->OpenDir(dir, status);
}

Status ReportingDiskInterface::Stat(const std::string& path, FollowLinks follow,
                                    FileInfo* info) {
  return inner_->Stat(path, follow, info);
}

std::unique_ptr<FolderHandle> ReportingDiskInterface::OpenFolder(
    const std::string& path, Status* status) {
  return inner_->OpenFolder(path, status);
}

std::unique_ptr<FolderHandle> ReportingDiskInterface::OpenSubFolder(
    const FolderHandle& parent, const std::string& name, Status* status) {
  return inner_->OpenSubFolder(parent, name, status);
}

std::unique_ptr<DirReader> ReportingDiskInterface::ListFolder(
    const FolderHandle& folder, EntryTimes times, Status* status) {
  return inner_->ListFolder(folder, times, status);
}

Status ReportingDiskInterface::StatAt(const FolderHandle& folder,
                                      const std::string& name,
                                      FollowLinks follow, FileInfo* info) {
  return inner_->StatAt(folder, name, follow, info);
}

Status ReportingDiskInterface::CopyFile(const std::string& from,
                                        const std::string& to) {
  return Tell(inner_->CopyFile(from, to), DiskChange::kFileCopied, from, to);
}

Status ReportingDiskInterface::MoveFile(const std::string& from,
                                        const std::string& to) {
  return Tell(inner_->MoveFile(from, to), DiskChange::kFileMoved, from, to);
}

Status ReportingDiskInterface::RemoveFile(const std::string& path) {
  return Tell(inner_->RemoveFile(path), DiskChange::kFileRemoved, path);
}

Status ReportingDiskInterface::MakeDir(const std::string& path) {
  return Tell(inner_->MakeDir(path), DiskChange::kFolderMade, path);
}

Status ReportingDiskInterface::MakeSubFolder(const FolderHandle& parent,
                                             const std::string& name) {
  return Tell(inner_->MakeSubFolder(parent, name), DiskChange::kFolderMade,
              parent.path() + name);
}

Status ReportingDiskInterface::SetFolderAttributes(
    const FolderHandle& folder, const FolderHandle::Attributes& like) {
  return inner_->SetFolderAttributes(folder, like);
}

Status ReportingDiskInterface::CopyFileAt(const FolderHandle& from_dir,
                                          const std::string& from_name,
                                          const FolderHandle& to_dir,
                                          const std::string& to_name,
                                          Overwrite overwrite) {
  return Tell(
      inner_->CopyFileAt(from_dir, from_name, to_dir, to_name, overwrite),
      DiskChange::kFileCopied, from_dir.path() + from_name,
      to_dir.path() + to_name);
}

Status ReportingDiskInterface::MoveFileAt(const FolderHandle& from_dir,
                                          const std::string& from_name,
                                          const FolderHandle& to_dir,
                                          const std::string& to_name) {
  return Tell(inner_->MoveFileAt(from_dir, from_name, to_dir, to_name),
              DiskChange::kFileMoved, from_dir.path() + from_name,
              to_dir.path() + to_name);
}

Status ReportingDiskInterface::CopySymlinkAt(const FolderHandle& from_dir,
                                             const std::string& from_name,
                                             const FolderHandle& to_dir,
                                             const std::string& to_name) {
  return Tell(inner_->CopySymlinkAt(from_dir, from_name, to_dir, to_name),
              DiskChange::kFileCopied, from_dir.path() + from_name,
              to_dir.path() + to_name);
}

std::unique_ptr<CopyBatch> ReportingDiskInterface::StartCopyBatch() {
  return std::make_unique<ReportingCopyBatch>(inner_->StartCopyBatch(),
                                              listener_);
}

}  // namespace dravelkent
