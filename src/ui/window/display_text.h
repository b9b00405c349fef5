#pragma once

#include <string>
#include <string_view>

namespace dravelkent {

// Returns |bytes| as valid UTF-8 for showing on screen: every well-formed
// UTF-8 sequence is kept, every byte that does not belong to one (a Linux
// file name is any bytes) becomes U+FFFD. The real bytes stay with the
// caller for every file operation; this text is only for display.
std::string ValidUtf8ForDisplay(std::string_view bytes);

}  // namespace dravelkent
