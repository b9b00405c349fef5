#pragma once

#include <string>
#include <string_view>

namespace dravelkent {

// The encoding of a settings file, decided from its bytes.
enum class TextEncoding {
  kUtf8,         // UTF-8 without a byte order mark (pure ASCII too)
  kUtf8WithBom,  // starts with EF BB BF; the mark is kept on writes
  kCp932,        // Japanese Windows code page 932
  kUtf16Le,      // starts with FF FE, as Notepad saves "Unicode"; the mark
                 // is kept on writes
  kUtf16Be,      // starts with FE FF; not handled
};

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
inline constexpr std::string_view kUtf16LeBom = "\xFF\xFE";

// Returns the encoding of a file holding |bytes|: a UTF-8 byte order mark
// gives kUtf8WithBom, a UTF-16 one kUtf16Le or kUtf16Be. Otherwise only the
// section and key lines decide (lines whose first byte other than blanks is
// "[", or that hold "=" and do not start with ";"); comments, blank lines
// and lines valid in neither encoding do not. It is kCp932 when more of
// those lines are valid CP932 than valid UTF-8, else kUtf8: UTF-8 when all
// are valid UTF-8, CP932 when all are CP932 and some are not UTF-8, and a
// mix goes to the encoding that reads more of them, UTF-8 on a tie. Without
// a CP932 converter, a deciding line that is not UTF-8 counts as CP932.
// Never fails.
TextEncoding DetectEncoding(std::string_view bytes);

// Returns the name of |encoding| for messages, e.g. "CP932".
const char* EncodingName(TextEncoding encoding);

// Converts between the text of one file's encoding and UTF-8, a line at a
// time.
class TextCodec {
 public:
  explicit TextCodec(TextEncoding encoding) : encoding_(encoding) {}

  TextEncoding encoding() const { return encoding_; }

  // Returns false when this codec cannot convert at all: a UTF-16BE file, or
  // a CP932 one when the system lacks the converter.
  bool usable() const;

  // Decodes |bytes| of the file's encoding into UTF-8 in |*text|. Returns
  // true on success; false (|*text| unspecified) when |bytes| is not valid
  // in the encoding or the codec is not usable.
  bool Decode(std::string_view bytes, std::string* text) const;

  // Encodes the UTF-8 |text| into the file's encoding in |*bytes|. Returns
  // true on success; false (|*bytes| unspecified) when |text| is not valid
  // UTF-8, holds a character the encoding lacks, or the codec is not usable.
  bool Encode(std::string_view text, std::string* bytes) const;

 private:
  TextEncoding encoding_;
};

}  // namespace dravelkent
