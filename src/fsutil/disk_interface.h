#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/status.h"
#include "fsutil/posix_file_util.h"

namespace dravelkent {

// What a path names, judged by the entry itself or by what it leads to.
enum class FileKind { kMissing, kFile, kDirectory, kSymlink, kOther };

// Whether a stat looks through a symbolic link to what it names.
enum class FollowLinks { kNo, kYes };

struct FileInfo {
  FileKind kind = FileKind::kMissing;
  int64_t mtime_ns = 0;  // last-write time, nanoseconds since the epoch
  uint64_t device = 0;   // with |inode|, tells whether two paths meet
  uint64_t inode = 0;
};

// One entry of a folder listing. "." and ".." are listed like any entry.
// The kind comes from the listing itself where the file system tells it, so
// a listing costs no call per file; folders are examined for their identity.
struct DirEntry {
  std::string name;     // the entry's bytes as the file system holds them
  bool is_dir = false;  // a real folder; a link to a folder is not one
  bool is_symlink = false;
  uint64_t device = 0;  // a folder's own identity (lstat); 0 when unknown
  uint64_t inode = 0;   // and for any other entry the listing's inode
                        // number (0 when unknown)
  // The entry's own last-write time (lstat), from ListFolder with times only;
  // |has_time| is false where it was not asked for or could not be had.
  bool has_time = false;
  int64_t mtime_ns = 0;
};

// Whether a listing gives each entry that is no folder its own last-write
// time as well.
enum class EntryTimes { kNo, kYes };

// What a copy may put its file in place of, judged again at the moment it
// takes its final name.
enum class Overwrite {
  kAnything,   // whatever stands there
  kOlderOnly,  // nothing, or a file whose mtime is earlier than the source's
  kNothing,    // nothing: the name must still be free
};

// A folder held open. The operations that take one work on the names in it
// from the folder itself, so that a folder on its path renamed or swapped
// for a link after it was opened is never followed.
class FolderHandle {
 public:
  // What the folder was when it was opened.
  struct Attributes {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint32_t mode = 0;  // permission bits, set-id and sticky bits included
    uint32_t uid = 0;
    uint32_t gid = 0;
    int64_t mtime_ns = 0;
  };

  // Takes |fd| (closed when the handle goes; -1 for none), the folder's
  // |path| ending in "/" and its |attributes|.
  FolderHandle(std::string path, int fd, const Attributes& attributes)
      : path_(std::move(path)), fd_(fd), attributes_(attributes) {}

  // The path it was opened by, for messages; it may name something else
  // by now.
  const std::string& path() const { return path_; }
  int fd() const { return fd_.get(); }
  const Attributes& attributes() const { return attributes_; }

 private:
  std::string path_;
  UniqueFd fd_;
  Attributes attributes_;
};

// Streams the entries of one folder, in the file system's order.
class DirReader {
 public:
  virtual ~DirReader() = default;

  // Fills |*entry| with the next entry and returns true; returns false at
  // the end of the folder or when listing fails (see status()).
  virtual bool Next(DirEntry* entry) = 0;

  // Returns ok, or the error that ended the listing early.
  virtual Status status() const = 0;
};

// Copies of files whose flushes to the disk are shared. Each AddAt writes one
// file's data into a temporary file beside its destination; Finish makes
// all of them durable at once and only then puts each under its final
// name. So, as with CopyFile, no final name ever holds data that is not
// yet on the disk, even after a power loss, for one flush per batch
// instead of one per file.
class CopyBatch {
 public:
  virtual ~CopyBatch() = default;

  // Returns true when Finish should come before the next AddAt.
  virtual bool full() const = 0;

  // Starts the copy of |from_name| in |from_dir| to |to_name| in |to_dir|,
  // with the meaning of CopyFileAt. Its result comes from Finish.
  virtual void AddAt(const FolderHandle& from_dir, const std::string& from_name,
                     const FolderHandle& to_dir, const std::string& to_name,
                     Overwrite overwrite) = 0;

  // Completes every copy added since the last Finish. Returns their
  // results (ok or the failure naming both paths), in the order added.
  virtual std::vector<Status> Finish() = 0;
};

// The file operations the job engine needs. RealDiskInterface does them on
// the real file system; tests wrap it to fail any call.
class DiskInterface {
 public:
  virtual ~DiskInterface() = default;

  // Opens |dir| for listing. Returns a reader, or nullptr with |*status|
  // set when the folder is missing or cannot be read.
  virtual std::unique_ptr<DirReader> OpenDir(const std::string& dir,
                                             Status* status) = 0;

