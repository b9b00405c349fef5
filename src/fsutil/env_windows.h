#pragma once

// The Windows Env, for env_windows.cc, file_windows.cc, whole_file_windows.cc,
// system_windows.cc (what they share) and their test. Paths are UTF-8 inside
// the program and UTF-16 on the disk; every path given to the system is a full
// one in the "\\?\" form, so that no length limit applies. Handles are kept as
// void*: <windows.h> stays out of headers.

#include <cstdint>
#include <string>
#include <string_view>

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
  Status MayRemove(const Folder& folder, const FileInfo& entry) override;
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

// Returns the failure "what path: reason" for the Windows error |error|
// (a GetLastError value): the system's text, and the errno value it stands
// for. The one place a Windows error becomes a message.
Status WindowsError(const std::string& what, const std::string& path,
                    unsigned long error);

// Converts between UTF-8 and UTF-16. A name on the disk that holds a lone
// surrogate becomes the three bytes that would encode it (WTF-8), and
// converts back to itself. WideOf returns false for text that is not UTF-8.
bool WideOf(std::string_view text, std::wstring* wide);
std::string Utf8Of(std::wstring_view wide);

// Returns the full "\\?\" form of the Windows path |path| (drive, UNC or
// relative to the current folder), resolving "/", "." and "..". Returns
// false (with the reason in |*error|) when it has none.
bool FullPathOf(const std::string& path, std::wstring* full,
                unsigned long* error);

// Returns the failure "what path: not a valid file name on Windows".
Status BadName(const std::string& what, const std::string& path);

// Sets |*path| to the full path of |name| in the folder |folder| (full,
// ending in "\"). Returns false for a name Windows cannot give a file.
bool PathIn(const std::wstring& folder, const std::string& name,
            std::wstring* path);

// Gives the open |handle| the last-write time of |like| and its read-only,
// hidden and archive attributes, no others. Returns 0 or a Windows error.
unsigned long SetTimeAndAttributes(void* handle, const FileInfo& like);

// Fills |*info| (complete) from the open |handle|, whose reparse tag is
// asked for. Returns 0 or a Windows error.
unsigned long InfoOfHandle(void* handle, FileInfo* info);

// True for a reparse point that stands for another name: a symbolic link or
// a junction. Other reparse points (cloud and deduplicated files) are the
// files or folders they show.
bool IsLinkTag(uint32_t attributes, uint32_t reparse_tag);

// Nanoseconds since 1970 and Windows file times (100 ns ticks since 1601).
int64_t NsOfFileTime(uint64_t ticks);
uint64_t FileTimeOfNs(int64_t ns);

// Writes all of |bytes| to |handle| at |offset|. Returns 0 or a Windows
// error.
unsigned long WriteAt(void* handle, std::string_view bytes, uint64_t offset);

// Returns a new temporary file name (FileTempName) with random bits.
std::wstring NewTempName();

}  // namespace dravelkent
