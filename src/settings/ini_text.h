#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/status.h"

namespace dravelkent {

// The settings file's text, as bytes in memory: no I/O, no state, any bytes.
// Lines end at LF, CRLF or a lone CR (in UTF-16, at those code units). Each
// line is decoded on its own in the file's encoding; one that does not decode
// matches nothing and keeps its bytes. A line whose trimmed text starts with
// "[" opens the section named by the trimmed text up to the first "]"; one
// starting with ";" is a comment; any other holding "=" is a key line, the
// key being the trimmed text before the first "=" and the value the trimmed
// text after it, less one pair of matching surrounding quotes. Names match
// without regard to ASCII case; lines before the first section are in none.

// The encoding of a settings file.
enum class TextEncoding {
  kUtf8,         // without a byte order mark (pure ASCII too)
  kUtf8WithBom,  // starts with EF BB BF, kept on writes
  kCp932,        // Japanese Windows code page 932
  kUtf16Le,      // starts with FF FE, as Notepad saves "Unicode"; kept
  kUtf16Be,      // starts with FE FF: cannot be read
};

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
inline constexpr std::string_view kUtf16LeBom = "\xFF\xFE";

// Returns the encoding of a file holding |bytes|. A byte order mark decides
// first, then the file's own sections: each section line named exactly
// (trimmed) 基本, 設定 or 裏設定 votes UTF-8 in UTF-8 bytes, CP932 in CP932
// bytes. Only without such a line, every line votes: one valid only in UTF-8
// votes UTF-8, one valid only in CP932 votes CP932. kCp932 when CP932 has
// more votes, else kUtf8. Without a CP932 converter, a line that is not
// UTF-8 counts as CP932.
TextEncoding DetectEncoding(std::string_view bytes);

// Returns the name of |encoding| for messages, e.g. "CP932".
const char* EncodingName(TextEncoding encoding);

// Decode converts |bytes| in |encoding| into UTF-8 |*text|, Encode the UTF-8
// |text| into |*bytes| in |encoding|. Both return false when the input is
// not valid or has no form in the other, or |encoding| cannot be converted
// (UTF-16BE, or CP932 without the system's converter).
bool Decode(TextEncoding encoding, std::string_view bytes, std::string* text);
bool Encode(TextEncoding encoding, std::string_view text, std::string* bytes);

// Returns |text| without blanks (space, tab, CR, LF, VT, FF) at either end.
std::string_view TrimBlanks(std::string_view text);

// Returns the value of |key| in the first section |section|, or nullopt.
std::optional<std::string> FindIniValue(std::string_view file_bytes,
                                        std::string_view section,
                                        std::string_view key);

// Returns ok when the file |file_bytes| at |path| can be read whole, else a
// failure that says its encoding cannot be read, or which of its section or
// key lines ("[" first, or "=" in a line not starting with ";") cannot be
// decoded.
Status CheckIniText(std::string_view file_bytes, const std::string& path);

// Sets |key| in |section| to |value| (all UTF-8) in the file |file_bytes| at
// |path|, the file after the write in |*new_bytes|: the first matching key
// of the first matching section gets the value after its "=" (unless it
// reads as |value| already); a missing key goes after the section's last
// non-blank line, a missing section after the file's last line (before a
// stray last byte of UTF-16). Added lines end like the file's first line (LF
// when it has none; never a lone CR before the LF of a blank line), a last
// line without a break getting one first. A value with blanks at either end
// or within matching quotes is written in double quotes. Every other byte is
// kept. Returns ok, or "cannot write KEY in [SECTION] of PATH: ..." when a
// name or the value would not read back (a line break; in the key an "=" or
// a leading "[" or ";"; in the section a "]"), the encoding cannot be
// written or has no form for them, the old value is what makes the file
// UTF-8 or CP932, or the section is missing and a section or key line cannot
// be decoded (it may be that section).
Status SetIniValue(std::string_view file_bytes, std::string_view section,
                   std::string_view key, std::string_view value,
                   const std::string& path, std::string* new_bytes);

}  // namespace dravelkent
