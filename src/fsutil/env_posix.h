#pragma once

// The POSIX Env (Linux), for env_posix.cc, file_posix.cc and their tests.

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "fsutil/env.h"

namespace dravelkent {

// Ways to take the fallbacks on a system that would not need them.
struct PosixEnvOptions {
  bool unnamed_temp_files = true;  // O_TMPFILE where the file system has it
  bool no_replace_rename = true;   // renameat2 RENAME_NOREPLACE, else link
};

struct Folder::Native {
  int fd = -1;
};

struct OpenFile::Native {
  int fd = -1;
  int dir_fd = -1;        // the folder it is made in (not owned); -1: a source
  dev_t device = 0;       // the file system it is made on
  std::string temp_name;  // its temporary name; empty while unnamed
  std::string folder_path;  // of the folder it is made in
  std::string path;         // for messages
  bool published = false;
};

class PosixEnv : public Env {
 public:
  explicit PosixEnv(const PosixEnvOptions& options = {});

  CivilDate Today() override;
  bool MayFollowLink(const FileInfo& link) override;
  Status OpenStart(const std::string& path, std::unique_ptr<Folder>* start,
                   std::string* rest) override;
  Status OpenPath(const std::string& path,
                  std::unique_ptr<Folder>* folder) override;
  Status OpenFolder(const Folder& parent, const std::string& name,
                    std::unique_ptr<Folder>* folder) override;
  Status ReadLink(const Folder& folder, const std::string& name,
                  std::string* target) override;
  Status List(const Folder& folder,
              const std::function<void(const FileInfo&)>& each) override;
  Status Stat(const Folder& folder, const std::string& name, Follow follow,
              FileInfo* info) override;
  Status MakeFolder(const Folder& parent, const std::string& name,
                    const FileInfo* like,
                    std::unique_ptr<Folder>* made) override;
  Status FinishFolder(const Folder& folder, const FileInfo& like) override;
  Status MayChangeNames(const Folder& folder) override;
  Status MayRemove(const Folder& folder, const FileInfo& entry,
                   Leave leave) override;
  Status MayRead(const Folder& folder, const std::string& name) override;
  Status Remove(const Folder& folder, const std::string& name) override;
  Status Rename(const Folder& from, const std::string& from_name,
                const Folder& to, const std::string& to_name) override;
  Status OpenForCopy(const Folder& folder, const std::string& name,
                     Follow follow, std::unique_ptr<OpenFile>* file,
                     FileInfo* info) override;
  Status StatOpen(OpenFile& file, FileInfo* info) override;
  Status CreateTemp(const Folder& folder, const std::string* link_target,
                    std::unique_ptr<OpenFile>* temp) override;
  Status CopyData(OpenFile& from, const FileInfo& info, OpenFile& to) override;
  Status SetAttributes(OpenFile& to, const FileInfo& like,
                       Owner owner) override;
  size_t FilesAtOnce() override { return files_at_once_; }
  Status Flush(const std::vector<OpenFile*>& files) override;
  Status Publish(OpenFile& temp, const std::string& name,
                 Replace replace) override;
  Status FlushFolder(const Folder& folder) override;
  Status ReadWholeFile(const std::string& path, WholeFile* file) override;
  SaveWay ChooseSaveWay(const WholeFile& file) override;
  Status SaveWholeFile(const WholeFile& file, std::string_view bytes,
                       SaveWay way, SaveStep step) override;
  Status LockFile(const std::string& path, SaveStep step,
                  const std::function<void()>& on_wait,
                  std::unique_ptr<FileLock>* lock) override;

 private:
  // Each returns 0 or errno. Renames without replacing (renameat2, else
  // link and unlink); links the unnamed file |n| as |name| in its folder.
  int RenameNoReplace(int from_dir, const char* from, int to_dir,
                      const char* to) const;
  int LinkUnnamed(const OpenFile::Native& n, const std::string& name) const;
  // Makes a new FileTempName file |*name| in |dir_fd|, open for reading and
  // writing, with |mode|. Returns the descriptor, or -1 with errno set.
  static int CreateNamedTemp(int dir_fd, mode_t mode, std::string* name);
  // Returns true when the effective user may give a file the group |gid|.
  bool MayTakeGroup(gid_t gid) const;

  PosixEnvOptions options_;
  uid_t euid_;
  gid_t egid_;
  size_t files_at_once_;
};

// Fills |*info| from |st|, complete.
void InfoFromStat(const struct stat& st, FileInfo* info);

// Returns 0 when |rc| is 0, else errno.
inline int ErrnoOf(int rc) { return rc == 0 ? 0 : errno; }

// Writes all of |bytes| to |fd| at |offset|. Returns 0 or errno.
int WriteAll(int fd, std::string_view bytes, off_t offset);

// Returns |ns| nanoseconds since 1970 as a timespec.
struct timespec TimespecOf(int64_t ns);

}  // namespace dravelkent
