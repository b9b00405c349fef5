#pragma once

// The Windows Env, for env_windows.cc, file_windows.cc, whole_file_windows.cc
// and their test. Paths are UTF-8 in the program and UTF-16 on the disk;
// every path given to the system is a full one in the "\\?\" form, free of
// the length limit. Handles are void*: <windows.h> stays out of headers.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/system_windows.h"
#include "fsutil/env.h"

namespace dravelkent {

struct Folder::Native {
  void* handle = nullptr;  // held open: the folder cannot be renamed meanwhile
  std::wstring path;       // "\\?\" form, ending in "\"
  size_t root_size = 0;    // of the drive or share it starts with
};

struct OpenFile::Native {
  void* handle = nullptr;  // closed once a temporary is published
  std::wstring path;       // full, "\\?\" form
  std::wstring folder;     // of the folder it is made in; empty: a source
  std::string shown;       // its path for messages
  std::string folder_shown;
  bool published = false;
};

class WindowsEnv : public Env {
 public:
  CivilDate Today() override;
  bool MayFollowLink(const FileInfo& link) override;
  Status OpenStart(const std::string& path, std::unique_ptr<Folder>* start,
                   std::string* rest) override;
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
};

// The helpers the files share. Those returning unsigned long give 0 or a
// Windows error.

// Returns the failure "what path: not a valid file name on Windows".
Status BadName(const std::string& what, const std::string& path);

// Sets |*path| to |folder| (full, ending in "\") + |name|. Returns false for
// a name Windows cannot give a file.
bool PathIn(const std::wstring& folder, const std::string& name,
            std::wstring* path);

// Sets |*full| to the "\\?\" form of |path| (drive, UNC or relative to the
// current folder), "/", "." and ".." resolved.
unsigned long FullPathOf(const std::string& path, std::wstring* full);

// Opens |path|, shared for everything, a link itself unless |follow|, a
// folder too. Returns the handle or INVALID_HANDLE_VALUE.
void* OpenPath(const std::wstring& path, unsigned long access, bool follow);

// Fills |*info| (complete) from the open |handle|.
unsigned long InfoOfHandle(void* handle, FileInfo* info);

// True for a reparse point that stands for another name: a symbolic link or
// a junction, not a cloud or deduplicated file.
bool IsLinkTag(uint32_t attributes, uint32_t reparse_tag);

// Nanoseconds since 1970 and Windows file times (100 ns ticks since 1601).
int64_t NsOfFileTime(uint64_t ticks);
uint64_t FileTimeOfNs(int64_t ns);

// Gives |handle| the last-write time of |like| and of its attributes the
// read-only, hidden and archive ones.
unsigned long SetTimeAndAttributes(void* handle, const FileInfo& like);

// Writes all of |bytes| to |handle| at |offset|.
unsigned long WriteAt(void* handle, std::string_view bytes, uint64_t offset);

// Makes a new file of a FileTempName in |folder| (full, ending in "\") with
// |attributes|, open for reading, writing and deleting, into |*temp|.
unsigned long CreateTempIn(const std::wstring& folder, unsigned long attributes,
                           OpenFile::Native* temp);

}  // namespace dravelkent
