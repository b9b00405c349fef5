// The Windows Env: paths are UTF-8 in the program and, given to the system,
// full UTF-16 paths in the "\\?\" form, free of the length limit.

#define _CRT_RAND_S  // rand_s, from the system's random source
#include <stdlib.h>
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/system_windows.h"
#include "fsutil/env.h"
#include "fsutil/temp_names.h"

namespace dravelkent {

const char kPathSeparator = '\\';
const NameCase kFileNameCase = NameCase::kInsensitive;

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

struct Folder::Native {
  HANDLE handle;         // held open: the folder cannot be renamed meanwhile
  std::wstring path;     // "\\?\" form, ending in "\"
  size_t root_size = 0;  // of the drive or share it starts with
};

struct OpenFile::Native {
  HANDLE handle = nullptr;  // closed once a temporary is published
  std::wstring path;        // of a temporary
  std::wstring folder;      // of a temporary; empty: a source
  std::string shown;        // for messages
  std::string folder_shown;
  bool published = false;
};

void Folder::NativeDeleter::operator()(Native* native) const {
  CloseHandle(native->handle);
  delete native;
}

void OpenFile::NativeDeleter::operator()(Native* native) const {
  if (native->handle != nullptr) CloseHandle(native->handle);
  if (!native->folder.empty() && !native->published) {  // even read-only
    SetFileAttributesW(native->path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(native->path.c_str());
  }
  delete native;
}

namespace {

constexpr int64_t kTicksTo1970 = 116444736000000000;  // 100 ns from 1601

Status BadName(const std::string& what, const std::string& path) {
  return Status::Failure(what, path, "not a valid file name on Windows",
                         EINVAL);
}

Status ReadOnly(const std::string& what, const std::string& path) {
  return Status::Failure(what, path, "the file is read-only", EACCES);
}

Status Checked(DWORD error, const std::string& what, const std::string& path) {
  return error == 0 ? Status::Ok() : WindowsError(what, path, error);
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Sets |*path| to |folder| + |name|; false for a name no file may have.
bool PathIn(const std::wstring& folder, const std::string& name,
            std::wstring* path) {
  std::wstring wide;
  if (name.empty() || name == "." || name == ".." ||
      std::any_of(name.begin(), name.end(),
                  [](char c) {
                    return static_cast<unsigned char>(c) < 0x20 ||
                           std::strchr("\\/:*?\"<>|", c) != nullptr;
                  }) ||
      !WideOf(name, &wide)) {
    return false;
  }
  *path = folder + wide;
  return true;
}

bool PathOf(const Folder& folder, const std::string& name, std::wstring* path) {
  return PathIn(folder.native()->path, name, path);
}

// Sets |*full| to the "\\?\" form of |path|. Returns 0 or a Windows error.
DWORD FullPathOf(const std::string& path, std::wstring* full) {
  std::wstring wide;
  if (path.empty() || !WideOf(path, &wide)) return ERROR_INVALID_NAME;
  std::wstring buffer(32768, L'\0');  // the longest path Windows has
  buffer.resize(
      GetFullPathNameW(wide.c_str(), buffer.size(), buffer.data(), nullptr));
  if (buffer.empty() || buffer.size() >= 32768) return GetLastError();
  *full = buffer.starts_with(L"\\\\?\\") || buffer.starts_with(L"\\\\.\\")
              ? buffer
          : buffer.starts_with(L"\\\\") ? L"\\\\?\\UNC\\" + buffer.substr(2)
                                        : L"\\\\?\\" + buffer;
  return 0;
}

std::string ShownPath(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) return "\\" + Utf8Of(path.substr(7));
  return Utf8Of(path.starts_with(L"\\\\?\\") ? path.substr(4) : path);
}

// Opens |path| (a folder too) shared for all, a link itself unless |follow|.
HANDLE OpenAny(const std::wstring& path, DWORD access, bool follow) {
  return CreateFileW(
      path.c_str(), access,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
      nullptr);
}

// A link is a reparse point that stands for another name (a symbolic link
// or a junction), not a cloud or deduplicated file.
FileKind KindOf(DWORD attributes, DWORD reparse_tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                 IsReparseTagNameSurrogate(reparse_tag)
             ? FileKind::kLink
         : attributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::kFolder
                                                 : FileKind::kFile;
}

int64_t NsOf(uint64_t ticks) {
  return (static_cast<int64_t>(ticks) - kTicksTo1970) * 100;
}

DWORD InfoOfHandle(HANDLE handle, FileInfo* info) {
  BY_HANDLE_FILE_INFORMATION by;
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!GetFileInformationByHandle(handle, &by) ||
      ((by.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
       !GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag,
                                     sizeof tag))) {
    return GetLastError();
  }
  info->kind = KindOf(by.dwFileAttributes, tag.ReparseTag);
  info->id = {by.dwVolumeSerialNumber,
              uint64_t{by.nFileIndexHigh} << 32 | by.nFileIndexLow};
  info->complete = true;
  info->mtime_ns = NsOf(uint64_t{by.ftLastWriteTime.dwHighDateTime} << 32 |
                        by.ftLastWriteTime.dwLowDateTime);
  info->size =
      static_cast<int64_t>(uint64_t{by.nFileSizeHigh} << 32 | by.nFileSizeLow);
  info->may_have_holes = false;
  info->mode = by.dwFileAttributes;
  info->links = by.nNumberOfLinks;
  return 0;
}

DWORD StatPath(const std::wstring& path, bool follow, FileInfo* info) {
  HANDLE handle = OpenAny(path, FILE_READ_ATTRIBUTES, follow);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  const DWORD error = InfoOfHandle(handle, info);
  CloseHandle(handle);
  return error;
}

// Gives |handle| the time of |like| and its read-only, hidden and archive
// attributes.
DWORD SetTimeAndAttributes(HANDLE handle, const FileInfo& like) {
  FILE_BASIC_INFO basic = {};
  basic.LastWriteTime.QuadPart =
      like.mtime_ns / 100 + kTicksTo1970 - (like.mtime_ns % 100 < 0 ? 1 : 0);
  basic.FileAttributes =
      like.mode & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                   FILE_ATTRIBUTE_ARCHIVE);
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)
             ? 0
             : GetLastError();
}

