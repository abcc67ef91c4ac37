// Test support: a delegate that records the parser's calls.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "import/csv_parser.h"

namespace tabulix::testing {

// Records every call as a compact transcript ("B L1 0[a] 1[b] /L1 E") and the
// fields of each line; `onEndLine` / `onField` may act on the parser.
class RecordingDelegate : public CsvParserDelegate {
 public:
  void parserDidBeginDocument(CsvParser&) override { add("B"); }
  void parserDidBeginLine(CsvParser&, uint64_t line) override {
    add("L", std::to_string(line));
    lines.emplace_back();
  }
  void parserDidReadField(CsvParser& p, std::u16string_view field, int64_t index) override {
    std::string text = toUtf8(field);
    add(std::to_string(index), "[", text, "]");
    if (!lines.empty()) lines.back().push_back(text);
    if (onField) onField(p, index);
  }
  void parserDidReadComment(CsvParser&, std::u16string_view comment) override {
    add("#[", toUtf8(comment), "]");
  }
  void parserDidEndLine(CsvParser& p, uint64_t line) override {
    add("/L", std::to_string(line));
    if (onEndLine) onEndLine(p, line);
  }
  void parserDidEndDocument(CsvParser&) override { add("E"); }
  void parserDidFailWithError(CsvParser&, const CsvError& e) override {
    error = e;
    add("ERR");
  }

  std::string transcript;
  std::vector<std::vector<std::string>> lines;
  std::optional<CsvError> error;
  std::function<void(CsvParser&, uint64_t)> onEndLine;
  std::function<void(CsvParser&, int64_t)> onField;

 private:
  // Appends one entry made of `parts` (appending piece by piece also keeps
  // GCC 12's -Wrestrict false positive on string concatenation away).
  template <typename... Parts>
  void add(const Parts&... parts) {
    if (!transcript.empty()) transcript += ' ';
    (transcript.append(parts), ...);
  }
};

// Parser options, set in a chain: ParseOptions().sanitize().delimiter(u';').
struct ParseOptions {
  bool sanitize_ = false;
  bool backslashes_ = false;
  bool comments_ = false;
  char16_t delimiter_ = u',';
  std::optional<TextEncoding> encoding_;  // unset: sniffed
  size_t chunkLimit_ = 0;                 // > 0: the source returns at most this many bytes per read
  ParseOptions& sanitize(bool on = true) { return sanitize_ = on, *this; }
  ParseOptions& backslashes(bool on = true) { return backslashes_ = on, *this; }
  ParseOptions& comments(bool on = true) { return comments_ = on, *this; }
  ParseOptions& delimiter(char16_t c) { return delimiter_ = c, *this; }
  ParseOptions& encoding(TextEncoding e) { return encoding_ = e, *this; }
  ParseOptions& chunkLimit(size_t n) { return chunkLimit_ = n, *this; }
};

// Parses bytes held in memory and returns the recording delegate.
inline RecordingDelegate parseBytes(std::string_view bytes, const ParseOptions& o = {},
                                    std::optional<TextEncoding>* used = nullptr) {
  RecordingDelegate d;
  std::optional<TextEncoding> enc = o.encoding_;
  CsvParser p(std::make_unique<MemoryByteSource>(bytes, o.chunkLimit_), &enc, o.delimiter_);
  if (used) *used = enc;
  p.setSanitizesFields(o.sanitize_);
  p.setRecognizesBackslashesAsEscapes(o.backslashes_);
  p.setRecognizesComments(o.comments_);
  p.setDelegate(&d);
  p.parse();
  return d;
}

}  // namespace tabulix::testing
