#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fsutil/status.h"

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
  std::string name;       // the entry's bytes as the file system holds them
  bool is_dir = false;    // a real folder; a link to a folder is not one
  bool is_symlink = false;
  uint64_t device = 0;    // a folder's own identity (lstat); 0 when unknown
  uint64_t inode = 0;     // and for any other entry the listing's inode
                          // number (0 when unknown)
  // The entry's own last-write time (lstat), from OpenDirWithTimes only;
  // |has_time| is false where it was not asked for or could not be had.
  bool has_time = false;
  int64_t mtime_ns = 0;
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

// Copies of files whose flushes to the disk are shared. Each Add writes one
// file's data into a temporary file beside its destination; Finish makes
// all of them durable at once and only then puts each under its final
// name. So, as with CopyFile, no final name ever holds data that is not
// yet on the disk, even after a power loss, for one flush per batch
// instead of one per file.
class CopyBatch {
 public:
  virtual ~CopyBatch() = default;

  // Starts the copy of |from| to |to|, with the meaning of CopyFile. Its
  // result comes from Finish.
  virtual void Add(const std::string& from, const std::string& to) = 0;

  // Returns true when Finish should come before the next Add.
  virtual bool full() const = 0;

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

  // As OpenDir, and each entry that is no folder carries its own
  // last-write time as well. The default examines each such entry with
  // Stat (not followed).
  virtual std::unique_ptr<DirReader> OpenDirWithTimes(const std::string& dir,
                                                      Status* status);

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

  // Recreates the symbolic link |from| as a link at |to| with the same
  // target text and the link's own mtime, replacing |to| through a
  // temporary link. Never follows |from|. Returns ok or the failure; a
  // failure leaves an existing |to| as it was. The default fails (ENOSYS).
  virtual Status CopySymlink(const std::string& from, const std::string& to);

  // Returns a batch for copies of files. The default one makes each copy
  // with CopyFile at once, as Add is called.
  virtual std::unique_ptr<CopyBatch> StartCopyBatch();

  // Removes one file (not a folder). Returns ok or the failure.
  virtual Status RemoveFile(const std::string& path) = 0;

  // Creates one folder. Returns ok, or a failure whose error_number() is
  // EEXIST when something of that name exists already.
  virtual Status MakeDir(const std::string& path) = 0;
};

}  // namespace dravelkent
