// The Windows Env's whole files: the settings file read and saved, and the
// run lock.

#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "fsutil/env_windows.h"

namespace dravelkent {
namespace {

// The path the user would write for the "\\?\" path |path|.
std::string ShownPath(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) return "\\" + Utf8Of(path.substr(7));
  return Utf8Of(path.starts_with(L"\\\\?\\") ? path.substr(4) : path);
}

// Reads the rest of |handle|, more than |expected| bytes should it have
// grown. Returns 0 or a Windows error.
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

// Takes the room for |size| bytes for |handle| in |folder|; where the file
// system cannot, tells whether the volume has that room free.
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
    error = TakeRoom(handle, target.substr(0, target.rfind(L'\\') + 1),
                     bytes.size());
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
  *file = WholeFile{path, path, {}, {}};
  std::wstring full;
  DWORD error = FullPathOf(path, &full);
  if (error != 0) return WindowsError("cannot read", path, error);
  FileInfo info;
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool linked = false;
  for (bool follow : {false, true}) {
    handle = OpenPath(full, GENERIC_READ, follow);
    error = handle == INVALID_HANDLE_VALUE ? GetLastError()
                                           : InfoOfHandle(handle, &info);
    if (error != 0 || info.kind != FileKind::kLink) break;
    linked = true;
    CloseHandle(handle);
  }
  if (error == 0 && linked) {
    // The file its links lead to, as the user would write it.
    std::wstring target(GetFinalPathNameByHandleW(handle, nullptr, 0, 0),
                        L'\0');
    const DWORD size =
        GetFinalPathNameByHandleW(handle, target.data(), target.size(), 0);
    if (size > 0 && size < target.size()) {
      file->target = ShownPath(target.substr(0, size));
    }
  }
  if (error == 0 && info.kind != FileKind::kFile) {
    CloseHandle(handle);
    return Status::Failure("cannot read", path, "not a regular file",
                           info.kind == FileKind::kFolder ? EISDIR : EINVAL);
  }
  if (error == 0) error = ReadAll(handle, info.size, &file->bytes);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return Status::Ok();
  }
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
  DWORD error = CreateTempIn(folder, FILE_ATTRIBUTE_HIDDEN, native);
  if (error == ERROR_ACCESS_DENIED && way == SaveWay::kRename) {
    // A folder that takes no new file: the file's own bytes are rewritten.
    return SaveInPlace(file, target, bytes, step);
  }
  if (error != 0) {
    return WindowsError("cannot create a temporary file to save", file.path,
                        error);
  }
  if (step == SaveStep::kFirstOnly) {
    // A full disk still lets an empty file be made: ask for the room.
    error = TakeRoom(native->handle, folder, std::max<size_t>(bytes.size(), 1));
    return error == 0 ? Status::Ok()
                      : WindowsError("cannot save", file.path, error);
  }
  error = WriteAt(native->handle, bytes, 0);
  if (error == 0 && way == SaveWay::kNew) {
    // Made as any new file is, no longer hidden; a zero time is left as it
    // is.
    FileInfo plain;
    plain.mtime_ns = NsOfFileTime(0);
    plain.mode = FILE_ATTRIBUTE_ARCHIVE;
    error = SetTimeAndAttributes(native->handle, plain);
  }
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
  // A new file, or the old one gone and the new one still under its
  // temporary name: it takes the file's name, or stays for the user.
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

Status WindowsEnv::LockFile(const std::string& path, SaveStep step,
                            const std::function<void()>& on_wait,
                            std::unique_ptr<FileLock>* lock) {
  const char* what = "cannot lock";
  std::wstring full;
  if (DWORD error = FullPathOf(path, &full)) {
    return WindowsError(what, path, error);
  }
  FileInfo info;
  if (step == SaveStep::kForesee) {
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND ? Status::Ok()
                                           : WindowsError(what, path, error);
    }
    info.kind =
        attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)
            ? FileKind::kSpecial
            : FileKind::kFile;
    info.mode = attributes;
  }
  for (bool waited = false; step != SaveStep::kForesee; waited = true) {
    // Held for writing, shared for reading only: a second run's open fails
    // with a sharing violation, while the run itself may still read the
    // file (its id protects it).
    HANDLE handle = CreateFileW(
        full.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      if (DWORD error = InfoOfHandle(handle, &info)) {
        CloseHandle(handle);
        return WindowsError(what, path, error);
      }
      if (info.kind == FileKind::kFile &&
          !(info.mode & FILE_ATTRIBUTE_READONLY)) {
        *lock = std::make_unique<WindowsFileLock>(handle);
        return Status::Ok();
      }
      CloseHandle(handle);
      break;
    }
    // A file the user cannot open for writing is refused, never waited for.
    if (GetLastError() != ERROR_SHARING_VIOLATION) {
      return WindowsError(what, path, GetLastError());
    }
    if (!waited) on_wait();
    Sleep(100);
  }
  // Only an administrator opens a read-only file for writing.
  if (info.kind != FileKind::kFile) {
    return Status::Failure(what, path, "not a regular file", EINVAL);
  }
  return info.mode & FILE_ATTRIBUTE_READONLY ? ReadOnly(what, path)
                                             : Status::Ok();
}

}  // namespace dravelkent
