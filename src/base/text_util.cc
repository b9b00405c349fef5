#include "base/text_util.h"

#include <algorithm>
#include <limits>

#include "base/utf8.h"

namespace dravelkent {
namespace {

// Returns how many bytes, from |i| on, EscapeForLine keeps as they are for
// the character at |i| of |text|: 0 when it escapes its first byte.
size_t KeptLength(std::string_view text, size_t i) {
  const unsigned char byte = static_cast<unsigned char>(text[i]);
  if (byte < 0x20 || byte == 0x7F) return 0;
  if (byte == '>' && i > 0 && text[i - 1] == '-') return 0;
  if (byte == ' ' && i + 1 == text.size()) return 0;
  const size_t length = Utf8SequenceLength(text.substr(i));
  if (length == 2 && byte == 0xC2 &&
      static_cast<unsigned char>(text[i + 1]) < 0xA0) {
    return 0;  // a C1 control
  }
  return length;
}

}  // namespace

long long LeadingInteger(std::string_view text) {
  size_t i = std::min(text.find_first_not_of(" \t\n\r\v\f"), text.size());
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  constexpr long long kMax = std::numeric_limits<long long>::max();
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    if (value > (kMax - digit) / 10) {
      value = kMax;  // Saturate; the rest of the digits cannot lower it.
      continue;
    }
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

std::string FormatText(std::string_view format,
                       std::initializer_list<std::string_view> args) {
  std::string out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
      if (next != args.end()) out.append(*next++);
      ++i;
    } else {
      out.push_back(format[i]);
    }
  }
  return out;
}

std::string EscapeForLine(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte == '\\') {
      const bool doubled = i + 1 < text.size() &&
                           (std::string_view("\\nrtx").find(text[i + 1]) !=
                                std::string_view::npos ||
                            KeptLength(text, i + 1) == 0);
      escaped += doubled ? "\\\\" : "\\";
      ++i;
      continue;
    }
    if (const size_t kept = KeptLength(text, i); kept > 0) {
      escaped.append(text.substr(i, kept));
      i += kept;
      continue;
    }
    if (byte == '\n') {
      escaped += "\\n";
    } else if (byte == '\r') {
      escaped += "\\r";
    } else if (byte == '\t') {
      escaped += "\\t";
    } else {
      escaped += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
    }
    ++i;
  }
  return escaped;
}

}  // namespace dravelkent
