#include "fsutil/dry_run_disk_interface.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <utility>
#include <vector>

#include "fsutil/posix_file_util.h"

namespace dravelkent {

std::string DryRunDiskInterface::Key(const std::string& path) {
  std::string key = !path.empty() && path[0] == '/' ? "/" : "";
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    const std::string part = path.substr(pos, slash - pos);
    if (!part.empty() && part != ".") {
      if (!key.empty() && key.back() != '/') key += '/';
      key += part;
    }
    pos = slash + 1;
  }
  return key.empty() ? "." : key;
}

std::string DryRunDiskInterface::Full(const FolderHandle* folder,
                                      const std::string& name) {
  return folder == nullptr ? name : folder->path() + name;
}

int DryRunDiskInterface::ErrorOf(const Status& status) {
  if (status.ok()) return 0;
  return status.error_number() != 0 ? status.error_number() : EIO;
}

int DryRunDiskInterface::Access(const FolderHandle* folder,
                                const std::string& path, int mode) {
  const int dir = folder == nullptr ? AT_FDCWD : folder->fd();
  return faccessat(dir, path.c_str(), mode, AT_EACCESS) == 0 ? 0 : errno;
}

namespace {

// Returns the key of the folder holding the entry |key|.
std::string ParentOf(const std::string& key) {
  std::string folder;
  std::string name;
  SplitPath(key, &folder, &name);
  return folder;
}

// A listing of a real folder (or none) with the overlay's names in it.
class OverlayReader : public DirReader {
 public:
  OverlayReader(std::unique_ptr<DirReader> real, std::set<std::string> hidden,
                std::vector<DirEntry> added)
      : real_(std::move(real)),
        hidden_(std::move(hidden)),
        added_(std::move(added)) {}

  bool Next(DirEntry* entry) override {
    while (real_ != nullptr && real_->Next(entry)) {
      if (!hidden_.contains(entry->name)) return true;
    }
    if (next_ == added_.size()) return false;
    *entry = added_[next_++];
    return true;
  }

  Status status() const override {
    return real_ != nullptr ? real_->status() : Status::Ok();
  }

 private:
  std::unique_ptr<DirReader> real_;
  std::set<std::string> hidden_;  // every name the overlay holds there
  std::vector<DirEntry> added_;
  size_t next_ = 0;
};

DirEntry EntryOf(const std::string& name, const FileInfo& info,
                 EntryTimes times) {
  DirEntry entry;
  entry.name = name;
  entry.is_dir = info.kind == FileKind::kDirectory;
  entry.is_symlink = info.kind == FileKind::kSymlink;
  if (entry.is_dir) entry.device = info.device;
  entry.inode = info.inode;
  if (!entry.is_dir && times == EntryTimes::kYes) {
    entry.has_time = true;
    entry.mtime_ns = info.mtime_ns;
  }
  return entry;
}

}  // namespace

const DryRunDiskInterface::Pretended* DryRunDiskInterface::Find(
    const std::string& key) const {
  // Below anything but a folder nothing is; below a folder pretended, only
  // what the overlay holds.
  bool in_pretended = false;
  for (std::string up = key; up != "/" && up != ".";) {
    up = ParentOf(up);
    auto it = overlay_.find(up);
    if (it == overlay_.end()) continue;
    if (it->second.info.kind != FileKind::kDirectory) return &gone_;
    in_pretended = true;
  }
  auto it = overlay_.find(key);
  if (it != overlay_.end()) return &it->second;
  return in_pretended ? &gone_ : nullptr;
}

Status DryRunDiskInterface::See(const FolderHandle* folder,
                                const std::string& path, FollowLinks follow,
                                View* view) {
  *view = View();
  view->origin = Full(folder, path);
  const Pretended* p = Find(Key(view->origin));
  if (p == nullptr) {
    if (folder != nullptr && folder->fd() < 0) return Status::Ok();
    view->real = true;
    return folder == nullptr
               ? real_->Stat(path, follow, &view->info)
               : real_->StatAt(*folder, path, follow, &view->info);
  }
  view->origin = p->origin;
  if (follow == FollowLinks::kYes && p->info.kind == FileKind::kSymlink) {
    return real_->Stat(p->origin, FollowLinks::kYes, &view->info);
  }
  view->info = p->info;
  return Status::Ok();
}

int DryRunDiskInterface::FolderAllows(const FolderHandle* folder,
                                      const std::string& path, int mode,
                                      uint64_t* device) {
  if (folder != nullptr) {
    *device = folder->attributes().device;
    return folder->fd() < 0 ? 0 : Access(folder, ".", mode);
  }
  *device = 0;
  const std::string dir = ParentOf(Key(path));
  const Pretended* p = Find(dir);
  FileInfo info;
  if (p != nullptr) {
    info = p->info;
  } else if (int error = ErrorOf(real_->Stat(dir, FollowLinks::kYes, &info));
             error != 0) {
    return error;
  }
  if (info.kind == FileKind::kMissing) return ENOENT;
  if (info.kind != FileKind::kDirectory) return ENOTDIR;
  *device = info.device;
  return p != nullptr ? 0 : Access(nullptr, dir, mode);
}

