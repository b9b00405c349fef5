// The Windows Env's whole files: the settings file read and saved, and the
// run lock.

#include <windows.h>

#include <algorithm>

#include "fsutil/env_windows.h"

namespace dravelkent {
namespace {

constexpr int kNameAttempts = 100;
constexpr DWORD kLockRetryMs = 100;

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The path the user would write for the "\\?\" path |path|.
std::string ShownPath(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) return "\\" + Utf8Of(path.substr(7));
  if (path.starts_with(L"\\\\?\\")) return Utf8Of(path.substr(4));
  return Utf8Of(path);
}

// The path of the file |handle| is open on, as the user would write it.
std::string FinalPathOf(HANDLE handle, const std::string& otherwise) {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    DWORD size = GetFinalPathNameByHandleW(handle, path.data(), path.size(),
                                           FILE_NAME_NORMALIZED);
    if (size == 0) return otherwise;
    const bool fits = size < path.size();
    path.resize(size);
    if (fits) return ShownPath(path);
  }
}

// Reads the rest of the open |handle|, more than |expected| bytes should it
// have grown. Returns 0 or a Windows error.
DWORD ReadAll(HANDLE handle, size_t expected, std::string* bytes) {
  bytes->resize(expected + 1);
  size_t filled = 0;
  while (true) {
    if (filled == bytes->size()) bytes->resize(bytes->size() * 2);
    DWORD got = 0;
    const DWORD size = static_cast<DWORD>(
        std::min<size_t>(bytes->size() - filled, size_t{1} << 30));
    if (!ReadFile(handle, bytes->data() + filled, size, &got, nullptr)) {
      return GetLastError();
    }
    filled += got;
    if (got == 0) break;
  }
  bytes->resize(filled);
  return 0;
}

Status ReadOnly(const std::string& what, const std::string& path) {
  return Status::Failure(what, path, "the file is read-only", EACCES);
}

// Sets the end of |handle| (FileEndOfFileInfo) or the room taken for it
// (FileAllocationInfo) to |size|. Returns 0 or a Windows error.
DWORD SetSize(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS which, size_t size) {
  LARGE_INTEGER value;
  value.QuadPart = static_cast<LONGLONG>(size);
  return SetFileInformationByHandle(handle, which, &value, sizeof value)
             ? 0
             : GetLastError();
}

// Takes the room for |size| bytes for |handle|, in the folder |folder|; where
// the file system cannot (FileAllocationInfo unsupported), says whether the
// volume has that room free. Returns 0 or a Windows error.
DWORD TakeRoom(HANDLE handle, const std::wstring& folder, size_t size) {
  DWORD error = SetSize(handle, FileAllocationInfo, size);
  if (error != ERROR_CALL_NOT_IMPLEMENTED && error != ERROR_NOT_SUPPORTED &&
      error != ERROR_INVALID_PARAMETER) {
    return error;
  }
  ULARGE_INTEGER free;
  if (!GetDiskFreeSpaceExW(folder.c_str(), &free, nullptr, nullptr)) {
    return GetLastError();
  }
  return free.QuadPart >= size ? 0 : ERROR_DISK_FULL;
}

// The folder of the full path |path|, ending in "\".
std::wstring FolderOf(const std::wstring& path) {
  return path.substr(0, path.rfind(L'\\') + 1);
}