  // Fills |*info| for |path|. A missing path is not an error: returns ok
  // with kind kMissing. Returns a failure for any other error.
  virtual Status Stat(const std::string& path, FollowLinks follow,
                      FileInfo* info) = 0;

  // Copies the file |from| (a link to a file is followed) to |to|,
  // replacing |to|, keeping the mtime to the nanosecond and the permission
  // bits. Goes through a temporary file in |to|'s folder, so a failure
  // leaves an existing |to| as it was and no temporary file. Returns ok, or
  // the failure naming both paths; a source that is not a regular file
  // fails.
  virtual Status CopyFile(const std::string& from, const std::string& to) = 0;

  // Moves the file or symbolic link |from| (never followed) to |to| without
  // ever replacing |to|, also across file systems, keeping mtime and mode.
  // Returns ok, or the failure naming both paths; fails and changes nothing
  // (error EEXIST) when |to| exists.
  virtual Status MoveFile(const std::string& from, const std::string& to) = 0;

  // Returns a batch for copies of files. The default one makes each copy
  // with CopyFile at once, as Add is called.
  virtual std::unique_ptr<CopyBatch> StartCopyBatch();

  // Removes one file (not a folder). Returns ok or the failure.
  virtual Status RemoveFile(const std::string& path) = 0;

  // Creates one folder. Returns ok, or a failure whose error_number() is
  // EEXIST when something of that name exists already.
  virtual Status MakeDir(const std::string& path) = 0;

  // The operations on open folders, for work on a tree that others may
  // change meanwhile. Each names its entries |folder|.path() + name in
  // messages.

  // Opens the folder |path|, following links as a path does. Returns the
  // open folder, or nullptr with |*status| set.
  virtual std::unique_ptr<FolderHandle> OpenFolder(const std::string& path,
                                                   Status* status) = 0;

  // Opens the folder |name| in |parent|, never following a link. Returns
  // the open folder, or nullptr with |*status| set; a link fails with ELOOP,
  // anything else that is no folder with ENOTDIR.
  virtual std::unique_ptr<FolderHandle> OpenSubFolder(
      const FolderHandle& parent, const std::string& name, Status* status) = 0;

  // Lists |folder| from the open folder, as OpenDir; with |times| kYes each
  // entry that is no folder carries its own last-write time as well.
  // Returns a reader, or nullptr with |*status| set.
  virtual std::unique_ptr<DirReader> ListFolder(const FolderHandle& folder,
                                                EntryTimes times,
                                                Status* status) = 0;

  // As Stat, for |name| in |folder|.
  virtual Status StatAt(const FolderHandle& folder, const std::string& name,
                        FollowLinks follow, FileInfo* info) = 0;

  // Creates the folder |name| in |parent|, private (mode 0700) until
  // SetFolderAttributes gives it its own. Returns ok, or a failure whose
  // error_number() is EEXIST when something of that name exists already.
  virtual Status MakeSubFolder(const FolderHandle& parent,
                               const std::string& name) = 0;

  // Gives |folder| the mode bits and last-write time of |like| (another
  // folder's attributes) and, when the process runs as root, its owner and
  // group. The set-group-id bit is left out when |folder|'s group then
  // differs from |like|'s. Returns ok, or the failure.
  virtual Status SetFolderAttributes(const FolderHandle& folder,
                                     const FolderHandle::Attributes& like) = 0;

  // As CopyFile, for |from_name| in |from_dir| (never followed: a link
  // fails) and |to_name| in |to_dir|. Unless |overwrite| allows what stands
  // under |to_name| when the copy takes that name, the copy leaves it and
  // fails with EEXIST, changing nothing.
  virtual Status CopyFileAt(const FolderHandle& from_dir,
                            const std::string& from_name,
                            const FolderHandle& to_dir,
                            const std::string& to_name,
                            Overwrite overwrite) = 0;

  // As MoveFile, for names in open folders.
  virtual Status MoveFileAt(const FolderHandle& from_dir,
                            const std::string& from_name,
                            const FolderHandle& to_dir,
                            const std::string& to_name) = 0;

  // Recreates the symbolic link |from_name| in |from_dir| (never followed)
  // as a link |to_name| in |to_dir| with the same target text and the
  // link's own mtime, replacing what is there through a temporary link.
  // Returns ok or the failure naming both paths; a failure leaves an
  // existing destination as it was.
  virtual Status CopySymlinkAt(const FolderHandle& from_dir,
                               const std::string& from_name,
                               const FolderHandle& to_dir,
                               const std::string& to_name) = 0;
};

}  // namespace dravelkent
