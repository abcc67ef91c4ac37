// CsvParser: a streaming reader of delimited text that reports lines and
// fields to a delegate, decoding the bytes as it goes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "textio/byte_stream.h"
#include "textio/text_encoding.h"

namespace tabulix {

// Domain of the parser's errors.
inline constexpr std::string_view kCsvErrorDomain = "CsvErrorDomain";

// An error reported by a reader: domain, code and description (UTF-8).
struct CsvError {
  std::string domain;
  long code = 0;
  std::string description;
};

class CsvParser;

// The parser's error code for a field longer than the most it holds.
inline constexpr long kFieldTooLong = 2;

// Input that a parse which ended without an error could not deliver.
struct CsvUnreadInput {
  enum class Reason {
    NulCharacter,     // a U+0000 character, which ends the input
    UndecodableBytes  // bytes that are no text in the stream's encoding
  };
  Reason reason = Reason::NulCharacter;
  uint64_t afterLine = 0;  // the last line read in full
  uint64_t lines = 0;      // lines (non-empty runs between line breaks) not read
  uint64_t bytes = 0;      // undecodable bytes not read
};

// Receives the parser's calls. Every call has an empty default, so a delegate
// overrides only those it wants. Texts are views valid during the call only.
class CsvParserDelegate {
 public:
  virtual ~CsvParserDelegate() = default;
  // Once, before anything else.
  virtual void parserDidBeginDocument(CsvParser& /*parser*/) {}
  // At the start of every record; lines are numbered from 1.
  virtual void parserDidBeginLine(CsvParser& /*parser*/, uint64_t /*line*/) {}
  // At the end of every field; `index` counts from 0 within the line.
  virtual void parserDidReadField(CsvParser& /*parser*/, std::u16string_view /*field*/, int64_t /*index*/) {}
  // At the end of every comment line, with the text after '#'.
  virtual void parserDidReadComment(CsvParser& /*parser*/, std::u16string_view /*comment*/) {}
  // At the end of every record, also the last and one with a syntax error.
  virtual void parserDidEndLine(CsvParser& /*parser*/, uint64_t /*line*/) {}
  // Once, last, when no error was recorded (also after cancellation).
  virtual void parserDidEndDocument(CsvParser& /*parser*/) {}
  // Once, last, instead of parserDidEndDocument, after a syntax error.
  virtual void parserDidFailWithError(CsvParser& /*parser*/, const CsvError& /*error*/) {}
};

// Reads delimited text from a byte stream, 512 bytes at a time, and reports it
// through its delegate. Made, configured, parsed once, destroyed.
class CsvParser {
 public:
  // Bytes read from the stream at a time.
  static constexpr size_t kChunkSize = 512;
  // Bytes judged to tell UTF-8 from Windows-1252 (read again afterwards).
  static constexpr size_t kEncodingWindow = 4 << 20;
  // The same for a stream that cannot be read again: the bytes are kept.
  static constexpr size_t kUnrewindableWindow = 64 << 10;
  // The longest field, in UTF-16 units: a longer one fails the parse.
  static constexpr size_t kMaxFieldLength = 16 << 20;

  // Parses `stream` with `delimiter`. Without `usedEncoding`, or with it unset,
  // the encoding is sniffed now (and stored back into `usedEncoding`); when it
  // is set, that encoding is used and no byte-order mark is removed.
  CsvParser(std::unique_ptr<ByteSource> stream, std::optional<TextEncoding>* usedEncoding,
            char16_t delimiter);
  ~CsvParser();
  CsvParser(const CsvParser&) = delete;
  CsvParser& operator=(const CsvParser&) = delete;

  // A parser of the file at `path`, encoding sniffed, comma-delimited.
  static std::unique_ptr<CsvParser> initWithContentsOfCSVFile(const std::filesystem::path& path);
  // A parser of UTF-16 text in memory, comma-delimited.
  static std::unique_ptr<CsvParser> initWithCSVString(std::u16string_view text);
  // A parser of UTF-8 text in memory, comma-delimited.
  static std::unique_ptr<CsvParser> initWithCSVString(std::string_view text);

  // Parses the whole input, delivering every call before returning.
  void parse();
  // Stops the parse; may be called from a delegate call.
  void cancelParsing() { cancelled_ = true; }

  // A backslash makes the next character literal.
  void setRecognizesBackslashesAsEscapes(bool on) { recognizesBackslashesAsEscapes_ = on; }
  bool recognizesBackslashesAsEscapes() const { return recognizesBackslashesAsEscapes_; }
  // Fields are reported with quotes and escapes resolved and trimmed.
  void setSanitizesFields(bool on) { sanitizesFields_ = on; }
  bool sanitizesFields() const { return sanitizesFields_; }
  // Lines that begin with '#' are comments.
  void setRecognizesComments(bool on) { recognizesComments_ = on; }
  bool recognizesComments() const { return recognizesComments_; }
  // The longest field the parser delivers (kMaxFieldLength unless set).
  void setMaxFieldLength(size_t units) { maxFieldLength_ = units; }
  // Receives the calls; not owned.
  void setDelegate(CsvParserDelegate* delegate) { delegate_ = delegate; }
  CsvParserDelegate* delegate() const { return delegate_; }

