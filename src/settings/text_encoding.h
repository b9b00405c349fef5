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

// Returns the encoding of a file holding |bytes|. A byte order mark decides
// first: UTF-8, UTF-16LE or UTF-16BE. Otherwise the file's own sections
// decide: each section line named exactly (after trimming blanks) 基本, 設定
// or 裏設定 in UTF-8 bytes votes UTF-8, in CP932 bytes CP932. Only when there
// is no such line, every line (comments too) votes: one valid only in UTF-8
// votes UTF-8, one valid only in CP932 votes CP932. It is kCp932 when CP932
// has more votes, else kUtf8 (a tie or no votes too). Without a CP932
// converter, a line that is not UTF-8 counts as CP932. Never fails.
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