DWORD SetSize(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS which, size_t size) {
  LARGE_INTEGER value;
  value.QuadPart = static_cast<LONGLONG>(size);
  return SetFileInformationByHandle(handle, which, &value, sizeof value)
             ? 0
             : GetLastError();
}

// Takes room for |size| bytes, or else tells whether |folder| has it free.
DWORD TakeRoom(HANDLE handle, const std::wstring& folder, size_t size) {
  const DWORD error = SetSize(handle, FileAllocationInfo, size);
  ULARGE_INTEGER free;
  if (error != ERROR_CALL_NOT_IMPLEMENTED && error != ERROR_NOT_SUPPORTED &&
      error != ERROR_INVALID_PARAMETER) {
    return error;
  }
  return !GetDiskFreeSpaceExW(folder.c_str(), &free, nullptr, nullptr)
             ? GetLastError()
         : free.QuadPart >= size ? 0
                                 : ERROR_DISK_FULL;
}

DWORD WriteAt(HANDLE handle, std::string_view bytes, uint64_t offset) {
  while (!bytes.empty()) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data(),
                   std::min<size_t>(bytes.size(), size_t{1} << 30), &written,
                   &at)) {
      return GetLastError();
    }
    bytes.remove_prefix(written);
    offset += written;
  }
  return 0;
}

// Makes a new FileTempName in |folder|, which may go while it is open.
DWORD CreateTempIn(const std::wstring& folder, DWORD attributes,
                   OpenFile::Native* temp) {
  DWORD error = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned int high = 0, low = 0;  // a taken name is tried again
    rand_s(&high) == 0 && rand_s(&low);
    std::wstring name;
    WideOf(FileTempName(uint64_t{high} << 32 | low), &name);
    HANDLE handle = CreateFileW((folder + name).c_str(),
                                GENERIC_READ | GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, attributes, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      temp->handle = handle;
      temp->path = folder + name;
      temp->folder = folder;
      return 0;
    }
    error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  return error;
}

std::wstring OpenName(const std::wstring& path, size_t root_size) {
  return path.size() > root_size ? path.substr(0, path.size() - 1) : path;
}