  // Bytes read from the stream so far.
  uint64_t totalBytesRead() const { return totalBytesRead_; }
  // The encoding the bytes are decoded in; unset when sniffing read nothing
  // (the input is then empty). Without a byte-order mark or the NULs of
  // UTF-16 it is UTF-8 or Windows-1252, whichever most of the non-ASCII
  // bytes of the first kEncodingWindow bytes fit.
  std::optional<TextEncoding> streamEncoding() const { return streamEncoding_; }
  // The number of the line (record) being read, from 1.
  uint64_t lineNumber() const { return currentRecord_; }
  // The delimiter character.
  char16_t delimiter() const { return delimiter_; }
  // The syntax error recorded, if any.
  const std::optional<CsvError>& error() const { return error_; }
  // What a parse that ended without an error or cancellation left unread
  // (known from parserDidEndDocument on); none when the input was read to
  // its end.
  const std::optional<CsvUnreadInput>& unreadInput() const { return unread_; }
  // Bytes of a UTF-8 stream that were no UTF-8 and were read as U+FFFD, and
  // the line (record) holding the first of them (0 for none).
  uint64_t replacedBytes() const { return replacedBytes_; }
  uint64_t firstReplacedLine() const { return firstReplacedLine_; }
  // Quoted fields never closed, each ended at the end of its line, and the
  // line (record) of the first (0 for none).
  uint64_t unclosedQuotes() const { return unclosedQuotes_; }
  uint64_t firstUnclosedQuoteLine() const { return firstUnclosedQuoteLine_; }
  // Bytes held by the parser's text buffers (it stays proportional to the
  // longest field, not to the input).
  size_t bufferedBytes() const;

 private:
  void sniffEncoding();
  void refill();
  void updateRefillPoint();
  void decodePending();

  // Character access: every look and every advance may read more input first.
  char16_t peek() {
    if (next_ >= refillAt_) refill();
    return next_ < string_.size() ? string_[next_] : 0;
  }
  char16_t peekNext() {
    if (next_ >= refillAt_) refill();
    return next_ + 1 < string_.size() ? string_[next_ + 1] : 0;
  }
  void advance() {
    if (next_ >= refillAt_) refill();
    ++next_;
  }

  bool parseRecord();
  bool parseField();
  bool parseQuotedField();
  bool parsePlainField();
  void endUnclosedQuote(size_t quoteAt);
  void fieldTooLong(bool quoted);
  bool parseDelimiter();
  bool parseLineBreak();
  void parseComment();
  void skipFieldWhitespace();
  void consumeTo(size_t position);
  void noteUnreadInput();

  // The current field's resolved value: a run of `string_` while it can be,
  // copied into `sanitizedField_` once quotes or escapes are resolved.
  void appendSanitized(size_t from, size_t to) {
    if (!sanitizesFields_) return;
    if (!sanitizedCopied_ && (sanitizedFrom_ == sanitizedTo_ || from == sanitizedTo_)) {
      if (sanitizedFrom_ == sanitizedTo_) sanitizedFrom_ = from;
      sanitizedTo_ = to;
      return;
    }
    appendSanitizedCopy(from, to);
  }
  void appendSanitizedCopy(size_t from, size_t to);
  // Consumed text is cut from the front of the buffer once it is at least this
  // long and longer than what is left, so each character moves at most once.
  static constexpr size_t kCompactAt = 8192;
  void compactBuffer();
  void maybeCompact() {
    if (start_ >= kCompactAt && start_ >= string_.size() - start_) compactBuffer();
  }
  void buildStopTables();
  bool isValidFieldCharacter(char16_t c) const {
    return !isNewlineCharacter(c) && c != u'"' && c != delimiter_;
  }

  std::unique_ptr<ByteSource> stream_;
  std::optional<TextEncoding> streamEncoding_;
  std::vector<uint8_t> stringBuffer_;  // bytes read, not yet decoded
  std::vector<char16_t> string_;       // decoded text; [start_, size) is not consumed yet
  size_t start_ = 0;                   // where unconsumed text begins in string_
  size_t next_ = 0;                    // cursor (absolute index in string_)
  size_t refillAt_ = 0;                // reaching this index triggers a refill
  int64_t fieldIndex_ = 0;
  size_t fieldStart_ = 0;
  std::vector<char16_t> sanitizedField_;
  size_t sanitizedFrom_ = 0, sanitizedTo_ = 0;  // the value as a run of string_
  bool sanitizedCopied_ = false;
  char16_t delimiter_;
  std::optional<CsvError> error_;
  uint64_t currentRecord_ = 0;
  bool cancelled_ = false;
  bool recognizesBackslashesAsEscapes_ = false;
  bool sanitizesFields_ = false;
  bool recognizesComments_ = false;
  CsvParserDelegate* delegate_ = nullptr;
  uint64_t totalBytesRead_ = 0;
  size_t maxFieldLength_ = kMaxFieldLength;
  uint64_t compacted_ = 0;  // characters cut from the front of string_ so far
  uint64_t replacedBytes_ = 0;
  uint64_t firstReplacementAt_ = 0;  // where the first U+FFFD is, counting from the stream's start
  uint64_t firstReplacedLine_ = 0;
  uint64_t unclosedQuotes_ = 0;
  uint64_t firstUnclosedQuoteLine_ = 0;
  uint64_t droppedBytes_ = 0;  // bytes read behind undecodable ones
  std::optional<CsvUnreadInput> unread_;

  std::unique_ptr<TextDecoder> decoder_;
  bool sniffed_ = false;      // the stream's marker, if any, was removed by sniffing
  bool streamDone_ = false;   // the stream has no more bytes
  bool needDecode_ = false;   // stringBuffer_ holds bytes not tried yet
  bool undecodable_ = false;  // stringBuffer_ starts with bytes that can never be decoded
  uint8_t plainStop_[128];    // ASCII characters that end a plain field
  uint8_t quotedStop_[128];   // ASCII characters that interrupt a quoted field
};

}  // namespace tabulix
