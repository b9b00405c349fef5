#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fsutil/disk_interface.h"
#include "fsutil/real_disk_interface.h"

namespace dravelkent::testing {

// The kinds of call a FaultyDiskInterface counts and can fail. kReadDir is
// one DirReader::Next() on any listing it opened. The operations on open
// folders count as their path-based kinds: OpenFolder and OpenSubFolder as
// kOpenDir, StatAt as kStat, MakeSubFolder and SetFolderAttributes as
// kMakeDir, CopyFileAt, MoveFileAt and CopySymlinkAt as kCopyFile, kMoveFile
// and kCopySymlink; their path is the folder's path and the name. A listing
// of an open folder counts no call of its own, only its reads.
enum class DiskCall {
  kOpenDir,
  kReadDir,
  kStat,
  kCopyFile,
  kMoveFile,
  kCopySymlink,
  kRemoveFile,
  kMakeDir,
};

// One call as it reached the interface; |to| only for copies and moves.
struct DiskCallRecord {
  DiskCall call;
  std::string path;
  std::string to;
};

// Forwards every call to another DiskInterface, records it, and fails the
// calls it was told to fail without forwarding them.
class FaultyDiskInterface : public DiskInterface {
 public:
  explicit FaultyDiskInterface(DiskInterface* target) : target_(target) {}

  // Makes the |n|th call of |call| from now on (counting from 1) fail with
  // |error_number|.
  void FailNthCall(DiskCall call, int n, int error_number = EIO);

  // Runs |action| once, just before the first call of |call| whose (first)
  // path is |path| goes ahead: the world changing under the run's feet.
  void BeforeCallOn(DiskCall call, const std::string& path,
                    std::function<void()> action);

  // Makes every call of |call| whose (first) path is |path| fail with
  // |error_number|.
  void FailPath(DiskCall call, const std::string& path,
                int error_number = EIO);

  // Returns how many calls of |call| were made.
  int count(DiskCall call) const;

  // Every call in order. kStat and kReadDir are not recorded, only counted.
  const std::vector<DiskCallRecord>& calls() const { return calls_; }

  // The calls that write (copy, move, remove, create), in order.
  std::vector<DiskCallRecord> writes() const;

  std::unique_ptr<DirReader> OpenDir(const std::string& dir,
                                     Status* status) override;
  Status Stat(const std::string& path, FollowLinks follow,
              FileInfo* info) override;
  Status CopyFile(const std::string& from, const std::string& to) override;
  Status MoveFile(const std::string& from, const std::string& to) override;
  Status CopySymlink(const std::string& from, const std::string& to) override;
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
  Status CopyFileAt(const FolderHandle& from_dir, const std::string& from_name,
                    const FolderHandle& to_dir, const std::string& to_name,
                    Overwrite overwrite) override;
  Status MoveFileAt(const FolderHandle& from_dir, const std::string& from_name,
                    const FolderHandle& to_dir,
                    const std::string& to_name) override;
  Status CopySymlinkAt(const FolderHandle& from_dir,
                       const std::string& from_name,
                       const FolderHandle& to_dir,
                       const std::string& to_name) override;

  // The most listings that were open at one time.
  int max_open_listings() const { return max_open_listings_; }

  // Counts one kReadDir and returns its failure, or ok. Used by the
  // readers this interface hands out, with ListingClosed when they go.
  Status CountRead(const std::string& dir);
  void ListingClosed() { --open_listings_; }

 private:
  // Counts a call of |call| on |path| and returns the failure planned for
  // it, or ok.
  Status Count(DiskCall call, const std::string& path);

  // Wraps the listing |reader| of |dir| (null: passed on as it is).
  std::unique_ptr<DirReader> Wrap(std::unique_ptr<DirReader> reader,
                                  const std::string& dir);

  DiskInterface* target_;
  std::map<DiskCall, int> counts_;
  std::map<DiskCall, std::map<int, int>> fail_at_;  // call -> n -> errno
  std::map<DiskCall, std::map<std::string, int>> fail_path_;
  std::map<DiskCall, std::map<std::string, std::function<void()>>> before_;
  std::vector<DiskCallRecord> calls_;
  int open_listings_ = 0;
  int max_open_listings_ = 0;
};

// A step hook that stops the operation (kCrash) before the step with index
// |steps| (counting from 0 over every operation it is consulted for), that
// is after |steps| steps have run. |*seen|, unless null, receives every step
// consulted.
StepHook CrashAfterSteps(int steps, std::vector<DiskStep>* seen);

// A step hook that fails (kFail) the step with index |step|.
StepHook FailStep(int step, std::vector<DiskStep>* seen);

}  // namespace dravelkent::testing
