#pragma once

// The operating system as the program sees it: folders held open and the
// names in them, file copies made through a temporary file, the settings
// file read and saved whole, the run lock, the date and the user. Every call
// into the system sits behind this interface, in env_posix.cc and its
// twins; nothing above it knows which system it runs on.
//
// Failures are Status values whose message names the operation, the path
// and the system's reason, and whose error_number() is the errno value the
// failure stands for (ENOENT, EEXIST, ELOOP, ENOTDIR, EXDEV, EPERM, ...),
// also where the system told it another way.

#include <compare>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace dravelkent {

// A day of the calendar.
struct CivilDate {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
};

// What an entry is. kSpecial: a FIFO, socket or device, never opened.
enum class FileKind { kMissing, kFile, kFolder, kLink, kSpecial };

// Which file or folder an entry is, whatever names lead to it.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  auto operator<=>(const FileId&) const = default;
};

// What a listing or a stat knows of one entry.
struct FileInfo {
  std::string name;  // the entry's name, in listings
  FileKind kind = FileKind::kMissing;
  FileId id;
  // The fields below are known (a stat, or a listing that tells them);
  // otherwise a listing told only the name, kind and id.
  bool complete = false;
  int64_t mtime_ns = 0;  // last-write time, nanoseconds since 1970
  int64_t size = 0;
  bool may_have_holes = false;  // fewer bytes allocated than its size
  // The owner and the permission or attribute bits, as the system keeps
  // them; only the system's own files read them.
  uint32_t mode = 0;
  uint32_t owner = 0;
  uint32_t group = 0;
  uint32_t links = 1;
};

// A folder held open. Names in it are looked up from the folder itself, so
// a folder on its path renamed or replaced by a link after it was opened is
// never followed.
class Folder {
 public:
  struct Native;  // the system's handle, defined by the system's files
  struct NativeDeleter {
    void operator()(Native* native) const;
  };
  using NativePtr = std::unique_ptr<Native, NativeDeleter>;

  // |path| names the folder in messages and ends with a separator; |native|
  // is null for a folder a dry run only pretends to have made. |listable|
  // is false for a folder opened only to reach the names in it.
  Folder(std::string path, const FileInfo& info, NativePtr native,
         bool listable = true)
      : path_(std::move(path)),
        info_(info),
        native_(std::move(native)),
        listable_(listable) {}

  const std::string& path() const { return path_; }
  // Names the folder |path| in messages from now on.
  void set_path(std::string path) { path_ = std::move(path); }
  // What the folder was when it was opened: kind kFolder, its id, owner,
  // mode and time.
  const FileInfo& info() const { return info_; }
  const FileId& id() const { return info_.id; }
  Native* native() const { return native_.get(); }
  bool listable() const { return listable_; }

 private:
  std::string path_;
  FileInfo info_;
  NativePtr native_;
  bool listable_;
};

// An open file: a source being copied, or a new file or link being made
// under a temporary name until it is published. A new entry that is never
// published is removed when the object goes.
class OpenFile {
 public:
  struct Native;
  struct NativeDeleter {
    void operator()(Native* native) const;
  };
  explicit OpenFile(Native* native) : native_(native) {}
  Native* native() const { return native_.get(); }

 private:
  std::unique_ptr<Native, NativeDeleter> native_;
};

// Whether a copy takes its source's owner: a move always does; a copy only
// where the program runs with the right to give files away (as root).
enum class Owner { kKeep, kMine };

// Whether a link at the end of a name is followed.
enum class Follow { kNo, kYes };

// What a publish does with an entry under the final name.
enum class Replace { kNo, kYes };

// How a save of a whole file keeps it what it is.
enum class SaveWay {
  kNew,      // no file yet: a new one, made as any new file is
  kRename,   // a new file renamed over the old: only where that keeps the
             // owner, group, mode, ACL and other attributes, and one link
  kInPlace,  // the old file's own bytes rewritten
};

