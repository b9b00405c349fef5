// The Windows Env: the date, paths, folders and names, and what the user may
// do with them; files are in file_windows.cc, whole files and the lock in
// whole_file_windows.cc.

#include "fsutil/env_windows.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

namespace dravelkent {

const char kPathSeparator = '\\';
const NameCase kFileNameCase = NameCase::kInsensitive;

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

void Folder::NativeDeleter::operator()(Native* native) const {
  if (native->handle != nullptr) CloseHandle(native->handle);
  delete native;
}

Env* Env::Default() {
  static WindowsEnv* env = new WindowsEnv();
  return env;
}

Status BadName(const std::string& what, const std::string& path) {
  return Status::Failure(what, path, "not a valid file name on Windows",
                         EINVAL);
}

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

unsigned long FullPathOf(const std::string& path, std::wstring* full) {
  std::wstring wide;
  if (path.empty() || !WideOf(path, &wide)) return ERROR_INVALID_NAME;
  std::wstring buffer(GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr),
                      L'\0');
  const DWORD size =
      GetFullPathNameW(wide.c_str(), buffer.size(), buffer.data(), nullptr);
  if (size == 0 || size >= buffer.size()) return GetLastError();
  buffer.resize(size);
  if (buffer.starts_with(L"\\\\?\\") || buffer.starts_with(L"\\\\.\\")) {
    *full = buffer;
  } else if (buffer.starts_with(L"\\\\")) {
    *full = L"\\\\?\\UNC\\" + buffer.substr(2);
  } else {
    *full = L"\\\\?\\" + buffer;
  }
  return 0;
}

void* OpenPath(const std::wstring& path, unsigned long access, bool follow) {
  return CreateFileW(
      path.c_str(), access,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
      nullptr);
}

unsigned long InfoOfHandle(void* handle, FileInfo* info) {
  BY_HANDLE_FILE_INFORMATION by;
  if (!GetFileInformationByHandle(handle, &by)) return GetLastError();
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if ((by.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      !GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag,
                                    sizeof tag)) {
    return GetLastError();
  }
  info->kind = IsLinkTag(by.dwFileAttributes, tag.ReparseTag) ? FileKind::kLink
               : by.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY
                   ? FileKind::kFolder
                   : FileKind::kFile;
  info->id = {by.dwVolumeSerialNumber,
              uint64_t{by.nFileIndexHigh} << 32 | by.nFileIndexLow};
  info->complete = true;
  info->mtime_ns =
      NsOfFileTime(uint64_t{by.ftLastWriteTime.dwHighDateTime} << 32 |
                   by.ftLastWriteTime.dwLowDateTime);
  info->size =
      static_cast<int64_t>(uint64_t{by.nFileSizeHigh} << 32 | by.nFileSizeLow);
  info->may_have_holes = false;
  info->mode = by.dwFileAttributes;
  info->links = by.nNumberOfLinks;
  return 0;
}

bool IsLinkTag(uint32_t attributes, uint32_t reparse_tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         IsReparseTagNameSurrogate(reparse_tag);
}

// 116444736000000000: the 100 ns ticks from 1601 to 1970.
int64_t NsOfFileTime(uint64_t ticks) {
  return (static_cast<int64_t>(ticks) - 116444736000000000) * 100;
}

uint64_t FileTimeOfNs(int64_t ns) {
  return static_cast<uint64_t>(ns / 100 - (ns % 100 < 0 ? 1 : 0) +
                               116444736000000000);
}

unsigned long SetTimeAndAttributes(void* handle, const FileInfo& like) {
  FILE_BASIC_INFO basic = {};
  basic.LastWriteTime.QuadPart =
      static_cast<LONGLONG>(FileTimeOfNs(like.mtime_ns));
  basic.FileAttributes =
      like.mode & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                   FILE_ATTRIBUTE_ARCHIVE);
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)
             ? 0
             : GetLastError();
}

