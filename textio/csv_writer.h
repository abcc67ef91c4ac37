// CsvWriter: writes lines of fields as delimited text, quoting what the
// parser would otherwise split or end a line at.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "textio/byte_stream.h"
#include "textio/text_encoding.h"

namespace tabulix {

// A value handed to the writer: absent, text (UTF-8 or UTF-16) or a number.
using CsvValue = std::variant<std::monostate, std::string, std::u16string, double, long long>;

// Writes delimited text to a byte stream it owns. Made, written, closed.
class CsvWriter {
 public:
  // Writes to `stream` (opened here if needed) in `encoding` with `delimiter`;
  // an encoding with a byte-order mark gets it written at once.
  CsvWriter(std::unique_ptr<ByteSink> stream, TextEncoding encoding, char16_t delimiter);
  ~CsvWriter();
  CsvWriter(const CsvWriter&) = delete;
  CsvWriter& operator=(const CsvWriter&) = delete;

  // Creates or truncates the file at `path`: UTF-8 without mark, comma-delimited.
  static std::unique_ptr<CsvWriter> initForWritingToCSVFile(const std::filesystem::path& path);
  // Appends to `target` (which must outlive the writer): UTF-8 without mark.
  static std::unique_ptr<CsvWriter> initForWritingToString(std::string& target, char16_t delimiter = u',');

  // Appends one field (UTF-8 text) to the current line.
  void writeField(std::string_view text);
  // Appends one field (UTF-8 text) to the current line.
  void writeField(const char* text) { writeField(std::string_view(text ? text : "")); }
  // Appends one field (UTF-16 text) to the current line.
  void writeField(std::u16string_view text);
  // Appends one field (UTF-16 text) to the current line.
  void writeField(const char16_t* text) { writeField(std::u16string_view(text ? text : u"")); }
  // Appends a number as plain decimal text (plainDecimalText: the shortest digits that read back the same).
  void writeField(double number);
  // Appends a number rounded to `sigDigits` significant digits, as plain decimal text.
  void writeRounded(double number, int sigDigits);
  // Appends an integer in decimal.
  template <typename T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
           !std::is_same_v<T, char16_t> && !std::is_same_v<T, char32_t> &&
           !std::is_same_v<T, wchar_t>) void writeField(T number) {
    writeField(std::string_view(std::to_string(number)));
  }
  // Appends an empty field for an absent value.
  void writeField(std::monostate) { writeField(std::string_view()); }
  // Appends an empty field for an absent value.
  void writeField(std::nullopt_t) { writeField(std::string_view()); }
  // Appends one value of any kind.
  void writeValue(const CsvValue& value);

  // Ends the current line with a line feed.
  void finishLine();
  // Writes a whole line (ending an unfinished one first); no values: an empty line.
  void writeLineOfFields(std::span<const std::string> values);
  // Writes a whole line (ending an unfinished one first); no values: an empty line.
  void writeLineOfFields(std::span<const CsvValue> values);
  // Writes a whole line (ending an unfinished one first); no values: an empty line.
  void writeLineOfFields(std::initializer_list<CsvValue> values) {
    writeLineOfFields(std::span<const CsvValue>(values.begin(), values.size()));
  }
  // Writes a comment: each of its lines as '#', the line and a line feed.
  void writeComment(std::string_view text);

  // Closes and releases the stream; nothing is written afterwards.
  void closeStream();
  // Whether the stream opened and every write so far succeeded.
  bool good() const;
  // The errno of the stream's first failure, 0 when none is known.
  int error() const;

 private:
  // Encodes and writes text; drops the byte-order mark every encoded text carries.
  void writeText(std::u16string_view text);
  void writeUtf8(std::string_view text);
  bool needsQuoting(std::u16string_view text) const;
  bool needsQuotingUtf8(std::string_view text) const;

  std::unique_ptr<ByteSink> stream_;
  TextEncoding streamEncoding_;
  std::string delimiter_;  // the delimiter, encoded
  std::string bom_;
  char16_t delimiterCharacter_;
  std::string delimiterUtf8_;
  uint64_t currentField_ = 0;
  bool good_ = true;
  int error_ = 0;
  std::string scratch_;
};

}  // namespace tabulix
