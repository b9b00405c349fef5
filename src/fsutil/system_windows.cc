// What the Windows Env's files share: Windows errors said as messages,
// UTF-8 and UTF-16, full paths, and what an open handle tells.

#include <windows.h>

#include <cerrno>

#include "fsutil/env_windows.h"

namespace dravelkent {
namespace {

// 100 ns ticks from 1601 to 1970.
constexpr int64_t kTicksTo1970 = 116444736000000000;

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
      return ENOENT;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
      return EACCES;
    case ERROR_PRIVILEGE_NOT_HELD:
      return EPERM;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_A_REPARSE_POINT:
      return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      return ENOTSUP;
    case ERROR_NO_UNICODE_TRANSLATION:
      return EILSEQ;
    default:
      return EIO;
  }
}

void AppendUtf8(uint32_t c, std::string* text) {
  if (c < 0x80) {
    *text += static_cast<char>(c);
    return;
  }
  const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  *text +=
      static_cast<char>(((0xFF00 >> (tail + 1)) & 0xFF) | (c >> (6 * tail)));
  for (int i = tail - 1; i >= 0; --i) {
    *text += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
  }
}

// The "\\?\" form of the full Win32 path |full|.
std::wstring LongForm(const std::wstring& full) {
  if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) {
    return full;
  }
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

bool ValidName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

}  // namespace

Status BadName(const std::string& what, const std::string& path) {
  return Status::Failure(what, path, "not a valid file name on Windows",
                         EINVAL);
}

bool PathIn(const std::wstring& folder, const std::string& name,
            std::wstring* path) {
  std::wstring wide;
  if (!ValidName(name) || !WideOf(name, &wide)) return false;
  *path = folder + wide;
  return true;
}

Status WindowsError(const std::string& what, const std::string& path,
                    unsigned long error) {
  wchar_t* text = nullptr;
  DWORD size = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason = size > 0 ? Utf8Of({text, size}) : "";
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() && std::string_view(" .\r\n").find(reason.back()) !=
                                std::string_view::npos) {
    reason.pop_back();
  }
  if (reason.empty()) reason = "Windows error " + std::to_string(error);
  return Status::Failure(what, path, reason, ErrnoOf(error));
}

bool WideOf(std::string_view text, std::wstring* wide) {
  wide->clear();
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = text[i];
    const size_t size = lead < 0x80   ? 1
                        : lead < 0xC2 ? 0
                        : lead < 0xE0 ? 2
                        : lead < 0xF0 ? 3
                        : lead < 0xF5 ? 4
                                      : 0;
    if (lead == 0 || size == 0 || i + size > text.size()) return false;
    uint32_t c = size == 1 ? lead : lead & (0x7F >> size);
    for (size_t k = 1; k < size; ++k) {
      const unsigned char next = text[i + k];
      if ((next & 0xC0) != 0x80) return false;
      c = c << 6 | (next & 0x3F);
    }
    // Surrogates pass: a name on the disk may hold a lone one.
    if ((size == 3 && c < 0x800) ||
        (size == 4 && (c < 0x10000 || c > 0x10FFFF))) {
      return false;
    }
    if (c >= 0x10000) {
      *wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      *wide += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
      *wide += static_cast<wchar_t>(c);
    }
    i += size;
  }
  return true;
}

std::string Utf8Of(std::wstring_view wide) {
  std::string text;
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t c = wide[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size() &&
        wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
    }
    AppendUtf8(c, &text);
  }
  return text;
}

bool FullPathOf(const std::string& path, std::wstring* full,
                unsigned long* error) {
  std::wstring wide;
  if (path.empty() || !WideOf(path, &wide)) {
    *error = ERROR_INVALID_NAME;
    return false;
  }
  std::wstring buffer(MAX_PATH, L'\0');
  while (true) {
    DWORD size =
        GetFullPathNameW(wide.c_str(), buffer.size(), buffer.data(), nullptr);
    if (size == 0) {
      *error = GetLastError();
      return false;
    }
    const bool fits = size < buffer.size();
    buffer.resize(size);
    if (fits) break;
  }
  *full = LongForm(buffer);
  return true;
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

int64_t NsOfFileTime(uint64_t ticks) {
  return (static_cast<int64_t>(ticks) - kTicksTo1970) * 100;
}

uint64_t FileTimeOfNs(int64_t ns) {
  int64_t ticks = ns / 100 - (ns % 100 < 0 ? 1 : 0);
  return static_cast<uint64_t>(ticks + kTicksTo1970);
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

}  // namespace dravelkent