std::unique_ptr<DirReader> DryRunDiskInterface::Listing(
    std::unique_ptr<DirReader> real, const std::string& key,
    EntryTimes times) const {
  std::set<std::string> hidden;
  std::vector<DirEntry> added;
  if (real == nullptr) {  // A folder pretended lists itself and its parent.
    FileInfo folder;
    folder.kind = FileKind::kDirectory;
    added = {EntryOf(".", folder, times), EntryOf("..", folder, times)};
  }
  const std::string prefix = key == "." ? "" : key == "/" ? "/" : key + "/";
  for (auto it = overlay_.lower_bound(prefix);
       it != overlay_.end() && it->first.starts_with(prefix); ++it) {
    const std::string name = it->first.substr(prefix.size());
    if (name.empty() || name.find('/') != std::string::npos) continue;
    hidden.insert(name);
    if (it->second.info.kind != FileKind::kMissing) {
      added.push_back(EntryOf(name, it->second.info, times));
    }
  }
  return std::make_unique<OverlayReader>(std::move(real), std::move(hidden),
                                         std::move(added));
}

std::unique_ptr<FolderHandle> DryRunDiskInterface::OpenPretended(
    const Pretended& p, const std::string& path, int link_error,
    Status* status) {
  const FileKind kind = p.info.kind;
  if (kind != FileKind::kDirectory) {
    const int error = kind == FileKind::kMissing   ? ENOENT
                      : kind == FileKind::kSymlink ? link_error
                                                   : ENOTDIR;
    *status = Status::FromErrno("cannot open folder", path, error);
    return nullptr;
  }
  FolderHandle::Attributes attributes;
  attributes.device = p.info.device;
  attributes.inode = p.info.inode;
  attributes.mode = 0700;  // as a folder made is until given its own
  attributes.mtime_ns = p.info.mtime_ns;
  *status = Status::Ok();
  return std::make_unique<FolderHandle>(path, -1, attributes);
}

std::unique_ptr<DirReader> DryRunDiskInterface::OpenDir(const std::string& dir,
                                                        Status* status) {
  const std::string key = Key(dir);
  const Pretended* p = Find(key);
  if (p == nullptr) {
    std::unique_ptr<DirReader> real = real_->OpenDir(dir, status);
    return real != nullptr ? Listing(std::move(real), key, EntryTimes::kNo)
                           : nullptr;
  }
  if (p->info.kind != FileKind::kDirectory) {
    const bool missing = p->info.kind == FileKind::kMissing;
    *status = Status::FromErrno("cannot list", dir, missing ? ENOENT : ENOTDIR);
    return nullptr;
  }
  *status = Status::Ok();
  return Listing(nullptr, key, EntryTimes::kNo);
}

Status DryRunDiskInterface::Stat(const std::string& path, FollowLinks follow,
                                 FileInfo* info) {
  View view;
  Status status = See(nullptr, path, follow, &view);
  *info = view.info;
  return status;
}

std::unique_ptr<FolderHandle> DryRunDiskInterface::OpenFolder(
    const std::string& path, Status* status) {
  const Pretended* p = Find(Key(path));
  if (p == nullptr) return real_->OpenFolder(path, status);
  return OpenPretended(*p, WithTrailingSlash(path), ENOTDIR, status);
}

std::unique_ptr<FolderHandle> DryRunDiskInterface::OpenSubFolder(
    const FolderHandle& parent, const std::string& name, Status* status) {
  const std::string path = parent.path() + name + "/";
  if (name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string::npos) {
    *status = Status::FromErrno("cannot open folder", path, EINVAL);
    return nullptr;
  }
  const Pretended* p = Find(Key(path));
  if (p != nullptr) return OpenPretended(*p, path, ELOOP, status);
  if (parent.fd() >= 0) return real_->OpenSubFolder(parent, name, status);
  *status = Status::FromErrno("cannot open folder", path, ENOENT);
  return nullptr;
}

std::unique_ptr<DirReader> DryRunDiskInterface::ListFolder(
    const FolderHandle& folder, EntryTimes times, Status* status) {
  const std::string key = Key(folder.path());
  if (folder.fd() < 0) {
    *status = Status::Ok();
    return Listing(nullptr, key, times);
  }
  std::unique_ptr<DirReader> real = real_->ListFolder(folder, times, status);
  return real != nullptr ? Listing(std::move(real), key, times) : nullptr;
}

Status DryRunDiskInterface::StatAt(const FolderHandle& folder,
                                   const std::string& name, FollowLinks follow,
                                   FileInfo* info) {
  View view;
  Status status = See(&folder, name, follow, &view);
  *info = view.info;
  return status;
}

}  // namespace dravelkent
