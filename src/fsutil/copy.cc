#include "fsutil/copy.h"

#include <cerrno>

namespace dravelkent {
namespace {

// Writes the file or link |entry| of |from| into a new temporary entry of
// |to|, with its data and attributes. Fills |*source| with the source as
// copied and keeps a file source open in |*input|.
Status WriteTemp(Env* env, const Folder& from, const FileInfo& entry,
                 Follow follow, const Folder& to, Owner owner,
                 std::unique_ptr<OpenFile>* input, FileInfo* source,
                 std::unique_ptr<OpenFile>* temp) {
  *source = entry;
  Status status;
  if (entry.kind == FileKind::kLink && follow == Follow::kNo) {
    std::string target;
    if (!entry.complete) status = env->Stat(from, entry.name, follow, source);
    if (status.ok()) status = env->ReadLink(from, entry.name, &target);
    if (status.ok()) status = env->CreateTemp(to, &target, temp);
  } else if (entry.kind == FileKind::kFile || entry.kind == FileKind::kLink) {
    status = env->OpenForCopy(from, entry.name, follow, input, source);
    if (status.ok() && entry.complete && entry.kind == FileKind::kFile &&
        source->id != entry.id) {
      status =
          Status::FromErrno("cannot copy", from.path() + entry.name, EAGAIN);
    }
    if (status.ok()) status = env->CreateTemp(to, nullptr, temp);
    if (status.ok()) status = env->CopyData(**input, *source, **temp);
  } else {
    return entry.kind == FileKind::kMissing
               ? Status::FromErrno("cannot copy", entry.name, ENOENT)
               : Status::Failure("cannot copy", entry.name,
                                 "not a regular file", EINVAL);
  }
  if (status.ok()) status = env->SetAttributes(**temp, *source, owner);
  return status;
}

}  // namespace

struct CopyBatch::Copy {
  std::string paths;  // "FROM to TO"
  std::shared_ptr<const Folder> to;
  std::string to_name;
  Overwrite overwrite = Overwrite::kNothing;
  FileInfo source;
  std::unique_ptr<OpenFile> temp;
  Status status;
};

CopyBatch::CopyBatch(Env* env) : env_(env) {}

CopyBatch::~CopyBatch() = default;

void CopyBatch::Add(const Folder& from, const FileInfo& entry, Follow follow,
                    std::shared_ptr<const Folder> to,
                    const std::string& to_name, Overwrite overwrite,
                    Owner owner) {
  auto copy = std::make_unique<Copy>();
  copy->paths = from.path() + entry.name + " to " + to->path() + to_name;
  copy->to = std::move(to);
  copy->to_name = to_name;
  copy->overwrite = overwrite;
  std::unique_ptr<OpenFile> input;
  copy->status = WriteTemp(env_, from, entry, follow, *copy->to, owner, &input,
                           &copy->source, &copy->temp);
  if (!copy->status.ok()) {
    copy->status = copy->status.Reworded("cannot copy", copy->paths);
    copy->temp.reset();
  }
  waiting_.push_back(std::move(copy));
}

Status CopyBatch::Place(Copy& copy) {
  Replace replace = Replace::kNo;
  if (copy.overwrite != Overwrite::kNothing) {
    // What stands there now, not what stood there when the copy was judged.
    FileInfo there;
    Status examined = env_->Stat(*copy.to, copy.to_name, Follow::kNo, &there);
    if (!examined.ok()) return examined;
    if (there.kind == FileKind::kFolder) {
      return Status::FromErrno("cannot copy", copy.paths, EISDIR);
    }
    if (there.kind != FileKind::kMissing) {
      if (copy.overwrite == Overwrite::kOlderFile &&
          there.mtime_ns >= copy.source.mtime_ns) {
        return Status::FromErrno("cannot copy", copy.paths, EEXIST);
      }
      replace = Replace::kYes;
    }
  }
  // Should the name be taken meanwhile, what took it stays.
  return env_->Publish(*copy.temp, copy.to_name, replace);
}

std::vector<Status> CopyBatch::Finish() {
  std::vector<OpenFile*> written;
  for (const auto& copy : waiting_) {
    if (copy->status.ok()) written.push_back(copy->temp.get());
  }
  Status flushed = written.empty() ? Status::Ok() : env_->Flush(written);
  std::vector<Status> results;
  for (const auto& copy : waiting_) {
    if (copy->status.ok()) {
      copy->status = flushed.ok() ? Place(*copy) : flushed;
      if (!copy->status.ok()) {
        copy->status = copy->status.Reworded("cannot copy", copy->paths);
      }
    }
    results.push_back(copy->status);
  }
  waiting_.clear();
  return results;
}

Status CopyOneFile(Env* env, const Folder& from, const FileInfo& entry,
                   Follow follow, const Folder& to, const std::string& to_name,
                   Overwrite overwrite) {
  CopyBatch batch(env);
  batch.Add(from, entry, follow,
            std::shared_ptr<const Folder>(std::shared_ptr<const Folder>(), &to),
            to_name, overwrite, Owner::kMine);
  return batch.Finish().front();
}

Status MoveByCopy(Env* env, const Folder& from, const FileInfo& entry,
                  const Folder& to, const std::string& to_name) {
  const std::string paths =
      from.path() + entry.name + " to " + to.path() + to_name;
  auto failed = [&](const Status& failure) {
    return failure.Reworded("cannot move", paths);
  };
  // Refused before the data is copied; the publish refuses as well.
  FileInfo there;
  Status status = env->Stat(to, to_name, Follow::kNo, &there);
  if (status.ok() && there.kind != FileKind::kMissing) {
    status = Status::FromErrno("cannot move", paths, EEXIST);
  }
  if (!status.ok()) return failed(status);
  std::unique_ptr<OpenFile> input;
  std::unique_ptr<OpenFile> temp;
  FileInfo copied;
  status = WriteTemp(env, from, entry, Follow::kNo, to, Owner::kKeep, &input,
                     &copied, &temp);
  if (status.ok() && entry.complete && copied.id != entry.id) {
    status = Status::FromErrno("cannot move", paths, EAGAIN);
  }
  if (status.ok()) status = env->Flush({temp.get()});
  if (status.ok()) status = env->Publish(*temp, to_name, Replace::kNo);
  if (!status.ok()) return failed(status);
  // The copy is whole under its name; a failure takes the name away again.
  status = env->FlushFolder(to);
  FileInfo now;
  bool same = true;
  if (status.ok()) status = env->Stat(from, entry.name, Follow::kNo, &now);
  if (status.ok()) same = now.id == copied.id;
  if (status.ok() && same && input != nullptr) {
    status = env->StatOpen(*input, &now);
    same = now.size == copied.size && now.mtime_ns == copied.mtime_ns;
  }
  if (status.ok() && !same) {
    status = Status::Error(
        "the source changed while it was copied and stays in place");
  }
  if (status.ok()) status = env->Remove(from, entry.name);
  if (status.ok()) return status;
  (void)env->Remove(to, to_name);
  return failed(status);
}

}  // namespace dravelkent
