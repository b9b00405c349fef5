#include "base/cp932.h"
#include "base/system_windows.h"

namespace dravelkent {

bool Cp932ToUtf8(std::string_view bytes, std::string* text) {
  std::wstring wide;
  return ToUtf16(932, bytes, &wide) && FromUtf16(65001, wide, text);
}

bool Utf8ToCp932(std::string_view text, std::string* bytes) {
  std::wstring wide;
  return ToUtf16(65001, text, &wide) && FromUtf16(932, wide, bytes);
}

}  // namespace dravelkent