// Rewrites the bytes of the file |target| that |file| read as |bytes|.
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
  if (error == 0 && now.id != file.info.id) {
    CloseHandle(handle);
    return Status::Error("cannot save " + file.path +
                         ": it was replaced while being saved");
  }
  const size_t old_size = file.bytes.size();
  if (error == 0 && step == SaveStep::kFirstOnly && bytes.size() > old_size) {
    // The room taken beyond the end, and given back.
    error = TakeRoom(handle, FolderOf(target), bytes.size());
    if (error == 0) SetSize(handle, FileAllocationInfo, old_size);
  } else if (error == 0 && step == SaveStep::kAll) {
    size_t first = 0;
    const size_t shorter = std::min(old_size, bytes.size());
    while (first < shorter && file.bytes[first] == bytes[first]) ++first;
    // The room first, so that only a failed write can leave it part old.
    if (bytes.size() > old_size) {
      error = SetSize(handle, FileEndOfFileInfo, bytes.size());
    }
    if (error == 0) error = WriteAt(handle, bytes.substr(first), first);
    if (error == 0) error = SetSize(handle, FileEndOfFileInfo, bytes.size());
    if (error == 0 && !FlushFileBuffers(handle)) error = GetLastError();
  }
  CloseHandle(handle);
  return error == 0 ? Status::Ok()
                    : WindowsError("cannot save", file.path, error);
}

class WindowsFileLock : public FileLock {
 public:
  explicit WindowsFileLock(HANDLE handle) : handle_(handle) {}
  ~WindowsFileLock() override { CloseHandle(handle_); }

 private:
  HANDLE handle_;
};

}  // namespace

Status WindowsEnv::ReadWholeFile(const std::string& path, WholeFile* file) {
  file->path = path;
  file->target = path;
  file->bytes.clear();
  file->info = FileInfo();
  std::wstring full;
  DWORD error = 0;
  if (!FullPathOf(path, &full, &error)) {
    return WindowsError("cannot read", path, error);
  }
  auto open = [&](bool follow) {
    return CreateFileW(full.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS |
                           (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                       nullptr);
  };
  FileInfo info;
  HANDLE handle = open(false);
  error = handle == INVALID_HANDLE_VALUE ? GetLastError()
                                         : InfoOfHandle(handle, &info);
  if (error == 0 && info.kind == FileKind::kLink) {
    CloseHandle(handle);
    handle = open(true);
    error = handle == INVALID_HANDLE_VALUE ? GetLastError()
                                           : InfoOfHandle(handle, &info);
    if (error == 0) file->target = FinalPathOf(handle, path);
  }
  if (error == 0 && info.kind != FileKind::kFile) {
    CloseHandle(handle);
    return Status::Failure("cannot read", path, "not a regular file",
                           info.kind == FileKind::kFolder ? EISDIR : EINVAL);
  }
  if (error == 0) error = ReadAll(handle, info.size, &file->bytes);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  if (IsMissing(error)) return Status::Ok();
  if (error != 0) return WindowsError("cannot read", path, error);
  file->info = info;
  return Status::Ok();
}

SaveWay WindowsEnv::ChooseSaveWay(const WholeFile& file) {
  if (file.info.kind == FileKind::kMissing) return SaveWay::kNew;
  // ReplaceFileW keeps the file's owner, ACL, attributes and streams; other
  // names of the file would part from it.
  return file.info.links == 1 ? SaveWay::kRename : SaveWay::kInPlace;
}

Status WindowsEnv::SaveWholeFile(const WholeFile& file, std::string_view bytes,
                                 SaveWay way, SaveStep step) {
  std::wstring target;
  DWORD error = 0;
  if (!FullPathOf(file.target, &target, &error)) {
    return WindowsError("cannot save", file.path, error);
  }
  if (way != SaveWay::kNew && (file.info.mode & FILE_ATTRIBUTE_READONLY)) {
    return ReadOnly("cannot save", file.path);
  }
  if (way == SaveWay::kInPlace) return SaveInPlace(file, target, bytes, step);
  if (step == SaveStep::kForesee) return Status::Ok();
  const std::wstring folder = FolderOf(target);
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::wstring temp_path;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temp_path = folder + NewTempName();
    handle =
        CreateFileW(temp_path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_HIDDEN, nullptr);
    error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  if (error == ERROR_ACCESS_DENIED && way == SaveWay::kRename) {
    // A folder that takes no new file: the file's own bytes are rewritten.
    return SaveInPlace(file, target, bytes, step);
  }
  if (error != 0) {
    return WindowsError("cannot create a temporary file to save", file.path,
                        error);
  }
  auto* native = new OpenFile::Native;
  native->handle = handle;
  native->path = temp_path;
  native->folder = folder;
  OpenFile temp(native);  // removed unless published
  if (step == SaveStep::kFirstOnly) {
    // A full disk still lets an empty file be made: ask for the room.
    error = TakeRoom(handle, folder, std::max<size_t>(bytes.size(), 1));
    return error == 0 ? Status::Ok()
                      : WindowsError("cannot save", file.path, error);
  }
  error = WriteAt(handle, bytes, 0);
  if (error == 0 && way == SaveWay::kNew) {
    // Made as any new file is, no longer hidden.
    FileInfo plain;
    plain.mtime_ns = NsOfFileTime(0);  // a zero time: left as it is
    plain.mode = FILE_ATTRIBUTE_ARCHIVE;
    error = SetTimeAndAttributes(handle, plain);
  }
  if (error == 0 && !FlushFileBuffers(handle)) error = GetLastError();
  CloseHandle(handle);
  native->handle = nullptr;
  if (error != 0) return WindowsError("cannot save", file.path, error);
  if (way == SaveWay::kNew) {
    if (!MoveFileExW(temp_path.c_str(), target.c_str(),
                     MOVEFILE_WRITE_THROUGH)) {
      return WindowsError("cannot save", file.path, GetLastError());
    }
  } else if (!ReplaceFileW(target.c_str(), temp_path.c_str(), nullptr, 0,
                           nullptr, nullptr)) {
    error = GetLastError();
    // The old file is gone and the new one still has its temporary name:
    // it takes the file's name, or stays for the user to find.
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT &&
        !MoveFileExW(temp_path.c_str(), target.c_str(),
                     MOVEFILE_WRITE_THROUGH)) {
      native->published = true;
      const Status failed =
          WindowsError("cannot save", file.path, GetLastError());
      return Status::Failure(
          "cannot save", file.path,
          failed.reason() + "; its new text is in " + ShownPath(temp_path),
          failed.error_number());
    }
    if (error != ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
      return WindowsError("cannot save", file.path, error);
    }
  }
  native->published = true;
  return Status::Ok();
}

