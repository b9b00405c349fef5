#pragma once

#include <string>
#include <string_view>

namespace dravelkent {

// Conversions between Japanese Windows code page 932 and UTF-8, done by the
// system's converter. Both directions refuse a character the converter could
// only approximate, so that a text converted and back is the same text. Safe
// to call from any thread.

// Converts the code page 932 |bytes| into UTF-8 in |*text|. Returns true on
// success; false (|*text| unspecified) when |bytes| is not valid code page
// 932 or the system has no converter. Empty |bytes| convert exactly when
// the system has one.
bool Cp932ToUtf8(std::string_view bytes, std::string* text);

// Converts the UTF-8 |text| into code page 932 in |*bytes|. Returns true on
// success; false (|*bytes| unspecified) when |text| is not valid UTF-8,
// holds a character code page 932 lacks, or the system has no converter.
bool Utf8ToCp932(std::string_view text, std::string* bytes);

}  // namespace dravelkent
