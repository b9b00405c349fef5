#pragma once

#include <cstddef>
#include <functional>

#include "fsutil/disk_interface.h"
#include "fsutil/posix_file_util.h"

namespace dravelkent {

// The steps of a copy (CopyFile, CopySymlinkAt) and of a move across file
// systems, in the order they run. A copy takes kCreateTemp to
// kReplaceDestination (kNameTemp only for an unnamed file, kCopyData and
// kFlushTemp only for a file); a move across file systems takes
// kCreateTemp to kFlushTemp and then kPublish to kRemoveSource. Each runs
// through RealDiskInterface::RunStep.
enum class DiskStep {
  kCreateTemp,          // make the temporary file or link in the folder
  kCopyData,            // copy the data into it
  kSetAttributes,       // give it the source's mode and times
  kFlushTemp,           // fsync it
  kNameTemp,            // give an unnamed file its "." name
  kReplaceDestination,  // rename it over the destination
  kPublish,             // put it under the final name, never replacing
  kFlushFolder,         // fsync the destination folder
  kRemoveSource,        // remove the source
};

// Ways to take the fallback paths on a machine that would not need them.
struct RealDiskOptions {
  UnnamedTempFiles unnamed_temp_files = UnnamedTempFiles::kWhereSupported;
  NoReplaceRename no_replace_rename = NoReplaceRename::kWhereSupported;
  // kAlways copies even when a rename would do, as across file systems.
  enum class CrossDeviceMove { kWhenNeeded, kAlways };
  CrossDeviceMove cross_device_move = CrossDeviceMove::kWhenNeeded;
  // The most copies a batch holds before it asks to be finished; each
  // holds its temporary file open until then, so fewer when the limit of
  // open files is low.
  size_t copy_batch_files = 512;
};

// DiskInterface on the real POSIX file system.
class RealDiskInterface : public DiskInterface {
 public:
  RealDiskInterface() = default;
  explicit RealDiskInterface(const RealDiskOptions& options)
      : options_(options) {}

  std::unique_ptr<DirReader> OpenDir(const std::string& dir,
                                     Status* status) override;
  Status Stat(const std::string& path, FollowLinks follow,
              FileInfo* info) override;
  Status CopyFile(const std::string& from, const std::string& to) override;
  Status MoveFile(const std::string& from, const std::string& to) override;
  // Each file's data goes into an unnamed (or hidden) temporary file beside
  // its destination, unflushed. Finish flushes each file system written to
  // once (syncfs), and only then gives each temporary its final name: a new
  // name at once, an existing one replaced through a temporary name. A
  // failed flush fails every copy of the batch and removes its temporaries.
  // Steps: kCreateTemp, kCopyData, kSetAttributes for each file; kFlushTemp
  // once per Finish; then kPublish, or for an existing destination kPublish,
  // kNameTemp and kReplaceDestination (named temporaries: kReplaceDestination
  // alone) for each file.
  std::unique_ptr<CopyBatch> StartCopyBatch() override;
  Status RemoveFile(const std::string& path) override;
  Status MakeDir(const std::string& path) override;

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
  Status MakeSubFolder(const FolderHandle& parent,
                       const std::string& name) override;
  Status SetFolderAttributes(const FolderHandle& folder,
                             const FolderHandle::Attributes& like) override;
  // A batch of one copy: the steps of a batch, its one file flushed alone.
  Status CopyFileAt(const FolderHandle& from_dir, const std::string& from_name,
                    const FolderHandle& to_dir, const std::string& to_name,
                    Overwrite overwrite) override;
  // The steps of MoveFile.
  Status MoveFileAt(const FolderHandle& from_dir, const std::string& from_name,
                    const FolderHandle& to_dir,
                    const std::string& to_name) override;
  // The steps of a copy without kCopyData, kFlushTemp and kNameTemp.
  Status CopySymlinkAt(const FolderHandle& from_dir,
                       const std::string& from_name, const FolderHandle& to_dir,
                       const std::string& to_name) override;

 protected:
  // Runs |body|, the step |step| of a copy or a move across file systems.
  // Returns what |body| returns: 0 on success, else errno.
  virtual int RunStep(DiskStep /*step*/,
                      const std::function<int()>& body) const {
    return body();
  }

 private:
  class Operation;
  class Batch;

  // The move of |from| to |to| by copying, as across file systems.
  Status MoveAcross(const std::string& from, const std::string& to);

  // As MoveAcross, for names in open folders.
  Status MoveAcrossAt(const FolderHandle& from_dir,
                      const std::string& from_name, const FolderHandle& to_dir,
                      const std::string& to_name);

  RealDiskOptions options_;
};

}  // namespace dravelkent