Status WindowsEnv::LockFile(const std::string& path, SaveStep step,
                            const std::function<void()>& on_wait,
                            std::unique_ptr<FileLock>* lock) {
  const char* what = "cannot lock";
  std::wstring full;
  DWORD error = 0;
  if (!FullPathOf(path, &full, &error)) return WindowsError(what, path, error);
  if (step == SaveStep::kForesee) {
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND ? Status::Ok()
                                           : WindowsError(what, path, error);
    }
    if (attributes &
        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
      return Status::Failure(what, path, "not a regular file", EINVAL);
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) return ReadOnly(what, path);
    return Status::Ok();
  }
  bool waited = false;
  while (true) {
    // Held for writing, shared for reading only: a second run's open fails
    // with a sharing violation, while the run itself may still read the
    // file (its id protects it). A file the user cannot open for writing
    // is refused, never waited for.
    HANDLE handle = CreateFileW(
        full.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      FileInfo info;
      error = InfoOfHandle(handle, &info);
      if (error == 0 && info.kind == FileKind::kFile &&
          !(info.mode & FILE_ATTRIBUTE_READONLY)) {
        *lock = std::make_unique<WindowsFileLock>(handle);
        return Status::Ok();
      }
      CloseHandle(handle);
      if (error != 0) return WindowsError(what, path, error);
      // Only an administrator opens a read-only file for writing.
      return info.kind != FileKind::kFile
                 ? Status::Failure(what, path, "not a regular file", EINVAL)
                 : ReadOnly(what, path);
    }
    error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION)
      return WindowsError(what, path, error);
    if (!waited) on_wait();
    waited = true;
    Sleep(kLockRetryMs);
  }
}

}  // namespace dravelkent
