// The batched copies of RealDiskInterface: temporaries written one by one,
// one flush of the file system for all of them, then the final names.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include "fsutil/disk_operation.h"
#include "fsutil/real_disk_interface.h"

namespace dravelkent {

using disk_internal::ErrnoOf;
using disk_internal::MtimeNs;
using disk_internal::Owner;
using disk_internal::SetFileAttributes;

class RealDiskInterface::Batch : public CopyBatch {
 public:
  explicit Batch(const RealDiskInterface* disk)
      : disk_(disk), limit_(disk->options_.copy_batch_files) {
    // Each waiting copy holds its temporary file open, and its folder may
    // be another: leave room below the process's limit of open files.
    struct rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 &&
        files.rlim_cur != RLIM_INFINITY) {
      // The tree transfer holds two folders open for each level of depth.
      const size_t room =
          files.rlim_cur > 384 ? (files.rlim_cur - 192) / 2 : 16;
      if (room < limit_) limit_ = room;
    }
    if (limit_ == 0) limit_ = 1;
  }

  void AddAt(const FolderHandle& from_dir, const std::string& from_name,
             const FolderHandle& to_dir, const std::string& to_name,
             Overwrite overwrite) override;
  bool full() const override { return copies_.size() >= limit_; }
  std::vector<Status> Finish() override;

 private:
  // An open folder that copies write into, and its file system.
  struct Folder {
    UniqueFd fd;
    dev_t device = 0;
    ino_t inode = 0;
  };

  // One copy: its temporary file while it waits for the flush.
  struct Copy {
    Copy(const RealDiskInterface* disk, const std::string& from,
         const std::string& to)
        : op(disk, "cannot copy", from, to) {}

    Operation op;
    const Folder* folder = nullptr;
    std::string name;  // the final name in |folder|
    std::unique_ptr<TempEntry> temp;
    bool waiting = false;  // written, waiting for the flush
    Overwrite overwrite = Overwrite::kAnything;
    int64_t source_mtime_ns = 0;  // as the copy carries it
  };

  // Writes the temporary file of |copy|, whose final name is set, from
  // |source| (invalid: its open failed with |open_error|) into the folder
  // |to_dir|. Returns false when it failed (then set in copy->op).
  bool Write(Copy* copy, const UniqueFd& source, int open_error,
             const FolderHandle& to_dir);

  // Returns the folder |handle| holds open, taken once per batch; nullptr
  // with |*error| set when it cannot be taken.
  const Folder* FolderOf(const FolderHandle& handle, int* error);

  // Returns false, with the copy's failure EEXIST, when its overwrite rule
  // forbids what stands under its final name now; otherwise true, and
  // |*free| tells whether the name is free.
  bool MayPlace(Copy* copy, bool* free);

  // Flushes every file system the waiting copies were written to.
  // Returns 0 or errno.
  int FlushWaiting();

  // Gives the waiting |copy| its final name. Returns false when that
  // failed.
  bool Place(Copy* copy);

  const RealDiskInterface* disk_;
  size_t limit_;
  // Declared before the copies: their temporaries live in these folders.
  std::vector<std::unique_ptr<Folder>> folders_;
  // Copies never finished are given up with the batch, temporaries removed.
  std::vector<std::unique_ptr<Copy>> copies_;
};

std::unique_ptr<CopyBatch> RealDiskInterface::StartCopyBatch() {
  return std::make_unique<Batch>(this);
}

