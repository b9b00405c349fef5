// The Windows Env's files: sources, new files under a temporary name, their
// data, attributes, flush and publish.

#define _CRT_RAND_S  // rand_s, from the system's random source
#include <stdlib.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "fsutil/env_windows.h"
#include "fsutil/temp_names.h"

namespace dravelkent {

void OpenFile::NativeDeleter::operator()(Native* native) const {
  if (native->handle != nullptr) CloseHandle(native->handle);
  if (!native->folder.empty() && !native->published) {
    // Our own temporary: a read-only attribute it was given is taken back
    // so that it can go.
    const wchar_t* path = native->path.c_str();
    if (!DeleteFileW(path) && GetLastError() == ERROR_ACCESS_DENIED &&
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL)) {
      DeleteFileW(path);
    }
  }
  delete native;
}

unsigned long CreateTempIn(const std::wstring& folder, unsigned long attributes,
                           OpenFile::Native* temp) {
  DWORD error = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned int high = 0, low = 0;
    if (rand_s(&high) != 0 || rand_s(&low) != 0) {
      // No random source: the clock makes it unique enough.
      LARGE_INTEGER now;
      QueryPerformanceCounter(&now);
      high ^= GetCurrentProcessId();
      low ^= static_cast<unsigned int>(now.QuadPart);
    }
    std::wstring name;
    WideOf(FileTempName(uint64_t{high} << 32 | low), &name);
    // Shared for deleting, so that it can be renamed and removed while open.
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

unsigned long WriteAt(void* handle, std::string_view bytes, uint64_t offset) {
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

Status WindowsEnv::OpenForCopy(const Folder& folder, const std::string& name,
                               Follow follow, std::unique_ptr<OpenFile>* file,
                               FileInfo* info) {
  const std::string shown = folder.path() + name;
  std::wstring path;
  if (!PathIn(folder.native()->path, name, &path)) {
    return BadName("cannot copy", shown);
  }
  // Shared with writers (a log being written is copied as it stands) and
  // with a delete (a move removes its source once copied).
  HANDLE handle = OpenPath(path, GENERIC_READ, follow == Follow::kYes);
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
    // A cloud or deduplicated file: its data is what it shows when opened
    // as any file, the same one.
    const FileId id = info->id;
    HANDLE shown_data = OpenPath(path, GENERIC_READ, true);
    if (shown_data == INVALID_HANDLE_VALUE) {
      error = GetLastError();
    } else {
      CloseHandle(native->handle);
      native->handle = shown_data;
      error = InfoOfHandle(shown_data, info);
      if (error == 0 && info->id != id) error = ERROR_FILE_NOT_FOUND;
    }
  }
  if (error != 0) return WindowsError("cannot copy", shown, error);
  info->name = name;
  if (info->kind != FileKind::kFile) {
    file->reset();
    return Status::Failure("cannot copy", shown, "not a regular file", EINVAL);
  }
  return Status::Ok();
}

Status WindowsEnv::StatOpen(OpenFile& file, FileInfo* info) {
  if (DWORD error = InfoOfHandle(file.native()->handle, info)) {
    return WindowsError("cannot examine", file.native()->shown, error);
  }
  return Status::Ok();
}

Status WindowsEnv::CreateTemp(const Folder& folder,
                              const std::string* link_target,
                              std::unique_ptr<OpenFile>* temp) {
  if (link_target != nullptr) {
    return Status::Failure("cannot create a link in", folder.path(),
                           "links are not carried on Windows", ENOTSUP);
  }
  // Hidden until SetAttributes gives it the source's attributes.
  auto* native = new OpenFile::Native;
  temp->reset(new OpenFile(native));
  if (DWORD error = CreateTempIn(
          folder.native()->path,
          FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, native)) {
    temp->reset();
    return WindowsError("cannot create a file in", folder.path(), error);
  }
  native->shown =
      folder.path() + Utf8Of(native->path.substr(folder.native()->path.size()));
  native->folder_shown = folder.path();
  return Status::Ok();
}

Status WindowsEnv::CopyData(OpenFile& from, const FileInfo& info,
                            OpenFile& to) {
  // Holes are written as zeros. A file that claims to be empty is copied
  // whole; what a growing file adds meanwhile is left for the next copy.
  const uint64_t end =
      info.size > 0 ? static_cast<uint64_t>(info.size) : UINT64_MAX;
  std::vector<char> buffer(size_t{1} << 20);
  for (uint64_t copied = 0; copied < end;) {
    DWORD got = 0, error = 0;
    if (!ReadFile(from.native()->handle, buffer.data(),
                  std::min<uint64_t>(buffer.size(), end - copied), &got,
                  nullptr)) {
      error = GetLastError();
    } else if (got == 0) {
      break;
    } else {
      error = WriteAt(to.native()->handle, {buffer.data(), got}, copied);
    }
    if (error != 0) {
      return WindowsError("cannot copy the data of", from.native()->shown,
                          error);
    }
    copied += got;
  }
  return Status::Ok();
}

Status WindowsEnv::SetAttributes(OpenFile& to, const FileInfo& like, Owner) {
  // A copy is the user's, with the folder's permissions, as any new file.
  if (DWORD error = SetTimeAndAttributes(to.native()->handle, like)) {
    return WindowsError("cannot set the time and attributes of",
                        to.native()->shown, error);
  }
  return Status::Ok();
}

Status WindowsEnv::Flush(const std::vector<OpenFile*>& files) {
  for (OpenFile* file : files) {
    if (file->native()->handle != nullptr &&
        !FlushFileBuffers(file->native()->handle)) {
      return WindowsError("cannot flush", file->native()->shown,
                          GetLastError());
    }
  }
  return Status::Ok();
}

Status WindowsEnv::Publish(OpenFile& temp, const std::string& name,
                           Replace replace) {
  OpenFile::Native& native = *temp.native();
  const std::string shown = native.folder_shown + name;
  std::wstring path;
  if (!PathIn(native.folder, name, &path)) {
    return BadName("cannot create", shown);
  }
  // Closed first: a rename by handle takes the new name in a form that
  // differs between versions of Windows. It was flushed before.
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

Status WindowsEnv::FlushFolder(const Folder&) {
  // Every rename was made with MOVEFILE_WRITE_THROUGH.
  return Status::Ok();
}

}  // namespace dravelkent
