#pragma once

// The file work of a run, on folders held open. A real run and a dry run go
// through the same calls and checks; a real run then makes each change, a
// dry run notes it in a record that its later reads go through.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "fsutil/copy.h"
#include "fsutil/env.h"

namespace dravelkent {

// Whether a run changes anything.
enum class RunKind { kReal, kDryRun };

class Disk {
 public:
  // Works on |env|, not owned.
  Disk(Env* env, RunKind kind) : env_(env), kind_(kind) {}

  Env* env() const { return env_; }
  RunKind kind() const { return kind_; }
  // Keeps the file |id| (the lock file) from being moved, copied or removed.
  void Protect(const FileId& id) { protected_.push_back(id); }
  // The same for the settings file, as it is now (a save may make it anew).
  void ProtectSettings(const FileId& id) { settings_ = id; }
  // Returns true when |entry| is a protected file.
  bool IsProtected(const FileInfo& entry) const;

  // --- Reads: as Env's, of the disk as the run has left it so far ---

  Status OpenStart(const std::string& path, std::unique_ptr<Folder>* start,
                   std::string* rest) {
    return env_->OpenStart(path, start, rest);
  }
  Status OpenPath(const std::string& path, std::unique_ptr<Folder>* folder) {
    return env_->OpenPath(path, folder);
  }
  Status OpenFolder(const Folder& parent, const std::string& name,
                    std::unique_ptr<Folder>* folder);
  Status OpenParent(const Folder& parent, std::unique_ptr<Folder>* folder);
  Status ReadLink(const Folder& folder, const std::string& name,
                  std::string* target);
  Status List(const Folder& folder,
              const std::function<void(const FileInfo&)>& each);
  Status Stat(const Folder& folder, const std::string& name, Follow follow,
              FileInfo* info);

  // --- Changes: each fails, changing nothing, where the checks foresee
  // its failure (a protected file, a name taken, no permission, a sticky
  // folder, a kind that cannot go where it is sent) ---

  // As Env's; a dry run hands back a folder it only pretends.
  Status MakeFolder(const Folder& parent, const std::string& name,
                    const FileInfo* like, std::unique_ptr<Folder>* made);
  Status FinishFolder(const Folder& folder, const FileInfo& like);
  // Removes the file or link |entry|: ok or "cannot remove PATH: reason".
  Status Remove(const Folder& folder, const FileInfo& entry);
  // Moves |entry| of |from| to |to_name| in |to|, never replacing anything,
  // across file systems by copying (a file or link only). Returns ok or
  // "cannot move FROM to TO: reason".
  Status Move(const Folder& from, const FileInfo& entry, const Folder& to,
              const std::string& to_name);
  // Copies the file |entry| of |from| (a link followed when |follow| is
  // kYes, |entry| describing its file) to |to_name| in |to|, where |there|
  // was found, as |overwrite| allows. Returns ok or "cannot copy ...".
  Status Copy(const Folder& from, const FileInfo& entry, Follow follow,
              const Folder& to, const std::string& to_name,
              const FileInfo& there, Overwrite overwrite);
  // Copies sharing one flush, as CopyBatch; each is checked as Copy checks
  // it. A dry run settles each as it is added.
  class Batch {
   public:
    explicit Batch(Disk* disk) : disk_(disk), copies_(disk->env_) {}
    bool full() const { return copies_.full(); }
    void Add(const Folder& from, const FileInfo& entry,
             std::shared_ptr<const Folder> to, const std::string& to_name,
             const FileInfo& there, Overwrite overwrite);
    std::vector<Status> Finish();

   private:
    Disk* disk_;
    CopyBatch copies_;
    std::vector<Status> results_;
    std::vector<bool> waiting_;  // whether result i comes from |copies_|
  };

 private:
  // What a name of a folder holds after the changes a dry run pretended.
  using Names = std::map<std::string, FileInfo>;
  // Returns what the record holds for |name| in |folder|, or null.
  const FileInfo* Recorded(const Folder& folder, const std::string& name) const;
  // Notes |info| (kind kMissing: gone) under |name| in |folder|.
  void Record(const Folder& folder, const std::string& name, FileInfo info);
  // Notes the copy of |entry| of |from| as |to_name| in |to|.
  Status RecordCopy(const Folder& from, const FileInfo& entry, const Folder& to,
                    const std::string& to_name);
  // Each returns ok when names may be added to |folder|, when |entry| may
  // leave |folder| as |leave| says, when the copy Copy describes may be made.
  Status CheckAdd(const Folder& folder);
  Status CheckTake(const Folder& folder, const FileInfo& entry, Leave leave);
  Status CheckCopy(const Folder& from, const FileInfo& entry, Follow follow,
                   const Folder& to, const FileInfo& there,
                   Overwrite overwrite);

  Env* env_;
  RunKind kind_;
  std::vector<FileId> protected_;
  std::optional<FileId> settings_;
  std::map<FileId, Status> may_change_;  // MayChangeNames, once per folder
  std::map<FileId, Names> record_;       // a dry run's, by folder
  uint64_t pretended_ = 0;               // folders a dry run made
};

}  // namespace dravelkent
