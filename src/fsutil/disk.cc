#include "fsutil/disk.h"

#include <algorithm>
#include <cerrno>
#include <limits>

namespace dravelkent {
namespace {

bool Pretended(const Folder& folder) { return folder.native() == nullptr; }

std::string Paths(const Folder& from, const std::string& name, const Folder& to,
                  const std::string& to_name) {
  return from.path() + name + " to " + to.path() + to_name;
}

}  // namespace

bool Disk::IsProtected(const FileInfo& entry) const {
  return entry.kind == FileKind::kFile &&
         (entry.id == settings_ ||
          std::find(protected_.begin(), protected_.end(), entry.id) !=
              protected_.end());
}

const FileInfo* Disk::Recorded(const Folder& folder,
                               const std::string& name) const {
  auto names = record_.find(folder.id());
  if (names == record_.end()) return nullptr;
  auto found = names->second.find(name);
  return found == names->second.end() ? nullptr : &found->second;
}

void Disk::Record(const Folder& folder, const std::string& name,
                  FileInfo info) {
  info.name = name;
  record_[folder.id()][name] = std::move(info);
}

Status Disk::OpenFolder(const Folder& parent, const std::string& name,
                        std::unique_ptr<Folder>* folder) {
  const std::string path = parent.path() + name + kPathSeparator;
  if (const FileInfo* recorded = Recorded(parent, name)) {
    if (recorded->kind != FileKind::kFolder) {
      return Status::FromErrno("cannot open folder", path,
                               recorded->kind == FileKind::kMissing ? ENOENT
                               : recorded->kind == FileKind::kLink  ? ELOOP
                                                                    : ENOTDIR);
    }
    *folder = std::make_unique<Folder>(path, *recorded, nullptr);
    return Status::Ok();
  }
  if (Pretended(parent)) {
    return Status::FromErrno("cannot open folder", path, ENOENT);
  }
  return env_->OpenFolder(parent, name, folder)
      .Reworded("cannot open folder", path);
}

Status Disk::OpenParent(const Folder& parent, std::unique_ptr<Folder>* folder) {
  if (Pretended(parent)) {
    return Status::FromErrno("cannot open folder",
                             parent.path() + ".." + kPathSeparator, EINVAL);
  }
  return env_->OpenFolder(parent, "..", folder);
}

Status Disk::ReadLink(const Folder& folder, const std::string& name,
                      std::string* target) {
  if (Pretended(folder) || Recorded(folder, name) != nullptr) {
    return Status::FromErrno("cannot read link", folder.path() + name, EINVAL);
  }
  return env_->ReadLink(folder, name, target);
}

Status Disk::List(const Folder& folder,
                  const std::function<void(const FileInfo&)>& each) {
  auto names = record_.find(folder.id());
  const Names* recorded = names == record_.end() ? nullptr : &names->second;
  Status listed;
  if (!Pretended(folder)) {
    listed = env_->List(folder, [&](const FileInfo& entry) {
      if (recorded == nullptr || recorded->count(entry.name) == 0) each(entry);
    });
  }
  for (const auto& [name, info] : recorded ? *recorded : Names()) {
    if (info.kind != FileKind::kMissing) each(info);
  }
  return listed;
}

Status Disk::Stat(const Folder& folder, const std::string& name, Follow follow,
                  FileInfo* info) {
  if (const FileInfo* recorded = Recorded(folder, name)) {
    *info = *recorded;
    return Status::Ok();
  }
  if (Pretended(folder)) {
    *info = FileInfo();
    info->name = name;
    return Status::Ok();
  }
  return env_->Stat(folder, name, follow, info);
}

Status Disk::CheckAdd(const Folder& folder) {
  if (Pretended(folder)) return Status::Ok();  // the run's own
  auto known = may_change_.find(folder.id());
  if (known == may_change_.end()) {
    known =
        may_change_.emplace(folder.id(), env_->MayChangeNames(folder)).first;
  }
  return known->second;
}

Status Disk::CheckTake(const Folder& folder, const FileInfo& entry,
                       Leave leave) {
  if (IsProtected(entry)) {
    return Status::Error(folder.path() + entry.name +
                         " is the settings file or the lock file of this "
                         "run; it stays where it is");
  }
  Status status = CheckAdd(folder);
  if (status.ok() && !Pretended(folder) &&
      Recorded(folder, entry.name) == nullptr) {
    status = env_->MayRemove(folder, entry, leave);
  }
  return status;
}

Status Disk::MakeFolder(const Folder& parent, const std::string& name,
                        const FileInfo* like, std::unique_ptr<Folder>* made) {
  const std::string path = parent.path() + name;
  Status status = CheckAdd(parent);
  if (!status.ok()) return status.Reworded("cannot create folder", path);
  if (kind_ == RunKind::kReal) {
    return env_->MakeFolder(parent, name, like, made)
        .Reworded("cannot create folder", path);
  }
  FileInfo there;
  status = Stat(parent, name, Follow::kNo, &there);
  if (status.ok() && there.kind != FileKind::kMissing) {
    status = Status::FromErrno("cannot create folder", path, EEXIST);
  }
  if (!status.ok()) return status;
  // A folder only pretended: its own id on its parent's file system.
  FileInfo info;
  info.kind = FileKind::kFolder;
  info.complete = true;
  info.id = {parent.id().device,
             std::numeric_limits<uint64_t>::max() - pretended_++};
  if (like != nullptr) info.mode = like->mode;
  Record(parent, name, info);
  *made = std::make_unique<Folder>(path + kPathSeparator, info, nullptr);
  return Status::Ok();
}

Status Disk::FinishFolder(const Folder& folder, const FileInfo& like) {
  if (kind_ == RunKind::kDryRun) return Status::Ok();
  return env_->FinishFolder(folder, like);
}

Status Disk::Remove(const Folder& folder, const FileInfo& entry) {
  Status status = CheckTake(folder, entry, Leave::kRemoved);
  if (!status.ok()) {
    return status.Reworded("cannot remove", folder.path() + entry.name);
  }
  if (kind_ == RunKind::kReal) {
    return env_->Remove(folder, entry.name)
        .Reworded("cannot remove", folder.path() + entry.name);
  }
  Record(folder, entry.name, FileInfo());
  return Status::Ok();
}

Status Disk::Move(const Folder& from, const FileInfo& entry, const Folder& to,
                  const std::string& to_name) {
  const std::string paths = Paths(from, entry.name, to, to_name);
  const bool across = from.id().device != to.id().device;
  Status status =
      CheckTake(from, entry, across ? Leave::kRemoved : Leave::kRenamed);
  if (status.ok()) status = CheckAdd(to);
  // Across file systems the data is copied: only a file or a link, read.
  if (status.ok() && across) {
    if (entry.kind != FileKind::kFile && entry.kind != FileKind::kLink) {
      status =
          Status::Error("only a file or a link moves to another file system");
    } else if (entry.kind == FileKind::kFile && !Pretended(from) &&
               Recorded(from, entry.name) == nullptr) {
      status = env_->MayRead(from, entry.name);
    }
  }
  if (!status.ok()) return status.Reworded("cannot move", paths);
  if (kind_ == RunKind::kReal) {
    status = env_->Rename(from, entry.name, to, to_name);
    if (status.error_number() == EXDEV) {
      return MoveByCopy(env_, from, entry, to, to_name);
    }
    return status.Reworded("cannot move", paths);
  }
  FileInfo moved = entry;
  FileInfo there;
  status = Stat(to, to_name, Follow::kNo, &there);
  if (status.ok() && there.kind != FileKind::kMissing) {
    status = Status::FromErrno("cannot move", paths, EEXIST);
  }
  if (status.ok() && !moved.complete) {
    status = Stat(from, entry.name, Follow::kNo, &moved);
  }
  if (!status.ok()) return status.Reworded("cannot move", paths);
  Record(from, entry.name, FileInfo());
  Record(to, to_name, moved);
  return Status::Ok();
}

Status Disk::CheckCopy(const Folder& from, const FileInfo& entry, Follow follow,
                       const Folder& to, const FileInfo& there,
                       Overwrite overwrite) {
  if (IsProtected(entry)) {
    return Status::Error(from.path() + entry.name +
                         " is the settings file or the lock file of this "
                         "run; it is not copied");
  }
  if (entry.kind == FileKind::kMissing)
    return Status::FromErrno("", "", ENOENT);
  if (entry.kind != FileKind::kFile &&
      !(entry.kind == FileKind::kLink && follow == Follow::kNo)) {
    return Status::Failure("", "", "not a regular file", EINVAL);
  }
  Status status;
  if (entry.kind == FileKind::kFile && !Pretended(from) &&
      Recorded(from, entry.name) == nullptr) {
    status = env_->MayRead(from, entry.name);
  }
  if (status.ok()) status = CheckAdd(to);
  if (!status.ok() || there.kind == FileKind::kMissing) return status;
  if (there.kind == FileKind::kFolder) {
    return Status::Failure("", "", "a folder of that name is in the way",
                           EISDIR);
  }
  if (overwrite == Overwrite::kNothing || (overwrite == Overwrite::kOlderFile &&
                                           there.mtime_ns >= entry.mtime_ns)) {
    return Status::FromErrno("", "", EEXIST);
  }
  return Status::Ok();
}

Status Disk::Copy(const Folder& from, const FileInfo& entry, Follow follow,
                  const Folder& to, const std::string& to_name,
                  const FileInfo& there, Overwrite overwrite) {
  Status status = CheckCopy(from, entry, follow, to, there, overwrite);
  if (!status.ok()) {
    return status.Reworded("cannot copy", Paths(from, entry.name, to, to_name));
  }
  if (kind_ == RunKind::kReal) {
    return CopyOneFile(env_, from, entry, follow, to, to_name, overwrite);
  }
  return RecordCopy(from, entry, to, to_name);
}

Status Disk::RecordCopy(const Folder& from, const FileInfo& entry,
                        const Folder& to, const std::string& to_name) {
  // A later newer test compares the copy's time: it needs the source's.
  FileInfo copy = entry;
  if (!copy.complete) {
    Status status = Stat(from, entry.name, Follow::kNo, &copy);
    if (!status.ok()) return status;
  }
  Record(to, to_name, copy);
  return Status::Ok();
}

void Disk::Batch::Add(const Folder& from, const FileInfo& entry,
                      std::shared_ptr<const Folder> to,
                      const std::string& to_name, const FileInfo& there,
                      Overwrite overwrite) {
  Status status =
      disk_->CheckCopy(from, entry, Follow::kNo, *to, there, overwrite);
  const bool real = status.ok() && disk_->kind_ == RunKind::kReal;
  if (!status.ok()) {
    status =
        status.Reworded("cannot copy", Paths(from, entry.name, *to, to_name));
  } else if (real) {
    copies_.Add(from, entry, Follow::kNo, std::move(to), to_name, overwrite,
                Owner::kMine);
  } else {
    status = disk_->RecordCopy(from, entry, *to, to_name);
  }
  results_.push_back(status);
  waiting_.push_back(real);
}

std::vector<Status> Disk::Batch::Finish() {
  std::vector<Status> copied = copies_.Finish();
  size_t next = 0;
  for (size_t i = 0; i < results_.size(); ++i) {
    if (waiting_[i]) results_[i] = copied[next++];
  }
  std::vector<Status> results = std::move(results_);
  results_.clear();
  waiting_.clear();
  return results;
}

}  // namespace dravelkent