// Opens the folder |path| as |shown|, never deleted while it is held.
Status OpenFolderAt(std::wstring path, size_t root_size, std::string shown,
                    bool follow, std::unique_ptr<Folder>* folder) {
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD access = FILE_LIST_DIRECTORY;
  for (; handle == INVALID_HANDLE_VALUE; access = 0) {
    // Without the right to list it, opened to reach the names in it.
    handle =
        CreateFileW(OpenName(path, root_size).c_str(),
                    access | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS |
                        (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                    nullptr);
    if (access == 0 || GetLastError() != ERROR_ACCESS_DENIED) break;
  }
  if (handle == INVALID_HANDLE_VALUE) {
    return WindowsError("cannot open folder", shown, GetLastError());
  }
  Folder::NativePtr native(
      new Folder::Native{handle, std::move(path), root_size});
  FileInfo info;
  if (DWORD error = InfoOfHandle(handle, &info)) {
    return WindowsError("cannot open folder", shown, error);
  }
  const bool link = info.kind == FileKind::kLink;
  if (info.kind != FileKind::kFolder) {
    return Status::Failure("cannot open folder", shown,
                           link ? "it is a link (a symbolic link or a "
                                  "junction), which is not followed"
                                : "not a folder",
                           link ? ELOOP : ENOTDIR);
  }
  *folder = std::make_unique<Folder>(std::move(shown), info, std::move(native),
                                     access != 0);
  return Status::Ok();
}

Status SaveInPlace(const WholeFile& file, const std::wstring& target,
                   std::string_view bytes, SaveStep step) {
  if (step == SaveStep::kForesee) return Status::Ok();
  HANDLE handle = CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return WindowsError("cannot save", file.path, GetLastError());
  }
  FileInfo now;
  DWORD error = InfoOfHandle(handle, &now);
  const size_t old_size = file.bytes.size();
  if (error == 0 && now.id != file.info.id) {
    CloseHandle(handle);
    return Status::Error("cannot save " + file.path +
                         ": it was replaced while being saved");
  }
  if (error == 0 && step == SaveStep::kFirstOnly && bytes.size() > old_size) {
    // The room taken beyond the end, and given back.
    error = TakeRoom(handle, target.substr(0, target.rfind(L'\\') + 1),
                     bytes.size());
    if (error == 0) SetSize(handle, FileAllocationInfo, old_size);
  } else if (error == 0 && step == SaveStep::kAll) {
    size_t first = 0;
    while (first < std::min(old_size, bytes.size()) &&
           file.bytes[first] == bytes[first]) {
      ++first;
    }
    // The room first, so that only a failed write can leave it part old.
    if (bytes.size() > old_size) {
      error = SetSize(handle, FileEndOfFileInfo, bytes.size());
    }
    if (error == 0) error = WriteAt(handle, bytes.substr(first), first);
    if (error == 0) error = SetSize(handle, FileEndOfFileInfo, bytes.size());
    if (error == 0 && !FlushFileBuffers(handle)) error = GetLastError();
  }
  CloseHandle(handle);
  return Checked(error, "cannot save", file.path);
}

DWORD ReadAll(HANDLE handle, size_t expected, std::string* bytes) {
  bytes->resize(expected + 1);
  size_t filled = 0;
  for (DWORD got = 1; got != 0; filled += got) {
    if (filled == bytes->size()) bytes->resize(bytes->size() * 2);
    if (!ReadFile(handle, bytes->data() + filled,
                  std::min<size_t>(bytes->size() - filled, size_t{1} << 30),
                  &got, nullptr)) {
      return GetLastError();
    }
  }
  bytes->resize(filled);
  return 0;
}

class WindowsFileLock : public FileLock {
 public:
  explicit WindowsFileLock(HANDLE handle) : handle_(handle) {}
  ~WindowsFileLock() override { CloseHandle(handle_); }

 private:
  HANDLE handle_;
};

