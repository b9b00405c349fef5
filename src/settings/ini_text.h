#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/text_encoding.h"

namespace dravelkent {

// The text functions of the settings file, working on its bytes in memory.
// They do no I/O, keep no state and accept any bytes.
//
// The file is split into lines at LF, CRLF and lone CR (in UTF-16, at those
// code units). Each line is decoded on its own (the encoding is decided once
// for the whole file); a line that cannot be decoded matches nothing and is
// kept as it is. On decoded text: a line whose trimmed text starts with "["
// opens a section named by the trimmed text up to the first "]"; a line
// starting with ";" is a comment; any other line holding "=" is a key line,
// the key being the trimmed text before the first "=" and the value the
// trimmed text after it, without one pair of matching surrounding quotes.
// Names match without regard to ASCII case. Lines before the first section
// belong to no section.

// Returns |text| without the blanks (space, tab, CR, LF, VT, FF) at either
// end.
std::string_view TrimBlanks(std::string_view text);

// Returns true when |a| and |b| are equal, ASCII letters compared without
// regard to case.
bool NamesMatch(std::string_view a, std::string_view b);

// What one line of the file says once decoded.
enum class IniLineKind {
  kBlank,
  kComment,
  kSection,
  kKey,
  kOther,        // holds text but neither a section nor a key
  kUndecodable,  // not valid in the file's encoding: matches nothing
};

// One line of the file: where its bytes lie and what it says.
struct IniLine {
  size_t begin = 0;        // offset of its text in the file's bytes
  size_t text_size = 0;    // its text, without the line ending
  size_t ending_size = 0;  // 2 for CRLF, 1 for LF or CR, 0 for none
  IniLineKind kind = IniLineKind::kOther;
  std::string name;   // the section or key name, trimmed, in UTF-8
  std::string value;  // a key's value as read, in UTF-8

  size_t end() const { return begin + text_size + ending_size; }
};

// A file split into lines and decoded once, for any number of reads.
struct IniFile {
  TextEncoding encoding = TextEncoding::kUtf8;
  bool readable = false;  // the encoding can be decoded; else no lines
  std::vector<IniLine> lines;
};

// Returns the file |file_bytes| split into its lines, each decoded and
// classified (a byte order mark belongs to no line, nor does a stray last
// byte of a UTF-16 file, half a code unit). Never fails: a file whose
// encoding cannot be read (UTF-16BE) gives readable false and no lines.
IniFile ParseIniFile(std::string_view file_bytes);

// Returns the value of |key| in the first section named |section| of the
// parsed |file|, in UTF-8, or nullopt when the section or the key is missing
// there or the file's encoding cannot be read. Stops at the first match.
std::optional<std::string> FindIniValue(const IniFile& file,
                                        std::string_view section,
                                        std::string_view key);

// Returns the value of |key| in the first section named |section| of the
// file |file_bytes|, decoded to UTF-8, or nullopt when the section or the
// key is missing there or the file's encoding cannot be read. Stops at the
// first match.
std::optional<std::string> FindIniValue(std::string_view file_bytes,
                                        std::string_view section,
                                        std::string_view key);

// The section and key lines of a file that cannot be decoded in its
// encoding.
struct UndecodableLines {
  size_t count = 0;
  size_t first = 0;  // the number of the first one (from 1), when count > 0
};

// Returns which lines of the file |file_bytes| cannot be decoded in the
// file's encoding and would be section or key lines whatever they hold: the
// first code unit other than blanks is "[", or the line holds "=" and does
// not start with ";". Those lines match nothing and are kept as they are;
// comments and other lines that cannot be decoded are not counted. A file
// whose encoding cannot be read at all (UTF-16BE) has none.
UndecodableLines FindUndecodableLines(std::string_view file_bytes);

// How an edit of the file's bytes came out.
enum class IniEditResult {
  kDone,             // |*new_bytes| holds the file after the write
  kNotEncodable,     // a name or the value has no form in the file's encoding
  kUnknownEncoding,  // the file's encoding cannot be written (UTF-16BE)
  kEncodingWouldChange,  // the value replaced holds what decides the
                         // file's encoding: without it the file would read
                         // in the other one, and other lines differently
  kMalformed,            // a name or the value holds a line break, the key an
                         // "=" or starts like a section or comment, or the
                         // section a "]": the line would not read back
  kUndecodableLines,     // the section is missing and some section or key
                         // line of the file cannot be decoded: it may be
                         // that section
};

// Produces in |*new_bytes| the file |file_bytes| after setting |key| in
// |section| to |value| (all three UTF-8): the value of the first matching
// key of the first matching section is replaced in place, keeping the line's
// bytes up to and including its "=" and its line ending; a missing key is
// added after the last non-blank line of that section; a missing section is
// added at the end of the file's lines (before the stray byte of a UTF-16
// file). Added lines end with the file's first line ending (LF when it has
// none; an added line that would end in CR before the LF of a blank line
// ends like the line before it), and a last line without a line break gets
// one before anything is added after it. No section is added to a file with
// a section or key line that cannot be decoded. A value with blanks at
// either end, or one that starts and ends with the same quote mark, is
// written inside double quotes so that it reads back whole. A key whose
// value already reads as |value| is left as it stands. Every other byte is
// kept.
// Returns kDone on success, otherwise why the write cannot be made;
// |*new_bytes| is then unspecified.
IniEditResult SetIniValue(std::string_view file_bytes, std::string_view section,
                          std::string_view key, std::string_view value,
                          std::string* new_bytes);

}  // namespace dravelkent
