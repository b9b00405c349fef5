#pragma once

#include <memory>
#include <string>

#include "base/status.h"
#include "fsutil/disk_interface.h"

namespace dravelkent {

// A change to the file system that a run made.
enum class DiskChange { kFolderMade, kFileMoved, kFileCopied, kFileRemoved };

// Where ReportingDiskInterface tells the changes made.
class DiskChangeListener {
 public:
  virtual ~DiskChangeListener() = default;

  // Told once |change| has been made. |path|: the folder made, the file
  // removed, or the source of a move or copy; |to|: the destination of a
  // move or copy, else empty.
  virtual void OnDiskChange(DiskChange change, const std::string& path,
                            const std::string& to) = 0;
};

// Does everything on another disk and tells a listener of each change that
// succeeded, in the order made; failures go only to the caller. Names in
// open folders are told as the folder's path and the name. Handles and
// listings are those of the other disk.
class ReportingDiskInterface : public DiskInterface {
 public:
  // Works on |inner| and tells |listener|; neither is owned, both must
  // outlive it.
  ReportingDiskInterface(DiskInterface* inner, DiskChangeListener* listener)
      : inner_(inner), listener_(listener) {}

  // The reads: each returns what |inner| returns.
  std::unique_ptr<DirReader> OpenDir(const std::string& dir,
                                     Status* status) override;
  Status Stat(const std::string& path, FollowLinks follow,
              FileInfo* info) override;
  std::unique_ptr<FolderHandle> OpenFolder(const std::string& path,
                                           Status* status) override;
  std::unique_ptr<FolderHandle> OpenSubFolder(const FolderHandle& parent,
                                              const std::string& name,
                                              Status* status) override;
  std::unique_ptr<DirReader> ListFolder(const FolderHandle& folder,
                                        EntryTimes times,
                                        Status* status) override;
  Status StatAt(const FolderHandle& folder, const std::string& name,
                FollowLinks follow, FileInfo* info) override;

  // The changes: each returns what |inner| returns, having told the
  // listener when that is ok.
  Status CopyFile(const std::string& from, const std::string& to) override;
  Status MoveFile(const std::string& from, const std::string& to) override;
  Status RemoveFile(const std::string& path) override;
  Status MakeDir(const std::string& path) override;
  Status MakeSubFolder(const FolderHandle& parent,
                       const std::string& name) override;
  // Tells nothing: no change the listener hears of.
  Status SetFolderAttributes(const FolderHandle& folder,
                             const FolderHandle::Attributes& like) override;
  Status CopyFileAt(const FolderHandle& from_dir, const std::string& from_name,
                    const FolderHandle& to_dir, const std::string& to_name,
                    Overwrite overwrite) override;
  Status MoveFileAt(const FolderHandle& from_dir, const std::string& from_name,
                    const FolderHandle& to_dir,
                    const std::string& to_name) override;
  Status CopySymlinkAt(const FolderHandle& from_dir,
                       const std::string& from_name, const FolderHandle& to_dir,
                       const std::string& to_name) override;

  // Returns |inner|'s batch, wrapped: its Finish tells each copy that
  // succeeded, in the order added, and returns the results unchanged.
  std::unique_ptr<CopyBatch> StartCopyBatch() override;

 private:
  // Tells |change| when |status| is ok. Returns |status|.
  Status Tell(Status status, DiskChange change, const std::string& path,
              const std::string& to = std::string());

  DiskInterface* inner_;
  DiskChangeListener* listener_;
};

}  // namespace dravelkent
