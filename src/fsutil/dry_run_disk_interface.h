#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "base/status.h"
#include "fsutil/disk_interface.h"

namespace dravelkent {

// The disk of a dry run: changes nothing on the disk it reads, yet answers
// as if the changes it was asked for had been made, so that a run goes as
// the real one would. Reads go to the real disk through an overlay of the
// pretended changes: a file or link copied or moved in (with its source's
// kind and mtime, so that a later newer-test compares right), a name
// removed or moved away (missing), a folder made (empty but for what was
// pretended in it; opened as a handle without a descriptor, which never
// reaches the real disk).
//
// A change fails as the real one would, with its error number and message,
// where the failure can be known beforehand: a missing source, a name taken
// (a move's destination, a copy's that its overwrite rule refuses, a folder
// made), a missing folder or a real one the process may not write into and
// search, a source of a kind the operation refuses. A failed change changes
// nothing. What only doing it would tell (a full disk, an I/O error, a
// source changed meanwhile) is not foreseen.
//
// Paths are told apart as text, "a//b/" being "a/b": a change is not seen
// through another path that leads to the same place. A folder moved whole
// shows empty at its new name; a link it pretended to make is followed to
// where its source led.
class DryRunDiskInterface : public DiskInterface {
 public:
  // Reads |real|, not owned, which must outlive it.
  explicit DryRunDiskInterface(DiskInterface* real) : real_(real) {}

  // The reads: each returns what |real| returns for what the overlay does
  // not cover, else the overlay's answer, or the failure the real read
  // would give for it (ENOENT for a name missing, ENOTDIR for no folder).
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

  // The changes: each returns ok having noted the change in the overlay,
  // or the real operation's failure, noting nothing.
  Status CopyFile(const std::string& from, const std::string& to) override;
  Status MoveFile(const std::string& from, const std::string& to) override;
  Status RemoveFile(const std::string& path) override;
  Status MakeDir(const std::string& path) override;
  Status MakeSubFolder(const FolderHandle& parent,
                       const std::string& name) override;
  Status CopyFileAt(const FolderHandle& from_dir, const std::string& from_name,
                    const FolderHandle& to_dir, const std::string& to_name,
                    Overwrite overwrite) override;
  Status MoveFileAt(const FolderHandle& from_dir, const std::string& from_name,
                    const FolderHandle& to_dir,
                    const std::string& to_name) override;
  Status CopySymlinkAt(const FolderHandle& from_dir,
                       const std::string& from_name, const FolderHandle& to_dir,
                       const std::string& to_name) override;
  // Does nothing. Returns ok.
  Status SetFolderAttributes(const FolderHandle& folder,
                             const FolderHandle::Attributes& like) override;
  // StartCopyBatch stays the default: each copy pretended by CopyFileAt as
  // it is added.

 private:
  // What the overlay holds for one path.
  struct Pretended {
    FileInfo info;       // kind kMissing: removed or moved away
    std::string origin;  // the real path of its data; empty for a folder made
  };

  // One name as the run sees it.
  struct View {
    FileInfo info;
    std::string origin;  // as Pretended::origin, or the path itself
    bool real = false;   // answered by the real disk, which may be asked more
  };

  // Returns the overlay's key for |path|: no empty or "." names, no
  // trailing "/"; "/" for the root, "." for the current folder.
  static std::string Key(const std::string& path);

  // Returns the path |name| names: itself (|folder| null) or a name in
  // |*folder|.
  static std::string Full(const FolderHandle* folder, const std::string& name);

  // Returns the errno of the failure |status|, 0 when it is ok.
  static int ErrorOf(const Status& status);

  // Returns 0 when the effective ids may reach the real |path| (|folder|
  // null) or the name |path| in |*folder| with |mode| (faccessat), else
  // errno.
  static int Access(const FolderHandle* folder, const std::string& path,
                    int mode);

  // Returns what the overlay says of the path |key| (see Key()): its own
  // entry, one that is missing when the path lies below a name the overlay
  // holds, or nullptr when the real disk answers.
  const Pretended* Find(const std::string& key) const;

  // Fills |*view| for |path| (|folder| null) or for the name |path| in
  // |*folder|. Returns ok, or the real disk's failure to examine it.
  Status See(const FolderHandle* folder, const std::string& path,
             FollowLinks follow, View* view);

  // Returns 0 when the folder holding |path| (|folder| null) or |*folder|
  // lets entries be made and removed in it, as the real operation would
  // find it, with |mode| for faccessat (a folder pretended allows all):
  // else ENOENT, ENOTDIR, or the errno of the real folder's examination or
  // of faccessat. |*device| becomes the folder's device (0: not known).
  int FolderAllows(const FolderHandle* folder, const std::string& path,
                   int mode, uint64_t* device);

  // Notes a copy of |source| as |to| (|to_dir| null) or as the name |to| in
  // |*to_dir|, checking the destination as the copy |what| (its folder
  // with |folder_mode|, what stands there against |overwrite|). Returns ok,
  // or the failure |what| "|paths|: reason".
  Status PretendCopy(const View& source, const FolderHandle* to_dir,
                     const std::string& to, Overwrite overwrite,
                     int folder_mode, const char* what,
                     const std::string& paths);

  // Notes the move of |from| to |to|, each a path (|*_dir| null) or a name
  // in its folder. Returns ok, or the failure of MoveFile.
  Status PretendMove(const FolderHandle* from_dir, const std::string& from,
                     const FolderHandle* to_dir, const std::string& to);

  // Notes the folder |path| (|parent| null) or |path| in |*parent| made.
  // Returns ok, or the failure of MakeDir.
  Status PretendFolder(const FolderHandle* parent, const std::string& path);

  // Returns the handle of the folder |p| says |path| is (|path| ending in
  // "/"), or nullptr with |*status| set; a link fails with |link_error|.
  std::unique_ptr<FolderHandle> OpenPretended(const Pretended& p,
                                              const std::string& path,
                                              int link_error, Status* status);

  // Returns a listing of the folder |key| from |real| (nullptr for a
  // folder pretended), without the names the overlay holds there and with
  // those it holds that are not missing.
  std::unique_ptr<DirReader> Listing(std::unique_ptr<DirReader> real,
                                     const std::string& key,
                                     EntryTimes times) const;

  DiskInterface* real_;
  std::map<std::string, Pretended> overlay_;  // by Key()
  uint64_t folders_made_ = 0;  // the inode numbers of the folders made
  const Pretended gone_{};     // a name below a name the overlay holds
};

}  // namespace dravelkent
