#pragma once

// The operating system as the program sees it; every call into the system
// sits behind Env. A failure's message names the operation, the path and the
// system's reason; its error_number() is the errno value it stands for.

#include <compare>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace dravelkent {

struct CivilDate {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
};

// kSpecial: a FIFO, socket or device, never opened.
enum class FileKind { kMissing, kFile, kFolder, kLink, kSpecial };

// Which file or folder an entry is, whatever names lead to it.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  auto operator<=>(const FileId&) const = default;
};

// What a listing or a stat knows of one entry. A listing may tell only the
// name, kind and id (|complete| false).
struct FileInfo {
  std::string name;
  FileKind kind = FileKind::kMissing;
  FileId id;
  bool complete = false;
  int64_t mtime_ns = 0;  // last-write time, nanoseconds since 1970
  int64_t ctime_ns = 0;  // last change of its data or attributes
  int64_t size = 0;
  bool may_have_holes = false;  // fewer bytes allocated than its size
  // As the system keeps them; read only by the system's files.
  uint32_t mode = 0;  // permission or attribute bits
  uint32_t owner = 0;
  uint32_t group = 0;
  uint32_t links = 1;
};

// A folder held open: names in it are looked up from the folder itself.
class Folder {
 public:
  struct Native;  // the system's handle
  struct NativeDeleter {
    void operator()(Native* native) const;
  };
  using NativePtr = std::unique_ptr<Native, NativeDeleter>;
  // |path| names it in messages and ends with a separator. |native| is null
  // for a folder a dry run only pretends to have made; |listable| is false
  // for one opened only to reach the names in it.
  Folder(std::string path, const FileInfo& info, NativePtr native,
         bool listable = true)
      : path_(std::move(path)),
        info_(info),
        native_(std::move(native)),
        listable_(listable) {}

  const std::string& path() const { return path_; }
  void set_path(std::string path) { path_ = std::move(path); }
  const FileInfo& info() const { return info_; }  // as it was when opened
  const FileId& id() const { return info_.id; }
  Native* native() const { return native_.get(); }
  bool listable() const { return listable_; }

 private:
  std::string path_;
  FileInfo info_;
  NativePtr native_;
  bool listable_;
};

// A source open for copying, or a new file or link under a temporary name
// until it is published; one never published is removed when it goes.
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

// A move keeps its source's owner; a copy only where the program may give
// files away (as root).
enum class Owner { kKeep, kMine };
enum class Follow { kNo, kYes };
enum class Replace { kNo, kYes };
enum class Leave { kRemoved, kRenamed };  // how an entry leaves its folder

// How a whole-file save keeps the file what it is.
enum class SaveWay {
  kNew,      // no file yet: made as any new file
  kRename,   // a new file renamed over it: only where that keeps its owner,
             // group, bits, ACL, other attributes and names
  kInPlace,  // its own bytes rewritten
};

// How far a save goes: all of it; its first step (the room for the bytes
// taken) tried for real and undone; or only the checks that foresee that
// step's failure, touching nothing.
enum class SaveStep { kAll, kFirstOnly, kForesee };

struct WholeFile {
  std::string path;    // as asked for
  std::string target;  // the file its links lead to (may not exist)
  std::string bytes;
  FileInfo info;  // of |target|; kind kMissing when there is none
};

class FileLock {
 public:
  virtual ~FileLock() = default;
};

class Env {
 public:
  virtual ~Env() = default;
  // The system's Env, for the life of the process.
  static Env* Default();

  virtual CivilDate Today() = 0;  // in the local time zone
  // True for a link the system or the running user owns.
  virtual bool MayFollowLink(const FileInfo& link) = 0;
  // Opens the folder |path| starts from (the root, drive or share; the
  // current folder, path "", for a relative one); gives the rest of |path|.
  virtual Status OpenStart(const std::string& path,
                           std::unique_ptr<Folder>* start,
                           std::string* rest) = 0;
  // Opens the folder |path| at once where the system can tell no link lies
  // on its way (else ELOOP for a link, ENOENT, or ENOSYS).
  virtual Status OpenPath(const std::string& path,
                          std::unique_ptr<Folder>* folder) = 0;
  // Opens the folder |name| (or "..") in |parent|, never following a link:
  // ELOOP for a link, ENOTDIR for another entry, ENOENT for none. One the
  // user may not list is opened all the same to reach the names in it.
  virtual Status OpenFolder(const Folder& parent, const std::string& name,
                            std::unique_ptr<Folder>* folder) = 0;