void RealDiskInterface::Batch::AddAt(const FolderHandle& from_dir,
                                     const std::string& from_name,
                                     const FolderHandle& to_dir,
                                     const std::string& to_name,
                                     Overwrite overwrite) {
  copies_.push_back(std::make_unique<Copy>(disk_, from_dir.path() + from_name,
                                           to_dir.path() + to_name));
  Copy* copy = copies_.back().get();
  copy->name = to_name;
  copy->overwrite = overwrite;
  UniqueFd source(openat(from_dir.fd(), from_name.c_str(),
                         O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  const int open_error = errno;
  if (Write(copy, source, open_error, to_dir)) {
    copy->waiting = true;
    // Start writing the data out now, so that the flush at the end of the
    // batch finds the disk's share of the work mostly done. A failure here
    // is of no account: the flush reports what did not reach the disk.
    (void)sync_file_range(copy->temp->fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
  } else {
    copy->temp.reset();  // Frees its descriptor now.
  }
}

bool RealDiskInterface::Batch::Write(Copy* copy, const UniqueFd& source,
                                     int open_error,
                                     const FolderHandle& to_dir) {
  Operation& op = copy->op;
  if (!source.valid()) {
    op.Fail(open_error);
    return false;
  }
  // The times are taken before the data, as CopyFile does.
  struct stat st;
  if (fstat(source.get(), &st) != 0) {
    op.Fail(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    op.FailKind("not a file");
    return false;
  }
  copy->source_mtime_ns = MtimeNs(st);
  if (copy->name.empty() || copy->name == "." || copy->name == "..") {
    op.Fail(EISDIR);
    return false;
  }
  int error = 0;
  copy->folder = FolderOf(to_dir, &error);
  if (copy->folder == nullptr) {
    op.Fail(error);
    return false;
  }

  copy->temp = std::make_unique<TempEntry>(copy->folder->fd.get());
  TempEntry* temp = copy->temp.get();
  const UnnamedTempFiles unnamed = disk_->options_.unnamed_temp_files;
  return op.Do(DiskStep::kCreateTemp, [&] {
    return temp->CreateFile(unnamed);
  }) && op.Do(DiskStep::kCopyData, [&] {
    return CopyFileData(source.get(), temp->fd());
  }) && op.Do(DiskStep::kSetAttributes, [&] {
    return SetFileAttributes(temp->fd(), st, Owner::kMine);
  });
}

const RealDiskInterface::Batch::Folder* RealDiskInterface::Batch::FolderOf(
    const FolderHandle& handle, int* error) {
  const FolderHandle::Attributes& id = handle.attributes();
  for (const auto& folder : folders_) {
    if (folder->device == id.device && folder->inode == id.inode) {
      return folder.get();
    }
  }
  // A descriptor of its own: the handle may be gone before the batch is.
  auto folder = std::make_unique<Folder>();
  folder->fd.Reset(fcntl(handle.fd(), F_DUPFD_CLOEXEC, 0));
  if (!folder->fd.valid()) {
    *error = errno;
    return nullptr;
  }
  folder->device = static_cast<dev_t>(id.device);
  folder->inode = static_cast<ino_t>(id.inode);
  folders_.push_back(std::move(folder));
  return folders_.back().get();
}

int RealDiskInterface::Batch::FlushWaiting() {
  Copy* only = nullptr;
  size_t waiting = 0;
  for (const auto& copy : copies_) {
    if (copy->waiting && waiting++ == 0) only = copy.get();
  }
  // One file is flushed alone, cheaper than its whole file system.
  if (waiting == 1) return ErrnoOf(fsync(only->temp->fd()));
  std::vector<dev_t> flushed;
  for (const auto& copy : copies_) {
    if (!copy->waiting) continue;
    const Folder& folder = *copy->folder;
    bool done = false;
    for (dev_t device : flushed) done = done || device == folder.device;
    if (done) continue;
    // syncfs writes the data and the inodes of every file of the file
    // system and reports a write-back failure on any of them since the
    // folder was opened, which was before any temporary was made.
    if (syncfs(folder.fd.get()) != 0) {
      if (errno != ENOSYS) return errno;
      // A system without syncfs: each temporary of this file system alone.
      for (const auto& other : copies_) {
        if (other->waiting && other->folder->device == folder.device &&
            fsync(other->temp->fd()) != 0) {
          return errno;
        }
      }
    }
    flushed.push_back(folder.device);
  }
  return 0;
}

bool RealDiskInterface::Batch::MayPlace(Copy* copy, bool* free) {
  *free = false;
  if (copy->overwrite == Overwrite::kAnything) return true;
  // What stands there now, not what stood there when the copy was judged.
  struct stat now;
  if (fstatat(copy->folder->fd.get(), copy->name.c_str(), &now,
              AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) {
      copy->op.Fail(errno);
      return false;
    }
    *free = true;
    return true;
  }
  if (copy->overwrite == Overwrite::kOlderOnly &&
      MtimeNs(now) < copy->source_mtime_ns) {
    return true;
  }
  copy->op.Fail(EEXIST);
  return false;
}

bool RealDiskInterface::Batch::Place(Copy* copy) {
  Operation& op = copy->op;
  TempEntry* temp = copy->temp.get();
  bool free = false;
  if (!MayPlace(copy, &free)) return false;
  if (free) {
    // Should the name be taken meanwhile, what took it stays.
    return op.Do(DiskStep::kPublish, [&] {
      return temp->Publish(copy->name, disk_->options_.no_replace_rename);
    });
  }
  if (!temp->unnamed()) {
    return op.Do(DiskStep::kReplaceDestination,
                 [&] { return temp->Replace(copy->name); });
  }
  // A new name is linked to the file at once; an existing one is replaced
  // through a temporary name, as rename cannot take an unnamed file.
  bool placed = false;
  if (!op.Do(DiskStep::kPublish, [&] {
        int error = temp->Publish(copy->name, NoReplaceRename::kWhereSupported);
        placed = error == 0;
        return error == EEXIST ? 0 : error;
      })) {
    return false;
  }
  return placed ||
         (op.Do(DiskStep::kNameTemp, [&] { return temp->GiveName(); }) &&
          op.Do(DiskStep::kReplaceDestination,
                [&] { return temp->Replace(copy->name); }));
}

std::vector<Status> RealDiskInterface::Batch::Finish() {
  Copy* first = nullptr;
  for (const auto& copy : copies_) {
    if (copy->waiting && first == nullptr) first = copy.get();
  }
  // One step for the flush of the whole batch, taken by its first copy.
  if (first != nullptr &&
      !first->op.Do(DiskStep::kFlushTemp, [&] { return FlushWaiting(); })) {
    const int error = first->op.status().error_number();
    for (const auto& copy : copies_) {
      if (!copy->waiting) continue;
      copy->op.Fail(error != 0 ? error : EIO);
      copy->waiting = false;
      copy->temp.reset();
    }
  }

  std::vector<Status> results;
  results.reserve(copies_.size());
  for (const auto& copy : copies_) {
    if (copy->waiting && Place(copy.get())) {
      results.push_back(Status::Ok());
    } else {
      results.push_back(copy->op.status());
    }
  }
  copies_.clear();
  folders_.clear();
  return results;
}

Status RealDiskInterface::CopyFileAt(const FolderHandle& from_dir,
                                     const std::string& from_name,
                                     const FolderHandle& to_dir,
                                     const std::string& to_name,
                                     Overwrite overwrite) {
  Batch batch(this);
  batch.AddAt(from_dir, from_name, to_dir, to_name, overwrite);
  return batch.Finish().front();
}

}  // namespace dravelkent
