#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// Small POSIX building blocks of RealDiskInterface. Every function that can
// fail returns 0 or the errno of the failure.

namespace dravelkent {

// Whether a temporary file may be made unnamed (O_TMPFILE), so that it
// vanishes by itself when the process dies before it is put in place.
enum class UnnamedTempFiles { kWhereSupported, kNever };

// Whether a move without replacing may use renameat2's RENAME_NOREPLACE, or
// always takes the link + unlink way.
enum class NoReplaceRename { kWhereSupported, kNever };

// Owns one file descriptor and closes it.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  // Closes the descriptor held so far and takes |fd|.
  void Reset(int fd = -1);

  // Gives the descriptor up to the caller, holding none. Returns it.
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// Splits |path| into its folder ("." when it names none, "/" for the root)
// and its last name (empty when |path| ends in "/").
void SplitPath(const std::string& path, std::string* folder, std::string* name);

// Returns |path| ending in "/" (an empty path stays empty).
std::string WithTrailingSlash(const std::string& path);

// Opens the folder that will hold |path| into |*dir| and gives |path|'s
// last name in |*name|. Returns 0, EISDIR when |path| names no entry of a
// folder ("/", ".", ".." or a trailing "/"), or the errno of the open.
int OpenParent(const std::string& path, UniqueFd* dir, std::string* name);

// Writes all of |bytes| to |fd| from |offset| on, going on after short
// writes and interruptions. Returns 0 or errno.
int WriteAllAt(int fd, std::string_view bytes, off_t offset);

// Copies the file |from| into the empty file |to|, with copy_file_range
// where the file systems allow it and read/write where not. Only the data is
// written: holes (SEEK_DATA, SEEK_HOLE) stay holes, and |to| gets |from|'s
// size by ftruncate, at most the size |from| had at the start. Where holes
// cannot be told, the whole file to its real end. Returns 0 or errno.
int CopyFileData(int from, int to);

// Renames |from| (in |from_dir|) to |to| (in |to_dir|) unless |to| exists:
// renameat2 with RENAME_NOREPLACE, or link + unlink where that flag is not
// supported. Returns 0, EEXIST when |to| exists (nothing changed), EXDEV
// across file systems, or another errno.
int RenameNoReplace(int from_dir, const char* from, int to_dir, const char* to,
                    NoReplaceRename how);

// A file or symbolic link being made in one folder, under a temporary name
// (FileTempName: it begins with "." so that no job's search takes it for a
// dated copy), or unnamed (O_TMPFILE), until it is put in place under its
// final name: the one way the program replaces or publishes a file.
// Whatever of it still exists under a temporary name is removed when the
// object goes.
class TempEntry {
 public:
  // |dir_fd| is the open folder; it must outlive the object.
  explicit TempEntry(int dir_fd) : dir_fd_(dir_fd) {}
  TempEntry(const TempEntry&) = delete;
  TempEntry& operator=(const TempEntry&) = delete;
  ~TempEntry();

  // Creates an empty file, open for writing, with |mode| as open() takes it
  // (trimmed by the umask or the folder's default ACL). Returns 0 or errno.
  int CreateFile(UnnamedTempFiles unnamed, mode_t mode = 0600);

  // Closes the open file of CreateFile, which keeps its temporary name, to
  // see a failure that only the close reports. Returns 0 or errno.
  int CloseFile();

  // Creates a symbolic link to |target|. Returns 0 or errno.
  int CreateLink(const std::string& target);

  // The open file (CreateFile only).
  int fd() const { return fd_.get(); }

  // The temporary name, empty while the file is unnamed or once placed.
  const std::string& name() const { return name_; }
  bool unnamed() const { return fd_.valid() && name_.empty() && !placed_; }

  // Gives an unnamed file a temporary name. Returns 0 or errno.
  int GiveName();

  // Puts the entry in place as |final_name| in the folder, never replacing
  // an existing entry. Returns 0, EEXIST when the name is taken, or errno.
  int Publish(const std::string& final_name, NoReplaceRename how);

  // Renames the named entry over |final_name|, replacing what is there.
  // Returns 0 or errno.
  int Replace(const std::string& final_name);

 private:
  // Links the unnamed file as |name|. Returns 0 or errno.
  int LinkUnnamed(const std::string& name);

  int dir_fd_;
  UniqueFd fd_;
  std::string name_;
  bool placed_ = false;
};

}  // namespace dravelkent