  virtual Status ReadLink(const Folder& folder, const std::string& name,
                          std::string* target) = 0;
  // Calls |each| for every entry but "." and "..", in the system's order.
  virtual Status List(const Folder& folder,
                      const std::function<void(const FileInfo&)>& each) = 0;
  // Fills |*info|, complete; kind kMissing for no entry. A link is followed
  // only with |follow| kYes and MayFollowLink (else a failure names it).
  virtual Status Stat(const Folder& folder, const std::string& name,
                      Follow follow, FileInfo* info) = 0;
  // Makes and opens the folder |name| in |parent|: like |like| (a source
  // folder) with its owner where the program may give it and its bits at
  // once, never wider for others; or as any new folder. EEXIST when taken.
  virtual Status MakeFolder(const Folder& parent, const std::string& name,
                            const FileInfo* like,
                            std::unique_ptr<Folder>* made) = 0;
  // Gives a folder made like |like| its exact bits and time.
  virtual Status FinishFolder(const Folder& folder, const FileInfo& like) = 0;
  // The checks the real run and the dry run share: names may be added to
  // and removed from |folder|; |entry| may leave |folder| as |leave| says
  // (a sticky folder, a read-only file); the file |name| may be read.
  virtual Status MayChangeNames(const Folder& folder) = 0;
  virtual Status MayRemove(const Folder& folder, const FileInfo& entry,
                           Leave leave) = 0;
  virtual Status MayRead(const Folder& folder, const std::string& name) = 0;

  virtual Status Remove(const Folder& folder, const std::string& name) = 0;
  // Never replaces: EEXIST when |to_name| is taken; EXDEV across systems.
  virtual Status Rename(const Folder& from, const std::string& from_name,
                        const Folder& to, const std::string& to_name) = 0;
  // Opens the regular file |name| (a link only as Stat follows one), never
  // a FIFO, socket or device; fills |*info| from the open file.
  virtual Status OpenForCopy(const Folder& folder, const std::string& name,
                             Follow follow, std::unique_ptr<OpenFile>* file,
                             FileInfo* info) = 0;
  virtual Status StatOpen(OpenFile& file, FileInfo* info) = 0;
  // Makes a new empty file, or with |link_target| a link, in |folder|,
  // under no name a user or a job sees until it is published.
  virtual Status CreateTemp(const Folder& folder,
                            const std::string* link_target,
                            std::unique_ptr<OpenFile>* temp) = 0;
  // Copies the data of |from| (|info|) into the empty |to|, holes as holes.
  virtual Status CopyData(OpenFile& from, const FileInfo& info,
                          OpenFile& to) = 0;
  // Gives |to| the time and bits of |like| and, as |owner| says, its owner;
  // a set-id bit only with the owner or group it belongs to.
  virtual Status SetAttributes(OpenFile& to, const FileInfo& like,
                               Owner owner) = 0;
  // How many new files may be open at once, waiting for their flush.
  virtual size_t FilesAtOnce() = 0;
  // Makes every file of |files| durable, a file system at a time.
  virtual Status Flush(const std::vector<OpenFile*>& files) = 0;
  // Names |temp| in its folder: EEXIST when taken, unless |replace| is kYes.
  virtual Status Publish(OpenFile& temp, const std::string& name,
                         Replace replace) = 0;
  // Makes the names of |folder| durable, where the file system can.
  virtual Status FlushFolder(const Folder& folder) = 0;
  // Reads the regular file |path| (links followed); a missing one leaves
  // file->info.kind kMissing. Bytes of |*file| read before are kept when
  // the file is unchanged (the same file, size and times).
  virtual Status ReadWholeFile(const std::string& path, WholeFile* file) = 0;
  virtual SaveWay ChooseSaveWay(const WholeFile& file) = 0;
  // Saves |bytes| into |file| |way| as far as |step| goes. A rename save
  // leaves the old file whole on any failure; an in-place save takes the
  // room first, so only a failed write can leave it part old, part new.
  virtual Status SaveWholeFile(const WholeFile& file, std::string_view bytes,
                               SaveWay way, SaveStep step) = 0;
  // Locks the file |path| (made 0600 when missing), which must be the
  // running user's, calling |on_wait| once before waiting for another run.
  // With kForesee only returns the failure the lock would meet.
  virtual Status LockFile(const std::string& path, SaveStep step,
                          const std::function<void()>& on_wait,
                          std::unique_ptr<FileLock>* lock) = 0;
};

extern const char kPathSeparator;  // the one the system writes
bool IsPathSeparator(char c);

enum class NameCase { kSensitive, kInsensitive };
extern const NameCase kFileNameCase;  // how the file system compares names

}  // namespace dravelkent
