#include <iconv.h>

#include <cstddef>

#include "base/cp932.h"
#include "base/utf8.h"

namespace dravelkent {
namespace {

// One direction of iconv, opened once per thread: a settings file is
// converted line by line, many times a run.
class Converter {
 public:
  Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  ~Converter() {
    if (usable()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool usable() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  bool Convert(std::string_view in, std::string* out) {
    if (!usable()) return false;
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);  // fresh shift state
    // Nothing grows more than a one-byte CP932 katakana: to three bytes.
    out->assign(in.size() * 3, '\0');
    char* in_ptr = const_cast<char*>(in.data());
    char* out_ptr = out->data();
    size_t in_left = in.size();
    size_t out_left = out->size();
    // Above 0: characters it could only approximate.
    if (iconv(handle_, &in_ptr, &in_left, &out_ptr, &out_left) != 0) {
      return false;
    }
    out->resize(out->size() - out_left);
    return true;
  }

 private:
  iconv_t handle_;
};

}  // namespace

bool Cp932ToUtf8(std::string_view bytes, std::string* text) {
  thread_local Converter converter("UTF-8", "CP932");
  return converter.Convert(bytes, text);
}

bool Utf8ToCp932(std::string_view text, std::string* bytes) {
  thread_local Converter converter("CP932", "UTF-8");
  return IsValidUtf8(text) && converter.Convert(text, bytes);
}

}  // namespace dravelkent
