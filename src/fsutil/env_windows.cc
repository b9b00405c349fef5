// The Windows Env: the date, paths, folders and names, and what the user may
// do with them. Files are in file_windows.cc, whole files and the lock in
// whole_file_windows.cc, what they share in system_windows.cc.

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

namespace {

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The length of the drive, share or volume that the "\\?\" path |path|
// starts with, its separator included.
size_t RootSize(const std::wstring& path) {
  size_t end = 4;
  for (int names = path.compare(4, 4, L"UNC\\") == 0 ? 3 : 1; names > 0;
       --names) {
    size_t separator = path.find(L'\\', end);
    if (separator == std::wstring::npos) return path.size();
    end = separator + 1;
  }
  return end;
}

bool PathOf(const Folder& folder, const std::string& name, std::wstring* path) {
  return PathIn(folder.native()->path, name, path);
}

// The name |path| (ending in "\") is opened by: a root with its separator,
// another folder without.
std::wstring OpenName(const std::wstring& path, size_t root_size) {
  return path.size() > root_size ? path.substr(0, path.size() - 1) : path;
}

HANDLE OpenPath(const std::wstring& path, DWORD access, bool follow) {
  return CreateFileW(
      path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
      nullptr);
}

// Opens the folder |path| (full, ending in "\") into |*folder|, named
// |shown|: shared for reading and writing but not for deleting, so that
// its path names it while it is held.
Status OpenFolderAt(std::wstring path, size_t root_size, std::string shown,
                    bool follow, std::unique_ptr<Folder>* folder) {
  const std::wstring name = OpenName(path, root_size);
  const DWORD flags =
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  bool listable = true;
  HANDLE handle = CreateFileW(
      name.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      share, nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    // Only to reach the names in it.
    listable = false;
    handle = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                         share, nullptr, OPEN_EXISTING, flags, nullptr);
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

// Fills |*info| for |path|, the link itself unless |follow|. Returns 0 or
// a Windows error.
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
  USHORT data_length;
  USHORT reserved;
  USHORT substitute_offset;
  USHORT substitute_length;
  USHORT print_offset;
  USHORT print_length;
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
    end = 2;
    for (; names > 0; --names) {
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
  size_t names = path.find_first_not_of("\\/", end);
  *rest = names == std::string::npos ? "" : path.substr(names);
  std::wstring full;
  DWORD error = 0;
  if (!FullPathOf(root.empty() ? "." : root, &full, &error)) {
    return WindowsError("cannot open folder", root, error);
  }
  if (!full.ends_with(L'\\')) full += L'\\';
  const size_t root_size = RootSize(full);
  return OpenFolderAt(std::move(full), root_size, root, true, start);
}

Status WindowsEnv::OpenFolder(const Folder& parent, const std::string& name,
                              std::unique_ptr<Folder>* folder) {
  const std::string shown = parent.path() + name + kPathSeparator;
  const Folder::Native& native = *parent.native();
  if (name == "..") {
    // Held open, a folder's path names it: its parent is the path's.
    const std::wstring& path = native.path;
    size_t end = path.size() > native.root_size
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
  size_t names = sizeof(ReparseHeader);
  if (header->tag == IO_REPARSE_TAG_SYMLINK) {
    names += sizeof(ULONG);  // its flags
  } else if (header->tag != IO_REPARSE_TAG_MOUNT_POINT) {
    return Status::Failure("cannot read link", shown,
                           "not a symbolic link or a junction", EINVAL);
  }
  const size_t start = names + header->substitute_offset;
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
  while (true) {
    if (!GetFileInformationByHandleEx(folder.native()->handle, which,
                                      buffer.data(),
                                      buffer.size() * sizeof(uint64_t))) {
      const DWORD error = GetLastError();
      if (error == ERROR_NO_MORE_FILES) break;
      return WindowsError("cannot list", folder.path(), error);
    }
    which = FileIdBothDirectoryInfo;
    const char* at = reinterpret_cast<const char*>(buffer.data());
    while (true) {
      const auto* e = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      std::wstring_view name(e->FileName, e->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        FileInfo info;
        info.name = Utf8Of(name);
        // The reparse tag of a reparse point is given in place of EaSize.
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
    if (!IsMissing(error)) return WindowsError("cannot examine", shown, error);
  }
  info->name = name;
  return Status::Ok();
}

Status WindowsEnv::MakeFolder(const Folder& parent, const std::string& name,
                              const FileInfo*, std::unique_ptr<Folder>* made) {
  // Its attributes and time come with FinishFolder.
  const std::string shown = parent.path() + name;
  std::wstring path;
  if (!PathOf(parent, name, &path))
    return BadName("cannot create folder", shown);
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

Status WindowsEnv::MayRemove(const Folder& folder, const FileInfo& entry) {
  FileInfo info = entry;
  if (!info.complete) {
    Status examined = Stat(folder, entry.name, Follow::kNo, &info);
    if (!examined.ok()) return examined;
  }
  if (info.kind != FileKind::kFolder && (info.mode & FILE_ATTRIBUTE_READONLY)) {
    return Status::Failure("cannot remove", folder.path() + entry.name,
                           "the file is read-only", EACCES);
  }
  return Status::Ok();
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
  const bool folder_link = attributes != INVALID_FILE_ATTRIBUTES &&
                           (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                           (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (folder_link ? RemoveDirectoryW(path.c_str())
                  : DeleteFileW(path.c_str())) {
    return Status::Ok();
  }
  const DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
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
