#pragma once

#include <string>
#include <string_view>

namespace dravelkent {

// Conversions between Japanese Windows code page 932 and UTF-8 by the
// system's converter, safe from any thread. Both refuse a character the
// converter could only approximate: a text converted and back is the same.

// Converts the code page 932 |bytes| into UTF-8 |*text|. Returns false when
// |bytes| is not valid or the system has no converter (even for "").
bool Cp932ToUtf8(std::string_view bytes, std::string* text);

// Converts the UTF-8 |text| into code page 932 |*bytes|. Returns false when
// |text| is not valid UTF-8 or has no CP932 form, or there is no converter.
bool Utf8ToCp932(std::string_view text, std::string* bytes);

}  // namespace dravelkent
