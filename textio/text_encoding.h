// Text encodings of delimited files, the fixed character classes of the
// delimited-text reader and writer, and fast UTF-8 <-> UTF-16 helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tabulix {

// The encodings a delimited file is read or written in. UTF16 and UTF32 are
// the byte-order-marked forms: read in the order their mark names (big-endian
// without one), written little-endian after the mark FF FE (00 00).
// Windows1252 maps every byte (its five unassigned ones to the C1 controls of
// the same value, as web browsers read them) and covers Latin-1's printable
// range.
enum class TextEncoding {
  UTF8,
  UTF16BE,
  UTF16LE,
  UTF32BE,
  UTF32LE,
  ISO2022KR,
  MacRoman,
  UTF16,
  UTF32,
  Windows1252
};

// The encoding's short name: "UTF-8", "UTF-16BE", "UTF-16LE", "UTF-32BE",
// "UTF-32LE", "ISO-2022-KR", "MacRoman", "UTF-16", "UTF-32", "windows-1252".
std::string_view encodingName(TextEncoding encoding);

// Membership of the fixed character classes (not locale-dependent).
namespace charclass {
enum : uint8_t { kNewline = 1, kFieldWhitespace = 2, kTrim = 4 };
// Class bits of every BMP code unit, built once.
extern const uint8_t* const table;
}  // namespace charclass

// U+000A-U+000D, U+0085, U+2028, U+2029.
inline bool isNewlineCharacter(char16_t c) { return charclass::table[c] & charclass::kNewline; }
// U+0009 and the space separators (general category Zs).
inline bool isFieldWhitespace(char16_t c) { return charclass::table[c] & charclass::kFieldWhitespace; }
// Zs, Zl, Zp, U+0009-U+000D and U+0085: what sanitised fields are trimmed of.
inline bool isTrimCharacter(char16_t c) { return charclass::table[c] & charclass::kTrim; }

// Outcome of decoding a run of bytes.
struct DecodeResult {
  enum class Status {
    Complete,    // every byte was decoded
    Incomplete,  // the bytes after `consumed` begin a character that needs more bytes
    Invalid,     // the bytes at `consumed` can never be decoded
  };
  size_t consumed = 0;
  Status status = Status::Complete;
};

// Incremental decoder of one byte stream into UTF-16. Decoding stops before
// the first byte that does not complete a valid character, so undecodable bytes
// can be kept by the caller and retried once more bytes arrive.
class TextDecoder {
 public:
  // `afterMarker`: the stream's byte-order mark or ISO-2022-KR header has
  // already been removed (ISO-2022-KR then starts with its designation).
  explicit TextDecoder(TextEncoding encoding, bool afterMarker = false);
  ~TextDecoder();
  TextDecoder(const TextDecoder&) = delete;
  TextDecoder& operator=(const TextDecoder&) = delete;

  // Appends the decoded text of the longest decodable prefix of `data` to
  // `out`. `atEnd` says no further bytes will follow (flushes stateful state).
  DecodeResult decode(const uint8_t* data, size_t size, bool atEnd, std::vector<char16_t>& out);

  TextEncoding encoding() const { return encoding_; }

 private:
  TextEncoding encoding_;
  bool orderKnown_ = false;  // UTF16/UTF32: the byte order has been read from the mark
  bool bigEndian_ = true;
  struct Icu;
  std::unique_ptr<Icu> icu_;  // stateful converter (ISO-2022-KR)
};

// Decodes Mac OS Roman bytes (every byte value is mapped). Appends to `out`.
void decodeMacRoman(const uint8_t* data, size_t size, std::vector<char16_t>& out);

// Decodes Windows-1252 bytes (every byte value is mapped). Appends to `out`.
void decodeWindows1252(const uint8_t* data, size_t size, std::vector<char16_t>& out);

// Non-ASCII bytes of a text judged as UTF-8: those in valid sequences and
// those that are in none.
struct Utf8Tally {
  uint64_t valid = 0;
  uint64_t invalid = 0;
};
// Adds the bytes of `data` to `tally`; a sequence cut off by the end is left
// uncounted unless `atEnd`, and its length is returned so the caller can
// prepend those bytes to the next piece.
size_t tallyUtf8(const uint8_t* data, size_t size, bool atEnd, Utf8Tally& tally);

// Whether `data` is valid UTF-8 (strict: no overlong forms, surrogates or values
// beyond U+10FFFF). A character cut off by the end counts as valid only with
// `allowTruncatedEnd`.
bool isValidUtf8(const uint8_t* data, size_t size, bool allowTruncatedEnd);

// Encodes UTF-16 text as a whole document in `encoding` would be: the marked
// forms (UTF16, UTF32) and ISO-2022-KR start with their marker. Characters the
// encoding cannot represent are substituted.
std::string encodeText(std::u16string_view text, TextEncoding encoding);

// Appends UTF-16 text to `out` as UTF-8; unpaired surrogates become U+FFFD.
void appendUtf8(std::string& out, std::u16string_view text);
// UTF-16 text as UTF-8 (unpaired surrogates become U+FFFD).
std::string toUtf8(std::u16string_view text);
// UTF-8 text as UTF-16; each invalid byte becomes U+FFFD.
std::u16string toUtf16(std::string_view text);

}  // namespace tabulix
