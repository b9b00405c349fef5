#include "base/system_windows.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <thread>

#include "base/system.h"
#include "base/utf8.h"

namespace dravelkent {
namespace {

// The errno value a Windows error stands for, or EIO.
int ErrnoOf(DWORD error) {
  const struct {
    int number;
    std::initializer_list<DWORD> errors;
  } known[] = {
      {ENOENT,
       {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_INVALID_DRIVE,
        ERROR_BAD_NETPATH, ERROR_BAD_NET_NAME, ERROR_BAD_PATHNAME}},
      {EEXIST, {ERROR_ALREADY_EXISTS, ERROR_FILE_EXISTS}},
      {EACCES, {ERROR_ACCESS_DENIED, ERROR_NETWORK_ACCESS_DENIED}},
      {EBUSY, {ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION}},
      {EINVAL, {ERROR_INVALID_NAME, ERROR_INVALID_PARAMETER}},
      {EXDEV, {ERROR_NOT_SAME_DEVICE}},
      {ENOTDIR, {ERROR_DIRECTORY}},
      {EROFS, {ERROR_WRITE_PROTECT}},
      {ELOOP, {ERROR_CANT_RESOLVE_FILENAME}},
  };
  for (const auto& each : known) {
    if (std::find(each.errors.begin(), each.errors.end(), error) !=
        each.errors.end()) {
      return each.number;
    }
  }
  return EIO;
}

// The standard streams that WriteConsoleInUtf16 took, by descriptor.
bool taken[3];
std::thread console_writer;

// Writes what comes through |pipe| on |console|, each character whole.
void WriteToConsole(int pipe, HANDLE console) {
  std::string pending;
  char buffer[4096];
  for (int got; (got = _read(pipe, buffer, sizeof buffer)) > 0;) {
    pending.append(buffer, got);
    size_t whole = 0;  // a character cut at the end waits for the rest
    for (size_t length; whole < pending.size(); whole += length) {
      length = std::max<size_t>(
          Utf8SequenceLength(std::string_view(pending).substr(whole)), 1);
      if (length == 1 && pending.size() - whole < 4 && pending[whole] < 0) {
        break;
      }
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

bool ToUtf16(unsigned code_page, std::string_view in, std::wstring* out) {
  out->resize(in.size());
  const int size =
      in.size() > INT_MAX / 3 || in.empty()
          ? 0
          : MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, in.data(),
                                in.size(), out->data(), out->size());
  out->resize(size);
  return size > 0 || in.empty();
}

bool FromUtf16(unsigned code_page, std::wstring_view in, std::string* out) {
  const bool utf8 = code_page == CP_UTF8;
  BOOL defaulted = FALSE;
  out->resize(3 * in.size());
  const int size =
      in.empty() || in.size() > INT_MAX / 3
          ? 0
          : WideCharToMultiByte(
                code_page, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS,
                in.data(), in.size(), out->data(), out->size(), nullptr,
                utf8 ? nullptr : &defaulted);  // null for UTF-8
  out->resize(size);
  return (size > 0 || in.empty()) && !defaulted;
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
  reason.erase(reason.find_last_not_of(" .\r\n") + 1);
  if (reason.empty()) reason = "Windows error " + std::to_string(error);
  return Status::Failure(what, path, reason, ErrnoOf(error));
}

void WriteConsoleInUtf16() {
  std::fflush(stdout);
  std::fflush(stderr);
  for (int fd : {1, 2}) _setmode(fd, _O_BINARY);
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
  if (taken[1]) _close(1);
  if (taken[2]) _close(2);
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
  const bool named = WideOf(folder, &wide);
  if (named && SetCurrentDirectoryW(wide.c_str())) return Status::Ok();
  return WindowsError("cannot enter the folder", folder,
                      named ? GetLastError() : ERROR_INVALID_NAME);
}

Status CurrentFolder(std::string* folder) {
  std::wstring wide(32768, L'\0');  // the longest path Windows has
  wide.resize(GetCurrentDirectoryW(wide.size(), wide.data()));
  *folder = Utf8Of(wide);
  return wide.empty() ? WindowsError("cannot tell the current folder", "",
                                     GetLastError())
                      : Status::Ok();
}

}  // namespace dravelkent