class WindowsEnv : public Env {
 public:
  CivilDate Today() override {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay};
  }

  bool MayFollowLink(const FileInfo&) override { return true; }
  Status MayChangeNames(const Folder&) override { return Status::Ok(); }
  Status MayRead(const Folder&, const std::string&) override {
    return Status::Ok();
  }
  // Every rename is made with MOVEFILE_WRITE_THROUGH.
  Status FlushFolder(const Folder&) override { return Status::Ok(); }
  size_t FilesAtOnce() override { return 256; }  // each flushed on its own

  // Only a walk name by name can tell a link (a reparse point) on the way.
  Status OpenPath(const std::string&, std::unique_ptr<Folder>*) override {
    return Status::Failure("cannot open folder", "", "", ENOSYS);
  }

  Status OpenStart(const std::string& path, std::unique_ptr<Folder>* start,
                   std::string* rest) override {
    auto separator = [&](size_t i) {
      return i < path.size() && IsPathSeparator(path[i]);
    };
    size_t end = 0;  // of the root as written
    if (separator(0) && separator(1)) {
      // \\server\share\, \\?\C:\ or \\?\UNC\server\share\.
      int names = 2;
      if (path.size() > 3 && (path[2] == '?' || path[2] == '.') &&
          separator(3)) {
        names = path.compare(4, 4, "UNC\\") == 0 ? 4 : 2;
      }
      for (end = 2; names > 0; --names) {
        size_t after = end;
        while (after < path.size() && !separator(after)) ++after;
        if (after == end) {
          return Status::Failure("cannot open folder", path,
                                 "not a valid network path", EINVAL);
        }
        end = std::min(after + 1, path.size());
      }
    } else if (path.size() >= 2 && path[1] == ':' &&
               std::isalpha(static_cast<unsigned char>(path[0]))) {
      end = separator(2) ? 3 : 2;  // "C:" alone: the current folder of C:
    } else if (separator(0)) {
      end = 1;  // the root of the current drive
    }
    const std::string root = path.substr(0, end);
    const size_t names = path.find_first_not_of("\\/", end);
    *rest = names == std::string::npos ? "" : path.substr(names);
    std::wstring full;
    if (DWORD error = FullPathOf(root.empty() ? "." : root, &full)) {
      return WindowsError("cannot open folder", root, error);
    }
    if (!full.ends_with(L'\\')) full += L'\\';
    size_t root_size = 4;
    for (int parts = full.compare(4, 4, L"UNC\\") == 0 ? 3 : 1; parts > 0;
         --parts) {
      root_size = std::min(full.find(L'\\', root_size), full.size() - 1) + 1;
    }
    return OpenFolderAt(std::move(full), root_size, root, true, start);
  }

  Status OpenFolder(const Folder& parent, const std::string& name,
                    std::unique_ptr<Folder>* folder) override {
    const std::string shown = parent.path() + name + kPathSeparator;
    const Folder::Native& native = *parent.native();
    if (name == "..") {
      // Held open, a folder's path names it: its parent is the path's.
      const std::wstring& path = native.path;
      const size_t end = path.size() > native.root_size
                             ? path.rfind(L'\\', path.size() - 2) + 1
                             : path.size();
      return OpenFolderAt(path.substr(0, end), native.root_size, shown, true,
                          folder);
    }
    std::wstring path;
    if (!PathOf(parent, name, &path)) {
      return BadName("cannot open folder", shown);
    }
    return OpenFolderAt(path + L'\\', native.root_size, shown, false, folder);
  }

  Status ReadLink(const Folder& folder, const std::string& name,
                  std::string* target) override {
    const std::string shown = folder.path() + name;
    std::wstring path;
    if (!PathOf(folder, name, &path)) return BadName("cannot read link", shown);
    HANDLE handle = OpenAny(path, FILE_READ_ATTRIBUTES, false);
    std::vector<ULONG> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE / sizeof(ULONG));
    DWORD size = 0;
    const bool read =
        handle != INVALID_HANDLE_VALUE &&
        DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0,
                        data.data(), data.size() * sizeof(ULONG), &size,
                        nullptr);
    const DWORD error = read ? 0 : GetLastError();
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    if (!read) return WindowsError("cannot read link", shown, error);
    // Tag, two lengths, the names' offsets and lengths, a link's flags.
    const auto* header = reinterpret_cast<const USHORT*>(data.data());
    size_t start = 16 + header[4];
    if (data[0] == IO_REPARSE_TAG_SYMLINK) {
      start += 4;
    } else if (data[0] != IO_REPARSE_TAG_MOUNT_POINT) {
      return Status::Failure("cannot read link", shown,
                             "not a symbolic link or a junction", EINVAL);
    }
    if (start + header[5] > size) {
      return Status::Failure("cannot read link", shown, "malformed link", EIO);
    }
    std::wstring link(header[5] / sizeof(wchar_t), L'\0');
    memcpy(link.data(), reinterpret_cast<const char*>(data.data()) + start,
           header[5]);
    if (link.starts_with(L"\\??\\")) link[1] = L'\\';
    *target = Utf8Of(link);
    return Status::Ok();
  }

  Status List(const Folder& folder,
              const std::function<void(const FileInfo&)>& each) override {
    std::vector<FileInfo> entries;
    std::vector<uint64_t> buffer(8192);
    FILE_INFO_BY_HANDLE_CLASS which = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder.native()->handle, which,
                                        buffer.data(),
                                        buffer.size() * sizeof(uint64_t))) {
      which = FileIdBothDirectoryInfo;
      for (const char* at = reinterpret_cast<const char*>(buffer.data());;) {
        const auto* e = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
        std::wstring_view name(e->FileName,
                               e->FileNameLength / sizeof(wchar_t));
        FileInfo info;
        info.name = Utf8Of(name);
        // A reparse point's tag is given in place of EaSize.
        info.kind = KindOf(e->FileAttributes, e->EaSize);
        info.id = {folder.id().device,
                   static_cast<uint64_t>(e->FileId.QuadPart)};
        info.complete = true;
        info.mtime_ns = NsOf(e->LastWriteTime.QuadPart);
        info.size = e->EndOfFile.QuadPart;
        info.mode = e->FileAttributes;
        // A file system that lists no ids: the entry tells its own.
        FileInfo own;
        if (e->FileId.QuadPart == 0) {
          info.complete = Stat(folder, info.name, Follow::kNo, &own).ok() &&
                          own.kind != FileKind::kMissing;
          if (info.complete) info = own;
        }
        if (name != L"." && name != L"..") entries.push_back(std::move(info));
        if (e->NextEntryOffset == 0) break;
        at += e->NextEntryOffset;
      }
    }
    if (GetLastError() != ERROR_NO_MORE_FILES) {
      return WindowsError("cannot list", folder.path(), GetLastError());
    }
    for (const FileInfo& entry : entries) each(entry);
    return Status::Ok();
  }

  Status Stat(const Folder& folder, const std::string& name, Follow follow,
              FileInfo* info) override {
    *info = FileInfo();
    const std::string shown = folder.path() + name;
    std::wstring path;
    if (!PathOf(folder, name, &path)) return BadName("cannot examine", shown);
    DWORD error = StatPath(path, false, info);
    if (error == 0 && info->kind == FileKind::kLink && follow == Follow::kYes) {
      error = StatPath(path, true, info);
    }
    if (error != 0) *info = FileInfo();
    info->name = name;
    return IsMissing(error) ? Status::Ok()
                            : Checked(error, "cannot examine", shown);
  }

  Status MakeFolder(const Folder& parent, const std::string& name,
                    const FileInfo*, std::unique_ptr<Folder>* made) override {
    const std::string shown = parent.path() + name;
    std::wstring path;
    if (!PathOf(parent, name, &path)) {
      return BadName("cannot create folder", shown);
    }
    if (!CreateDirectoryW(path.c_str(), nullptr)) {
      return WindowsError("cannot create folder", shown, GetLastError());
    }
    return OpenFolderAt(path + L'\\', parent.native()->root_size,
                        shown + kPathSeparator, false, made);
  }

  Status FinishFolder(const Folder& folder, const FileInfo& like) override {
    const Folder::Native& native = *folder.native();
    HANDLE handle = OpenAny(OpenName(native.path, native.root_size),
                            FILE_WRITE_ATTRIBUTES, false);
    DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (error == 0) {
      error = SetTimeAndAttributes(handle, like);
      CloseHandle(handle);
    }
    return Checked(error, "cannot set the time and attributes of folder",
                   folder.path());
  }

  Status MayRemove(const Folder& folder, const FileInfo& entry,
                   Leave leave) override {
    // A read-only file may be renamed, not removed.
    FileInfo info = entry;
    if (leave == Leave::kRenamed ||
        (!info.complete &&
         !Stat(folder, entry.name, Follow::kNo, &info).ok()) ||
        info.kind == FileKind::kFolder ||
        !(info.mode & FILE_ATTRIBUTE_READONLY)) {
      return Status::Ok();
    }
    return ReadOnly("cannot remove", folder.path() + entry.name);
  }

  Status Remove(const Folder& folder, const std::string& name) override {
    const std::string shown = folder.path() + name;
    std::wstring path;
    if (!PathOf(folder, name, &path)) return BadName("cannot remove", shown);
    // A link to a folder goes as a folder does; what it leads to stays.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool known = attributes != INVALID_FILE_ATTRIBUTES;
    if (known && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            ? RemoveDirectoryW(path.c_str())
            : DeleteFileW(path.c_str())) {
      return Status::Ok();
    }
    if (GetLastError() == ERROR_ACCESS_DENIED && known &&
        (attributes & FILE_ATTRIBUTE_READONLY)) {
      return ReadOnly("cannot remove", shown);
    }
    return WindowsError("cannot remove", shown, GetLastError());
  }

  Status Rename(const Folder& from, const std::string& from_name,
                const Folder& to, const std::string& to_name) override {
    const std::string shown =
        from.path() + from_name + " to " + to.path() + to_name;
    std::wstring from_path, to_path;
    if (!PathOf(from, from_name, &from_path) ||
        !PathOf(to, to_name, &to_path)) {
      return BadName("cannot move", shown);
    }
    // Never replacing; across volumes ERROR_NOT_SAME_DEVICE (EXDEV).
    return Checked(
        MoveFileExW(from_path.c_str(), to_path.c_str(), MOVEFILE_WRITE_THROUGH)
            ? 0
            : GetLastError(),
        "cannot move", shown);
  }

  Status OpenForCopy(const Folder& folder, const std::string& name,
                     Follow follow, std::unique_ptr<OpenFile>* file,
                     FileInfo* info) override {
    const std::string shown = folder.path() + name;
    std::wstring path;
    if (!PathOf(folder, name, &path)) return BadName("cannot copy", shown);
    // Shared with writers (a live log is copied as it stands) and deletes.
    HANDLE handle = OpenAny(path, GENERIC_READ, follow == Follow::kYes);
    if (handle == INVALID_HANDLE_VALUE) {
      return WindowsError("cannot copy", shown, GetLastError());
    }
    auto* native = new OpenFile::Native;
    native->handle = handle;
    native->shown = shown;
    file->reset(new OpenFile(native));
    DWORD error = InfoOfHandle(handle, info);
    if (error == 0 && info->kind == FileKind::kFile &&
        (info->mode & FILE_ATTRIBUTE_REPARSE_POINT)) {
      // A cloud or deduplicated file: its data is what it shows as a file.
      const FileId id = info->id;
      HANDLE data = OpenAny(path, GENERIC_READ, true);
      error = data == INVALID_HANDLE_VALUE ? GetLastError() : 0;
      if (error == 0) {
        CloseHandle(native->handle);
        native->handle = data;
        error = InfoOfHandle(data, info);
      }
      if (error == 0 && info->id != id) error = ERROR_FILE_NOT_FOUND;
    }
    if (error != 0) return WindowsError("cannot copy", shown, error);
    info->name = name;
    if (info->kind != FileKind::kFile) {
      file->reset();
      return Status::Failure("cannot copy", shown, "not a regular file",
                             EINVAL);
    }
    return Status::Ok();
  }

  Status StatOpen(OpenFile& file, FileInfo* info) override {
    return Checked(InfoOfHandle(file.native()->handle, info), "cannot examine",
                   file.native()->shown);
  }

  Status CreateTemp(const Folder& folder, const std::string* link_target,
                    std::unique_ptr<OpenFile>* temp) override {
    if (link_target != nullptr) {
      return Status::Failure("cannot create a link in", folder.path(),
                             "links are not carried on Windows", ENOTSUP);
    }
    auto* native = new OpenFile::Native;
    temp->reset(new OpenFile(native));
    const std::wstring& in = folder.native()->path;
    if (DWORD error = CreateTempIn(
            in, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, native)) {
      temp->reset();
      return WindowsError("cannot create a file in", folder.path(), error);
    }
    native->shown = folder.path() + Utf8Of(native->path.substr(in.size()));
    native->folder_shown = folder.path();
    return Status::Ok();
  }

  Status CopyData(OpenFile& from, const FileInfo& info, OpenFile& to) override {
    // Holes are written as zeros; a file that claims to be empty is copied
    // whole, what any file adds meanwhile is left for the next copy.
    const uint64_t end =
        info.size > 0 ? static_cast<uint64_t>(info.size) : UINT64_MAX;
    std::vector<char> buffer(size_t{1} << 20);
    for (uint64_t copied = 0; copied < end;) {
      DWORD got = 0;
      DWORD error = ReadFile(from.native()->handle, buffer.data(),
                             std::min<uint64_t>(buffer.size(), end - copied),
                             &got, nullptr)
                        ? 0
                        : GetLastError();
      if (error == 0 && got == 0) break;
      if (error == 0)
        error = WriteAt(to.native()->handle, {buffer.data(), got}, copied);
      if (error != 0) {
        return WindowsError("cannot copy the data of", from.native()->shown,
                            error);
      }
      copied += got;
    }
    return Status::Ok();
  }

  Status SetAttributes(OpenFile& to, const FileInfo& like, Owner) override {
    return Checked(SetTimeAndAttributes(to.native()->handle, like),
                   "cannot set the time and attributes of", to.native()->shown);
  }

  Status Flush(const std::vector<OpenFile*>& files) override {
    for (OpenFile* file : files) {
      if (file->native()->handle != nullptr &&
          !FlushFileBuffers(file->native()->handle)) {
        return WindowsError("cannot flush", file->native()->shown,
                            GetLastError());
      }
    }
    return Status::Ok();
  }

  Status Publish(OpenFile& temp, const std::string& name,
                 Replace replace) override {
    OpenFile::Native& native = *temp.native();
    const std::string shown = native.folder_shown + name;
    std::wstring path;
    if (!PathIn(native.folder, name, &path)) {
      return BadName("cannot create", shown);
    }
    // Closed (and flushed) first: renames by handle differ among versions.
    if (native.handle != nullptr) CloseHandle(native.handle);
    native.handle = nullptr;
    if (!MoveFileExW(
            native.path.c_str(), path.c_str(),
            MOVEFILE_WRITE_THROUGH |
                (replace == Replace::kYes ? MOVEFILE_REPLACE_EXISTING : 0))) {
      return WindowsError("cannot create", shown, GetLastError());
    }
    native.published = true;
    return Status::Ok();
  }

  Status ReadWholeFile(const std::string& path, WholeFile* file) override {
    *file = WholeFile{path, path, {}, {}};
    std::wstring full;
    if (DWORD error = FullPathOf(path, &full)) {
      return WindowsError("cannot read", path, error);
    }
    FileInfo info;
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    bool linked = false;
    for (bool follow : {false, true}) {
      handle = OpenAny(full, GENERIC_READ, follow);
      error = handle == INVALID_HANDLE_VALUE ? GetLastError()
                                             : InfoOfHandle(handle, &info);
      if (error != 0 || info.kind != FileKind::kLink) break;
      linked = CloseHandle(handle);
    }
    if (error == 0 && linked) {
      std::wstring target(32768, L'\0');  // the longest path Windows has
      target.resize(
          GetFinalPathNameByHandleW(handle, target.data(), target.size(), 0));
      if (!target.empty()) file->target = ShownPath(target);
    }
    if (error == 0 && info.kind != FileKind::kFile) {
      CloseHandle(handle);
      return Status::Failure("cannot read", path, "not a regular file",
                             info.kind == FileKind::kFolder ? EISDIR : EINVAL);
    }
    if (error == 0) error = ReadAll(handle, info.size, &file->bytes);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    if (error != 0 && !IsMissing(error)) {
      return WindowsError("cannot read", path, error);
    }
    if (error == 0) file->info = info;
    return Status::Ok();
  }

  SaveWay ChooseSaveWay(const WholeFile& file) override {
    // ReplaceFileW keeps owner, ACL, attributes and streams, not other names.
    return file.info.kind == FileKind::kMissing ? SaveWay::kNew
           : file.info.links == 1               ? SaveWay::kRename
                                                : SaveWay::kInPlace;
  }

  Status SaveWholeFile(const WholeFile& file, std::string_view bytes,
                       SaveWay way, SaveStep step) override {
    std::wstring target;
    if (DWORD error = FullPathOf(file.target, &target)) {
      return WindowsError("cannot save", file.path, error);
    }
    if (way != SaveWay::kNew && (file.info.mode & FILE_ATTRIBUTE_READONLY)) {
      return ReadOnly("cannot save", file.path);
    }
    if (way == SaveWay::kInPlace) return SaveInPlace(file, target, bytes, step);
    if (step == SaveStep::kForesee) return Status::Ok();
    const std::wstring folder = target.substr(0, target.rfind(L'\\') + 1);
    auto* native = new OpenFile::Native;
    OpenFile temp(native);  // removed unless published
    // Hidden until it replaces the file; a new file is made as any is.
    DWORD error = CreateTempIn(
        folder,
        way == SaveWay::kNew ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_HIDDEN,
        native);
    if (error == ERROR_ACCESS_DENIED && way == SaveWay::kRename) {
      // A folder that takes no new file: the file's own bytes are rewritten.
      return SaveInPlace(file, target, bytes, step);
    }
    if (error == 0 && step == SaveStep::kFirstOnly) {
      error =
          TakeRoom(native->handle, folder, std::max<size_t>(bytes.size(), 1));
    }
    if (error != 0 || step == SaveStep::kFirstOnly) {
      return Checked(error, "cannot save", file.path);
    }
    error = WriteAt(native->handle, bytes, 0);
    if (error == 0 && !FlushFileBuffers(native->handle)) error = GetLastError();
    CloseHandle(native->handle);
    native->handle = nullptr;
    if (error != 0) return WindowsError("cannot save", file.path, error);
    if (way == SaveWay::kRename &&
        ReplaceFileW(target.c_str(), native->path.c_str(), nullptr, 0, nullptr,
                     nullptr)) {
      native->published = true;
      return Status::Ok();
    }
    // A new file, or one whose old file is gone: it takes the name, or stays.
    error = way == SaveWay::kNew ? 0 : GetLastError();
    if (error != 0 && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
      return WindowsError("cannot save", file.path, error);
    }
    if (!MoveFileExW(native->path.c_str(), target.c_str(),
                     MOVEFILE_WRITE_THROUGH)) {
      const Status failed =
          WindowsError("cannot save", file.path, GetLastError());
      if (way == SaveWay::kNew) return failed;
      native->published = true;
      return Status::Failure(
          "cannot save", file.path,
          failed.reason() + "; its new text is in " + ShownPath(native->path),
          failed.error_number());
    }
    native->published = true;
    return Status::Ok();
  }

  Status LockFile(const std::string& path, SaveStep step,
                  const std::function<void()>& on_wait,
                  std::unique_ptr<FileLock>* lock) override {
    const char* what = "cannot lock";
    std::wstring full;
    if (DWORD error = FullPathOf(path, &full)) {
      return WindowsError(what, path, error);
    }
    FileInfo info;
    const DWORD error =
        step == SaveStep::kForesee ? StatPath(full, false, &info) : 0;
    if (error != 0) {
      return IsMissing(error) ? Status::Ok() : WindowsError(what, path, error);
    }
    for (bool waited = false; step != SaveStep::kForesee; waited = true) {
      // Shared for reading only: this run may read it, a second not open it.
      HANDLE handle = CreateFileW(
          full.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
          nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        const DWORD failed = InfoOfHandle(handle, &info);
        if (failed == 0 && info.kind == FileKind::kFile &&
            !(info.mode & FILE_ATTRIBUTE_READONLY)) {
          *lock = std::make_unique<WindowsFileLock>(handle);
          return Status::Ok();
        }
        CloseHandle(handle);
        if (failed != 0) return WindowsError(what, path, failed);
        break;
      }
      if (GetLastError() != ERROR_SHARING_VIOLATION) {
        return WindowsError(what, path, GetLastError());
      }
      if (!waited) on_wait();
      Sleep(100);
    }
    if (info.kind != FileKind::kFile) {
      return Status::Failure(what, path, "not a regular file", EINVAL);
    }
    return info.mode & FILE_ATTRIBUTE_READONLY ? ReadOnly(what, path)
                                               : Status::Ok();
  }
};

}  // namespace

Env* Env::Default() {
  static WindowsEnv* env = new WindowsEnv();
  return env;
}

}  // namespace dravelkent
