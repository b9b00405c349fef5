#include "base/system_windows.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "base/system.h"

namespace dravelkent {
namespace {

constexpr struct {
  DWORD error;
  int number;
} kErrnos[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_BAD_NET_NAME, ENOENT},
    {ERROR_BAD_PATHNAME, ENOENT},
    {ERROR_ALREADY_EXISTS, EEXIST},
    {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_NETWORK_ACCESS_DENIED, EACCES},
    {ERROR_CANNOT_MAKE, EACCES},
    {ERROR_PRIVILEGE_NOT_HELD, EPERM},
    {ERROR_NOT_SAME_DEVICE, EXDEV},
    {ERROR_DIRECTORY, ENOTDIR},
    {ERROR_SHARING_VIOLATION, EBUSY},
    {ERROR_LOCK_VIOLATION, EBUSY},
    {ERROR_DISK_FULL, ENOSPC},
    {ERROR_HANDLE_DISK_FULL, ENOSPC},
    {ERROR_WRITE_PROTECT, EROFS},
    {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {ERROR_CANT_RESOLVE_FILENAME, ELOOP},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    {ERROR_INVALID_NAME, EINVAL},
    {ERROR_INVALID_PARAMETER, EINVAL},
    {ERROR_NOT_A_REPARSE_POINT, EINVAL},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_OUTOFMEMORY, ENOMEM},
    {ERROR_INVALID_FUNCTION, ENOTSUP},
    {ERROR_NOT_SUPPORTED, ENOTSUP},
    {ERROR_NO_UNICODE_TRANSLATION, EILSEQ},
};

// The standard streams (by descriptor) that WriteConsoleInUtf16 took, and
// the thread that writes what they get on the console.
bool taken[3];
std::thread console_writer;

// Writes what comes through |pipe| on |console| as UTF-16, each character
// whole.
void WriteToConsole(int pipe, HANDLE console) {
  std::string pending;
  char buffer[4096];
  for (int got; (got = _read(pipe, buffer, sizeof buffer)) > 0;) {
    pending.append(buffer, got);
    size_t whole = pending.size();
    for (size_t back = 1; back <= std::min<size_t>(3, pending.size()); ++back) {
      const unsigned char c = pending[pending.size() - back];
      if ((c & 0xC0) == 0x80) continue;
      if (c >= 0xC0 && back < (c >= 0xF0 ? 4u : c >= 0xE0 ? 3u : 2u)) {
        whole -= back;
      }
      break;
    }
    std::wstring wide(whole, L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, pending.data(),
                                    static_cast<int>(whole), wide.data(),
                                    static_cast<int>(whole)));
    DWORD written = 0;
    WriteConsoleW(console, wide.data(), wide.size(), &written, nullptr);
    pending.erase(0, whole);
  }
  _close(pipe);
  CloseHandle(console);
}

}  // namespace

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
      if ((text[i + k] & 0xC0) != 0x80) return false;
      c = c << 6 | (text[i + k] & 0x3F);
    }
    // Surrogates pass: a name on the disk may hold a lone one.
    if ((size == 3 && c < 0x800) ||
        (size == 4 && (c < 0x10000 || c > 0x10FFFF))) {
      return false;
    }
    if (c >= 0x10000) *wide += static_cast<wchar_t>(0xD7C0 + (c >> 10));
    *wide += static_cast<wchar_t>(c >= 0x10000 ? 0xDC00 + (c & 0x3FF) : c);
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
    const int tail = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    text += static_cast<char>(
        tail == 0 ? c : ((0xFF00 >> (tail + 1)) & 0xFF) | (c >> (6 * tail)));
    for (int k = tail - 1; k >= 0; --k) {
      text += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
    }
  }
  return text;
}

Status WindowsError(const std::string& what, const std::string& path,
                    unsigned long error) {
  wchar_t* text = nullptr;
  const DWORD size = FormatMessageW(
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
  int number = EIO;
  for (const auto& known : kErrnos) {
    if (known.error == error) number = known.number;
  }
  return Status::Failure(what, path, reason, number);
}

void WriteConsoleInUtf16() {
  std::fflush(stdout);
  std::fflush(stderr);
  int pipe[2] = {-1, -1};
  HANDLE console = nullptr;
  for (int fd : {1, 2}) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode;
    if (!GetConsoleMode(handle, &mode)) continue;
    if (console == nullptr &&
        (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(),
                          &console, 0, FALSE, DUPLICATE_SAME_ACCESS) ||
         _pipe(pipe, 4096, _O_BINARY) != 0)) {
      return;
    }
    taken[fd] = _dup2(pipe[1], fd) == 0;
  }
  if (console == nullptr) return;
  _close(pipe[1]);
  console_writer = std::thread(WriteToConsole, pipe[0], console);
}

void FinishConsoleOutput() {
  std::fflush(stdout);
  std::fflush(stderr);
  if (!console_writer.joinable()) return;
  for (int fd : {1, 2}) {
    if (taken[fd]) _close(fd);
  }
  console_writer.join();
}

bool IsTerminal(std::FILE* stream) {
  const int fd = _fileno(stream);
  DWORD mode;
  return (fd >= 0 && fd < 3 && taken[fd]) ||
         GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &mode);
}

Status EnterFolder(const std::string& folder) {
  std::wstring wide;
  if (!WideOf(folder, &wide)) {
    return WindowsError("cannot enter the folder", folder, ERROR_INVALID_NAME);
  }
  if (!SetCurrentDirectoryW(wide.c_str())) {
    return WindowsError("cannot enter the folder", folder, GetLastError());
  }
  return Status::Ok();
}

Status CurrentFolder(std::string* folder) {
  std::wstring wide(GetCurrentDirectoryW(0, nullptr), L'\0');
  const DWORD size = GetCurrentDirectoryW(wide.size(), wide.data());
  if (size == 0 || size >= wide.size()) {
    return WindowsError("cannot tell the current folder", "", GetLastError());
  }
  *folder = Utf8Of(wide.substr(0, size));
  return Status::Ok();
}

std::string ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  DWORD size;
  while ((size = GetModuleFileNameW(nullptr, path.data(), path.size())) ==
         path.size()) {
    path.resize(path.size() * 2);
  }
  path.resize(size);
  const size_t separator = path.rfind(L'\\');
  return separator == std::wstring::npos
             ? ""
             : Utf8Of(path.substr(0, separator + 1));
}

}  // namespace dravelkent
