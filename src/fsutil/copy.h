#pragma once

// Copies through a temporary file, the one way the program writes a file:
// a final name never holds a file partly written or not yet on the disk, and
// a failed copy leaves whatever stood under that name as it was.

#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "fsutil/env.h"

namespace dravelkent {

// What a copy may put its file in place of, judged again at the moment it
// takes its name (EEXIST when it may not; a folder is never replaced).
enum class Overwrite {
  kFile,       // a file or link of that name, whatever its time
  kOlderFile,  // nothing, or a file or link older than the source
  kNothing,    // nothing: the name must still be free
};

// Copies whose flushes are shared: each Add writes one file's data and
// attributes into its temporary file; Finish makes all of them durable at
// once (a file system flushed once) and only then gives each its name.
class CopyBatch {
 public:
  explicit CopyBatch(Env* env);
  ~CopyBatch();
  CopyBatch(const CopyBatch&) = delete;
  CopyBatch& operator=(const CopyBatch&) = delete;
  // Returns true when Finish should come before the next Add.
  bool full() const { return waiting_.size() >= env_->FilesAtOnce(); }
  // Starts the copy of the file or link |entry| of |from| (a link recreated
  // as a link unless |follow| is kYes) to |to_name| in |to|, held open until
  // Finish, which gives its result. |owner| as SetAttributes takes it.
  void Add(const Folder& from, const FileInfo& entry, Follow follow,
           std::shared_ptr<const Folder> to, const std::string& to_name,
           Overwrite overwrite, Owner owner);
  // Completes the copies added since the last Finish; their results in order.
  std::vector<Status> Finish();

 private:
  struct Copy;

  Status Place(Copy& copy);

  Env* env_;
  std::vector<std::unique_ptr<Copy>> waiting_;
};

// Copies the file |entry| of |from| to |to_name| in |to|, a batch of one.
Status CopyOneFile(Env* env, const Folder& from, const FileInfo& entry,
                   Follow follow, const Folder& to, const std::string& to_name,
                   Overwrite overwrite);

// Moves the file or link |entry| of |from| to |to_name| in |to| on another
// file system: copies it with its owner under its name (never replacing),
// and removes the source once the copy is durable and the source unchanged;
// any failure takes the new name away again. Returns ok, or "cannot move
// FROM to TO: reason".
Status MoveByCopy(Env* env, const Folder& from, const FileInfo& entry,
                  const Folder& to, const std::string& to_name);

}  // namespace dravelkent