// How far a save goes: all the way, its first step only (tried for real
// and undone: the temporary file with room for the bytes, or the file
// opened for writing with the room taken), or nothing at all but the checks
// that foresee that first step's failure without touching any file.
enum class SaveStep { kAll, kFirstOnly, kForesee };

// The settings file (or another small file) as read whole.
struct WholeFile {
  std::string path;    // as asked for
  std::string target;  // the file its links lead to (may not exist)
  std::string bytes;
  FileInfo info;       // of |target|; kind kMissing when there is none
};

// An exclusive lock held until the object goes.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

// The operating system. Calls are not thread-safe.
class Env {
 public:
  virtual ~Env() = default;

  // Returns the system's Env, which lives as long as the process.
  static Env* Default();

  // --- Date and user ---

  // Returns today's date in the local time zone.
  virtual CivilDate Today() = 0;

  // Returns true when a link owned as |link| says may be followed by this
  // run: one of the system's or the running user's own.
  virtual bool MayFollowLink(const FileInfo& link) = 0;

  // --- Paths ---

  // Splits |path| into the folder it starts from and the rest: the root
  // folder (or drive or share) of an absolute path, the current folder for
  // a relative one. Opens that folder into |*start| (its path() is the
  // start's own text, empty for the current folder) and returns the rest,
  // which holds the names separated by separators.
  virtual Status OpenStart(const std::string& path,
                           std::unique_ptr<Folder>* start,
                           std::string* rest) = 0;

  // --- Folders ---

  // Opens the folder |name| (never "." or "..") in |parent|, never following
  // a link: a link fails with ELOOP, anything else that is no folder with
  // ENOTDIR, a missing name with ENOENT. A folder the user may not list is
  // opened all the same where names in it can still be reached.
  virtual Status OpenFolder(const Folder& parent, const std::string& name,
                            std::unique_ptr<Folder>* folder) = 0;

  // Opens the folder that holds |parent| ("..").
  virtual Status OpenParent(const Folder& parent,
                            std::unique_ptr<Folder>* folder) = 0;

  // Reads the target of the link |name| in |folder|.
  virtual Status ReadLink(const Folder& folder, const std::string& name,
                          std::string* target) = 0;

  // Calls |each| for every entry of |folder| but "." and "..", in the file
  // system's order. Entries may be complete or tell only kind and id.
  virtual Status List(const Folder& folder,
                      const std::function<void(const FileInfo&)>& each) = 0;

  // Fills |*info| (complete) for the entry |name| in |folder|. A link is
  // followed only when |follow| is kYes and MayFollowLink allows it (else
  // the failure names the link). A missing entry is no failure: kind
  // kMissing.
  virtual Status Stat(const Folder& folder, const std::string& name,
                      Follow follow, FileInfo* info) = 0;

  // Makes the folder |name| in |parent| and opens it into |*made|: with
  // |like| (a source folder) at once with its owner and group where the
  // program may give them and its permission bits, never wider for others
  // (the running user keeps the right to fill it); otherwise as any new
  // folder is made. Fails with EEXIST when the name is taken.
  virtual Status MakeFolder(const Folder& parent, const std::string& name,
                            const FileInfo* like,
                            std::unique_ptr<Folder>* made) = 0;

  // Gives a folder MakeFolder made with |like| its exact permission bits
  // and the last-write time of |like|, once everything is in it.
  virtual Status FinishFolder(const Folder& folder, const FileInfo& like) = 0;

  // --- What the user may do: one check for the real run and the dry run ---

  // Returns ok when names may be added to and removed from |folder|.
  virtual Status MayChangeNames(const Folder& folder) = 0;

  // Returns ok when the entry |entry| may be removed from (or renamed away
  // from) |folder|, names there being changeable: a sticky folder lets only
  // the entry's owner, the folder's or the system's remove it.
  virtual Status MayRemove(const Folder& folder, const FileInfo& entry) = 0;

  // Returns ok when the regular file |name| in |folder| may be read.
  virtual Status MayRead(const Folder& folder, const std::string& name) = 0;

  // --- Files ---