namespace {

bool PathOf(const Folder& folder, const std::string& name, std::wstring* path) {
  return PathIn(folder.native()->path, name, path);
}

// The name the folder |path| (ending in "\") is opened by: a root with its
// separator, another folder without.
std::wstring OpenName(const std::wstring& path, size_t root_size) {
  return path.size() > root_size ? path.substr(0, path.size() - 1) : path;
}

// Opens the folder |path| (full, ending in "\") into |*folder|, named
// |shown|: shared for reading and writing but not for deleting, so that its
// path names it while it is held.
Status OpenFolderAt(std::wstring path, size_t root_size, std::string shown,
                    bool follow, std::unique_ptr<Folder>* folder) {
  const std::wstring name = OpenName(path, root_size);
  const DWORD flags =
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  bool listable = true;
  HANDLE handle = INVALID_HANDLE_VALUE;
  for (DWORD access : {DWORD{FILE_LIST_DIRECTORY}, DWORD{0}}) {
    // Without the right to list it, opened to reach the names in it.
    handle =
        CreateFileW(name.c_str(), access | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    flags, nullptr);
    listable = access != 0;
    if (handle != INVALID_HANDLE_VALUE ||
        GetLastError() != ERROR_ACCESS_DENIED) {
      break;
    }
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
  if (info.kind == FileKind::kLink) {
    return Status::Failure("cannot open folder", shown,
                           "it is a link (a symbolic link or a junction), "
                           "which is not followed",
                           ELOOP);
  }
  if (info.kind != FileKind::kFolder) {
    return Status::Failure("cannot open folder", shown, "not a folder",
                           ENOTDIR);
  }
  *folder = std::make_unique<Folder>(std::move(shown), info, std::move(native),
                                     listable);
  return Status::Ok();
}

// Fills |*info| for |path|, the link itself unless |follow|. Returns 0 or a
// Windows error.
DWORD StatPath(const std::wstring& path, bool follow, FileInfo* info) {
  HANDLE handle = OpenPath(path, FILE_READ_ATTRIBUTES, follow);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = InfoOfHandle(handle, info);
  CloseHandle(handle);
  return error;
}

// The part of a reparse point's data that names where it leads.
struct ReparseHeader {
  ULONG tag;
  USHORT data_length, reserved, substitute_offset, substitute_length;
};

}  // namespace

CivilDate WindowsEnv::Today() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

bool WindowsEnv::MayFollowLink(const FileInfo&) { return true; }

Status WindowsEnv::OpenStart(const std::string& path,
                             std::unique_ptr<Folder>* start,
                             std::string* rest) {
  auto separator = [&](size_t i) {
    return i < path.size() && IsPathSeparator(path[i]);
  };
  size_t end = 0;  // of the root as written
  if (separator(0) && separator(1)) {
    // \\server\share\, \\?\C:\ or \\?\UNC\server\share\.
    int names = 2;
    if (path.size() > 3 && (path[2] == '?' || path[2] == '.') && separator(3)) {
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
  // The drive, share or volume it starts with, its separator included.
  size_t root_size = 4;
  for (int parts = full.compare(4, 4, L"UNC\\") == 0 ? 3 : 1; parts > 0;
       --parts) {
    root_size = std::min(full.find(L'\\', root_size), full.size() - 1) + 1;
  }
  return OpenFolderAt(std::move(full), root_size, root, true, start);
}

Status WindowsEnv::OpenFolder(const Folder& parent, const std::string& name,
                              std::unique_ptr<Folder>* folder) {
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
  if (!PathOf(parent, name, &path)) return BadName("cannot open folder", shown);
  return OpenFolderAt(path + L'\\', native.root_size, shown, false, folder);
}

Status WindowsEnv::ReadLink(const Folder& folder, const std::string& name,
                            std::string* target) {
  const std::string shown = folder.path() + name;
  std::wstring path;
  if (!PathOf(folder, name, &path)) return BadName("cannot read link", shown);
  HANDLE handle = OpenPath(path, FILE_READ_ATTRIBUTES, false);
  if (handle == INVALID_HANDLE_VALUE) {
    return WindowsError("cannot read link", shown, GetLastError());
  }
  std::vector<ULONG> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE / sizeof(ULONG));
  DWORD size = 0;
  const bool read = DeviceIoControl(
      handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
      buffer.size() * sizeof(ULONG), &size, nullptr);
  const DWORD error = read ? 0 : GetLastError();
  CloseHandle(handle);
  if (!read) return WindowsError("cannot read link", shown, error);
  const auto* header = reinterpret_cast<const ReparseHeader*>(buffer.data());
  // The names follow the header, its print name's offset and length, and
  // for a symbolic link its flags.
  size_t start = sizeof(ReparseHeader) + 2 * sizeof(USHORT);
  if (header->tag == IO_REPARSE_TAG_SYMLINK) {
    start += sizeof(ULONG);
  } else if (header->tag != IO_REPARSE_TAG_MOUNT_POINT) {
    return Status::Failure("cannot read link", shown,
                           "not a symbolic link or a junction", EINVAL);
  }
  start += header->substitute_offset;
  if (start + header->substitute_length > size) {
    return Status::Failure("cannot read link", shown, "malformed link", EIO);
  }
  std::wstring link(header->substitute_length / sizeof(wchar_t), L'\0');
  memcpy(link.data(), reinterpret_cast<const char*>(buffer.data()) + start,
         header->substitute_length);
  // "\??\C:\x" is the system's own name of "\\?\C:\x".
  if (link.starts_with(L"\\??\\")) link[1] = L'\\';
  *target = Utf8Of(link);
  return Status::Ok();
}

Status WindowsEnv::List(const Folder& folder,
                        const std::function<void(const FileInfo&)>& each) {
  // Read whole before any is handed on, from the folder held open.
  std::vector<FileInfo> entries;
  std::vector<uint64_t> buffer(8192);
  FILE_INFO_BY_HANDLE_CLASS which = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(folder.native()->handle, which,
                                      buffer.data(),
                                      buffer.size() * sizeof(uint64_t))) {
    which = FileIdBothDirectoryInfo;
    for (const char* at = reinterpret_cast<const char*>(buffer.data());;) {
      const auto* e = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      std::wstring_view name(e->FileName, e->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        FileInfo info;
        info.name = Utf8Of(name);
        // A reparse point's tag is given in place of EaSize.
        info.kind = IsLinkTag(e->FileAttributes, e->EaSize) ? FileKind::kLink
                    : e->FileAttributes & FILE_ATTRIBUTE_DIRECTORY
                        ? FileKind::kFolder
                        : FileKind::kFile;
        info.id = {folder.id().device,
                   static_cast<uint64_t>(e->FileId.QuadPart)};
        info.complete = true;
        info.mtime_ns = NsOfFileTime(e->LastWriteTime.QuadPart);
        info.size = e->EndOfFile.QuadPart;
        info.mode = e->FileAttributes;
        // A file system that lists no ids: the entry tells its own.
        FileInfo own;
        if (e->FileId.QuadPart == 0) {
          info.complete = Stat(folder, info.name, Follow::kNo, &own).ok() &&
                          own.kind != FileKind::kMissing;
          if (info.complete) info = own;
        }
        entries.push_back(std::move(info));
      }
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

Status WindowsEnv::Stat(const Folder& folder, const std::string& name,
                        Follow follow, FileInfo* info) {
  *info = FileInfo();
  const std::string shown = folder.path() + name;
  std::wstring path;
  if (!PathOf(folder, name, &path)) return BadName("cannot examine", shown);
  DWORD error = StatPath(path, false, info);
  if (error == 0 && info->kind == FileKind::kLink && follow == Follow::kYes) {
    error = StatPath(path, true, info);
  }
  if (error != 0) {
    *info = FileInfo();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      return WindowsError("cannot examine", shown, error);
    }
  }
  info->name = name;
  return Status::Ok();
}

Status WindowsEnv::MakeFolder(const Folder& parent, const std::string& name,
                              const FileInfo*, std::unique_ptr<Folder>* made) {
  // Its attributes and time come with FinishFolder.
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

Status WindowsEnv::FinishFolder(const Folder& folder, const FileInfo& like) {
  const Folder::Native& native = *folder.native();
  HANDLE handle = OpenPath(OpenName(native.path, native.root_size),
                           FILE_WRITE_ATTRIBUTES, false);
  DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (error == 0) {
    error = SetTimeAndAttributes(handle, like);
    CloseHandle(handle);
  }
  if (error != 0) {
    return WindowsError("cannot set the time and attributes of folder",
                        folder.path(), error);
  }
  return Status::Ok();
}

Status WindowsEnv::MayChangeNames(const Folder&) { return Status::Ok(); }

Status WindowsEnv::MayRemove(const Folder& folder, const FileInfo& entry,
                             Leave leave) {
  // A read-only file may be renamed, not removed.
  FileInfo info = entry;
  if (leave == Leave::kRenamed ||
      (!info.complete && !Stat(folder, entry.name, Follow::kNo, &info).ok()) ||
      info.kind == FileKind::kFolder ||
      !(info.mode & FILE_ATTRIBUTE_READONLY)) {
    return Status::Ok();
  }
  return Status::Failure("cannot remove", folder.path() + entry.name,
                         "the file is read-only", EACCES);
}

Status WindowsEnv::MayRead(const Folder&, const std::string&) {
  return Status::Ok();
}

Status WindowsEnv::Remove(const Folder& folder, const std::string& name) {
  const std::string shown = folder.path() + name;
  std::wstring path;
  if (!PathOf(folder, name, &path)) return BadName("cannot remove", shown);
  // A link to a folder is a folder's entry: it goes as a folder does, and
  // what it leads to stays.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  const bool known = attributes != INVALID_FILE_ATTRIBUTES;
  const bool folder_link = known && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                           (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (folder_link ? RemoveDirectoryW(path.c_str())
                  : DeleteFileW(path.c_str())) {
    return Status::Ok();
  }
  const DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED && known &&
      (attributes & FILE_ATTRIBUTE_READONLY)) {
    return Status::Failure("cannot remove", shown, "the file is read-only",
                           EACCES);
  }
  return WindowsError("cannot remove", shown, error);
}

Status WindowsEnv::Rename(const Folder& from, const std::string& from_name,
                          const Folder& to, const std::string& to_name) {
  const std::string shown =
      from.path() + from_name + " to " + to.path() + to_name;
  std::wstring from_path, to_path;
  if (!PathOf(from, from_name, &from_path) || !PathOf(to, to_name, &to_path)) {
    return BadName("cannot move", shown);
  }
  // Never replacing; across volumes ERROR_NOT_SAME_DEVICE (EXDEV).
  if (!MoveFileExW(from_path.c_str(), to_path.c_str(),
                   MOVEFILE_WRITE_THROUGH)) {
    return WindowsError("cannot move", shown, GetLastError());
  }
  return Status::Ok();
}

}  // namespace dravelkent
