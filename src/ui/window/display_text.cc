#include "ui/window/display_text.h"

#include "base/utf8.h"

namespace dravelkent {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

std::string ValidUtf8ForDisplay(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    size_t length = Utf8SequenceLength(bytes);
    if (length == 0) {
      text += kReplacement;
      length = 1;
    } else {
      text.append(bytes.substr(0, length));
    }
    bytes.remove_prefix(length);
  }
  return text;
}

}  // namespace dravelkent