  // Removes the file or link |name| from |folder|.
  virtual Status Remove(const Folder& folder, const std::string& name) = 0;

  // Renames |from_name| in |from| to |to_name| in |to|, never replacing:
  // EEXIST when |to_name| is taken, EXDEV across file systems.
  virtual Status Rename(const Folder& from, const std::string& from_name,
                        const Folder& to, const std::string& to_name) = 0;

  // Opens the regular file |name| in |folder| for reading, following a
  // link only when |follow| is kYes and MayFollowLink allows it; never
  // opens a FIFO, socket or device. Fills |*info| from the open file.
  virtual Status OpenForCopy(const Folder& folder, const std::string& name,
                             Follow follow, std::unique_ptr<OpenFile>* file,
                             FileInfo* info) = 0;

  // Fills |*info| for the open file as it is now.
  virtual Status StatOpen(OpenFile& file, FileInfo* info) = 0;

  // Makes a new empty file in |folder| to copy into, with no name a user
  // or a job sees until it is published.
  virtual Status CreateTemp(const Folder& folder,
                            std::unique_ptr<OpenFile>* temp) = 0;

  // Makes a new link to |target| in |folder|, named as CreateTemp names.
  virtual Status CreateTempLink(const Folder& folder,
                                const std::string& target,
                                std::unique_ptr<OpenFile>* temp) = 0;

  // Copies the data of |from| (described by |info|) into the empty |to|:
  // holes stay holes, and |to| ends with |info|'s size at most.
  virtual Status CopyData(OpenFile& from, const FileInfo& info,
                          OpenFile& to) = 0;

  // Gives the new |to| the last-write time and permission or attribute
  // bits of |like| and, as |owner| says, its owner; a set-id bit only with
  // the owner or group it belongs to.
  virtual Status SetAttributes(OpenFile& to, const FileInfo& like,
                               Owner owner) = 0;

  // Makes the data of every file of |files| durable, each file system
  // flushed once where the system can, else each file.
  virtual Status Flush(const std::vector<OpenFile*>& files) = 0;

  // Gives the new |temp| the name |name| in its folder, replacing what is
  // there only when |replace| is kYes; EEXIST when the name is taken.
  virtual Status Publish(OpenFile& temp, const std::string& name,
                         Replace replace) = 0;

  // Makes the names of |folder| durable. A file system that cannot is no
  // failure.
  virtual Status FlushFolder(const Folder& folder) = 0;

  // --- Whole files: the settings file ---

  // Reads the regular file |path| (links followed) into |*file|. A missing
  // file is no failure: file->info.kind is kMissing.
  virtual Status ReadWholeFile(const std::string& path, WholeFile* file) = 0;

  // Returns how a save of |file| keeps it what it is.
  virtual SaveWay ChooseSaveWay(const WholeFile& file) = 0;

  // Saves |bytes| as the new content of |file| the way |way| says, as far
  // as |step| goes. A rename save leaves the old file as it was on any
  // failure; an in-place save takes the room first, so that only a failure
  // while writing can leave the file part old, part new.
  virtual Status SaveWholeFile(const WholeFile& file, std::string_view bytes,
                               SaveWay way, SaveStep step) = 0;

  // --- The run lock ---

  // Takes an exclusive lock on the file |path|, made (mode 0600) when
  // missing and left in place, which only the running user may open.
  // Calls |on_wait| once before it waits for another run that holds it.
  // With |step| kForesee takes nothing and returns the failure the lock
  // would meet, without changing anything.
  virtual Status LockFile(const std::string& path, SaveStep step,
                          const std::function<void()>& on_wait,
                          std::unique_ptr<FileLock>* lock) = 0;
};

// The separator the system writes between folder names.
extern const char kPathSeparator;

// Returns true when |c| separates folder names in a path.
bool IsPathSeparator(char c);

// Whether the file system tells names apart by case.
enum class NameCase { kSensitive, kInsensitive };
extern const NameCase kFileNameCase;

}  // namespace dravelkent
