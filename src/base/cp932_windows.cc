#include <windows.h>

#include <climits>

#include "base/cp932.h"

namespace dravelkent {
namespace {

constexpr UINT kCp932 = 932;

// Converts |in| of |code_page| into UTF-16, refusing a byte sequence that
// stands for no character.
bool ToWide(UINT code_page, std::string_view in, std::wstring* out) {
  out->clear();
  if (in.empty()) return true;
  if (in.size() > INT_MAX) return false;
  const int size = static_cast<int>(in.size());
  const int wide = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS,
                                       in.data(), size, nullptr, 0);
  if (wide <= 0) return false;
  out->resize(wide);
  return MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, in.data(), size,
                             out->data(), wide) == wide;
}

// Converts the UTF-16 |in| into |code_page|: UTF-8 refuses a lone
// surrogate; code page 932 refuses a character it lacks, rather than
// writing a look-alike (a best fit) or its default character.
bool FromWide(UINT code_page, std::wstring_view in, std::string* out) {
  out->clear();
  if (in.empty()) return true;
  if (in.size() > INT_MAX) return false;
  const bool utf8 = code_page == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL defaulted = FALSE;
  BOOL* used_default = utf8 ? nullptr : &defaulted;  // must be null for UTF-8
  const int size = static_cast<int>(in.size());
  const int bytes = WideCharToMultiByte(code_page, flags, in.data(), size,
                                        nullptr, 0, nullptr, used_default);
  if (bytes <= 0 || defaulted) return false;
  out->resize(bytes);
  return WideCharToMultiByte(code_page, flags, in.data(), size, out->data(),
                             bytes, nullptr, used_default) == bytes &&
         !defaulted;
}

}  // namespace

bool Cp932ToUtf8(std::string_view bytes, std::string* text) {
  std::wstring wide;
  return ToWide(kCp932, bytes, &wide) && FromWide(CP_UTF8, wide, text);
}

bool Utf8ToCp932(std::string_view text, std::string* bytes) {
  std::wstring wide;
  return ToWide(CP_UTF8, text, &wide) && FromWide(kCp932, wide, bytes);
}

}  // namespace dravelkent
