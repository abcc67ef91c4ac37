#include "import/csv_parser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "engine/log.h"
#include "engine/translate.h"

namespace tabulix {

namespace {

constexpr size_t kNever = std::numeric_limits<size_t>::max();
// A buffer this large that is mostly empty after a long field is given back.
constexpr size_t kReleaseAt = 1 << 20;

struct Marker {
  size_t length;
  const char* bytes;
  TextEncoding encoding;
};

// Byte-order marks, tested in this order (UTF-32 little-endian starts with the
// UTF-16 little-endian mark, so it comes first).
constexpr Marker kMarkers[] = {
    {4, "\x00\x00\xFE\xFF", TextEncoding::UTF32BE},   {4, "\xFF\xFE\x00\x00", TextEncoding::UTF32LE},
    {4, "\x1B\x24\x29\x43", TextEncoding::ISO2022KR}, {2, "\xFE\xFF", TextEncoding::UTF16BE},
    {2, "\xFF\xFE", TextEncoding::UTF16LE},           {3, "\xEF\xBB\xBF", TextEncoding::UTF8},
};

// UTF-16 text without a byte-order mark, told by where its NULs are: at
// least half of the high bytes are 0 (Latin text) and hardly any low byte
// is (U+0100, U+0200 ... are rare).
std::optional<TextEncoding> utf16ByNulPattern(const uint8_t* bytes, size_t n) {
  const size_t pairs = n / 2;
  if (pairs == 0) return std::nullopt;
  size_t evenNuls = 0, oddNuls = 0;
  for (size_t i = 0; i + 1 < n; i += 2) {
    evenNuls += bytes[i] == 0;
    oddNuls += bytes[i + 1] == 0;
  }
  if (2 * oddNuls >= pairs && 8 * evenNuls <= pairs) return TextEncoding::UTF16LE;
  if (2 * evenNuls >= pairs && 8 * oddNuls <= pairs) return TextEncoding::UTF16BE;
  return std::nullopt;
}

std::string characterForMessage(char16_t c) {
  // A lone surrogate cannot be written as UTF-8; show the replacement character.
  if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
  return toUtf8(std::u16string_view(&c, 1));
}

std::string hex(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", v);
  return buf;
}

}  // namespace

CsvParser::CsvParser(std::unique_ptr<ByteSource> stream, std::optional<TextEncoding>* usedEncoding,
                     char16_t delimiter)
    : stream_(std::move(stream)), delimiter_(delimiter) {
  // U+0000 stands for the end of the input; as a delimiter it would never end.
  if (delimiter == 0) throw std::invalid_argument("the delimiter must not be U+0000");
  if (!stream_) stream_ = std::make_unique<MemoryByteSource>(std::string_view());
  stream_->open();
  if (usedEncoding && usedEncoding->has_value()) {
    streamEncoding_ = **usedEncoding;
  } else {
    sniffEncoding();
    if (usedEncoding) *usedEncoding = streamEncoding_;
  }
}

CsvParser::~CsvParser() = default;

std::unique_ptr<CsvParser> CsvParser::initWithContentsOfCSVFile(const std::filesystem::path& path) {
  return std::make_unique<CsvParser>(std::make_unique<FileByteSource>(path), nullptr, u',');
}

std::unique_ptr<CsvParser> CsvParser::initWithCSVString(std::u16string_view text) {
  std::optional<TextEncoding> encoding = TextEncoding::UTF16LE;
  std::string bytes = encodeText(text, TextEncoding::UTF16LE);
  return std::make_unique<CsvParser>(std::make_unique<MemoryByteSource>(bytes), &encoding, u',');
}

std::unique_ptr<CsvParser> CsvParser::initWithCSVString(std::string_view text) {
  std::optional<TextEncoding> encoding = TextEncoding::UTF8;
  return std::make_unique<CsvParser>(std::make_unique<MemoryByteSource>(text), &encoding, u',');
}

size_t CsvParser::bufferedBytes() const {
  return string_.capacity() * sizeof(char16_t) + sanitizedField_.capacity() * sizeof(char16_t) +
         stringBuffer_.capacity();
}

void CsvParser::sniffEncoding() {
  // At position 0 a rewind changes nothing; it tells whether the encoding
  // can be judged over more than the bytes that are kept.
  const bool canRewind = stream_->rewind();
  stringBuffer_.resize(kChunkSize);
  size_t n = stream_->read(stringBuffer_.data(), kChunkSize);
  stringBuffer_.resize(n);
  totalBytesRead_ += n;
  if (n == 0) return;
  needDecode_ = true;
  for (const Marker& m : kMarkers) {
    if (n >= m.length && std::memcmp(stringBuffer_.data(), m.bytes, m.length) == 0) {
      streamEncoding_ = m.encoding;
      stringBuffer_.erase(stringBuffer_.begin(), stringBuffer_.begin() + m.length);
      sniffed_ = true;
      return;
    }
  }
  // UTF-16 without a byte-order mark: text that is mostly Latin has a NUL
  // in every other byte. Read as UTF-8 its first NUL would end the input.
  if (auto utf16 = utf16ByNulPattern(stringBuffer_.data(), n)) {
    streamEncoding_ = *utf16;
    return;
  }
  // UTF-8 or Windows-1252, by what most of the non-ASCII bytes of the first
  // megabytes are: a few stray bytes in a UTF-8 file do not change how the
  // rest of it reads (they become U+FFFD), and a file of single-byte
  // accented letters is Windows-1252 (Latin-1's printable range included).
  Utf8Tally tally;
  std::vector<uint8_t> pending = stringBuffer_;
  std::vector<uint8_t> piece(64 * 1024);
  const size_t window = canRewind ? kEncodingWindow : kUnrewindableWindow;
  size_t seen = n;
  while (seen < window && stream_->hasBytesAvailable()) {
    size_t got = stream_->read(piece.data(), std::min(piece.size(), window - seen));
    if (got == 0) break;
    seen += got;
    pending.insert(pending.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
    if (!canRewind) {
      stringBuffer_.insert(stringBuffer_.end(), piece.begin(),
                           piece.begin() + static_cast<std::ptrdiff_t>(got));
      totalBytesRead_ += got;
    }
    size_t left = tallyUtf8(pending.data(), pending.size(), false, tally);
    pending.erase(pending.begin(), pending.end() - static_cast<std::ptrdiff_t>(left));
  }
  tallyUtf8(pending.data(), pending.size(), !stream_->hasBytesAvailable(), tally);
  const bool utf8 = tally.invalid == 0 || tally.valid > tally.invalid;
  streamEncoding_ = utf8 ? TextEncoding::UTF8 : TextEncoding::Windows1252;
  if (!utf8) logLine("the text is not UTF-8; reading it as Windows-1252");
  if (canRewind && seen > n) {
    // Start over: the bytes looked at are read again as the parse goes.
    if (stream_->rewind()) {
      stringBuffer_.resize(kChunkSize);
      size_t again = stream_->read(stringBuffer_.data(), kChunkSize);
      stringBuffer_.resize(again);
      totalBytesRead_ = again;
    } else {
      // The stream refused to go back after all: what was read is lost, so
      // the parse must not pretend otherwise.
      streamDone_ = true;
    }
  }
}

void CsvParser::refill() {
  size_t length = string_.size() - start_;
  size_t nextIndex = next_ - start_;
  if (!streamDone_ && nextIndex + std::max<size_t>(length / 3, 10) >= length) {
    if (stream_->hasBytesAvailable()) {
      uint8_t chunk[kChunkSize];
      size_t got = stream_->read(chunk, kChunkSize);
      if (got > 0) {
        totalBytesRead_ += got;
        // Bytes behind undecodable ones would never be delivered: drop them.
        if (!undecodable_) {
          stringBuffer_.insert(stringBuffer_.end(), chunk, chunk + got);
          needDecode_ = true;
        } else {
          droppedBytes_ += got;
        }
      }
    }
    if (!stream_->hasBytesAvailable()) {
      streamDone_ = true;
      // A character left incomplete now never completes: decide about it.
      if (!stringBuffer_.empty() && !undecodable_) needDecode_ = true;
    }
  }
  if (needDecode_) decodePending();
  updateRefillPoint();
}

void CsvParser::updateRefillPoint() {
  if (streamDone_ && !needDecode_) {
    refillAt_ = kNever;
    return;
  }
  size_t length = string_.size() - start_;
  size_t lookahead = std::max<size_t>(length / 3, 10);
  refillAt_ = length > lookahead ? start_ + (length - lookahead) : 0;
}

void CsvParser::compactBuffer() {
  size_t live = string_.size() - start_;
  // Every index into the buffer is at or after start_.
  if (string_.capacity() > kReleaseAt && live * 4 < string_.capacity()) {
    std::vector<char16_t> fresh;
    fresh.reserve(std::max<size_t>(2 * live, 4 * kCompactAt));
    fresh.assign(string_.begin() + static_cast<std::ptrdiff_t>(start_), string_.end());
    string_.swap(fresh);
  } else {
    std::memmove(string_.data(), string_.data() + start_, live * sizeof(char16_t));
    string_.resize(live);
  }
  next_ -= start_;
  compacted_ += start_;
  fieldStart_ = fieldStart_ >= start_ ? fieldStart_ - start_ : 0;
  if (sanitizedTo_ > sanitizedFrom_ && sanitizedFrom_ >= start_) {
    sanitizedFrom_ -= start_;
    sanitizedTo_ -= start_;
  } else {
    sanitizedFrom_ = sanitizedTo_ = 0;
  }
  start_ = 0;
}

void CsvParser::decodePending() {
  needDecode_ = false;
  if (stringBuffer_.empty() || undecodable_) return;
  maybeCompact();
  if (!decoder_) {
    decoder_ = std::make_unique<TextDecoder>(streamEncoding_.value_or(TextEncoding::UTF8), sniffed_);
  }
  const bool utf8 = decoder_->encoding() == TextEncoding::UTF8;
  size_t pos = 0;
  while (pos < stringBuffer_.size()) {
    DecodeResult r =
        decoder_->decode(stringBuffer_.data() + pos, stringBuffer_.size() - pos, streamDone_, string_);
    pos += r.consumed;
    const bool failed = r.status == DecodeResult::Status::Invalid ||
                        (r.status == DecodeResult::Status::Incomplete && streamDone_);
    if (!failed) break;
    if (!utf8) {
      undecodable_ = true;
      break;
    }
    // A byte that starts no UTF-8 sequence becomes U+FFFD, and the text
    // goes on after it.
    if (replacedBytes_++ == 0) firstReplacementAt_ = compacted_ + string_.size();
    string_.push_back(0xFFFD);
    ++pos;
  }
  stringBuffer_.erase(stringBuffer_.begin(), stringBuffer_.begin() + static_cast<std::ptrdiff_t>(pos));
}

void CsvParser::buildStopTables() {
  const bool escapes = recognizesBackslashesAsEscapes_;
  for (char16_t c = 0; c < 128; ++c) {
    bool valid = isValidFieldCharacter(c);
    plainStop_[c] = c == 0 || c == delimiter_ || isNewlineCharacter(c) || (escapes && c == u'\\');
    quotedStop_[c] =
        c == 0 || !(valid || isNewlineCharacter(c) || c == delimiter_) || (escapes && c == u'\\');
  }
}

void CsvParser::parse() {
  buildStopTables();
  if (delegate_) delegate_->parserDidBeginDocument(*this);
  currentRecord_ = 0;
  while (parseRecord()) {
  }
  if (!error_ && !cancelled_) noteUnreadInput();
  if (error_) {
    if (!cancelled_ && delegate_) delegate_->parserDidFailWithError(*this, *error_);
  } else if (delegate_) {
    delegate_->parserDidEndDocument(*this);
  }
}

bool CsvParser::parseRecord() {
  while (recognizesComments_ && peek() == u'#') parseComment();
  if (!cancelled_) {
    fieldIndex_ = 0;
    ++currentRecord_;
    if (delegate_) delegate_->parserDidBeginLine(*this, currentRecord_);
  }
  while (parseField() && parseDelimiter()) {
  }
  bool lineBreak = parseLineBreak();
  if (replacedBytes_ > 0 && firstReplacedLine_ == 0 && compacted_ + next_ > firstReplacementAt_)
    firstReplacedLine_ = currentRecord_;
  if (!cancelled_ && delegate_) delegate_->parserDidEndLine(*this, currentRecord_);
  return lineBreak && !error_;
}

// The document ends without an error at the end of the input, but also at a
// U+0000 character or bytes the stream's encoding cannot decode. The parse keeps
// that behaviour; what was left is counted here, reading the rest of the
// stream, so that the caller can say what is missing.
void CsvParser::noteUnreadInput() {
  CsvUnreadInput unread;
  size_t from;
  if (next_ < string_.size()) {
    unread.reason = CsvUnreadInput::Reason::NulCharacter;
    from = next_;
  } else if (undecodable_ || !stringBuffer_.empty()) {
    unread.reason = CsvUnreadInput::Reason::UndecodableBytes;
    from = next_;
  } else {
    return;
  }
  unread.afterLine = currentRecord_ > 0 ? currentRecord_ - 1 : 0;
  // Lines as the parser counts them: runs of non-newline characters.
  bool inLine = false;
  size_t pos = from;
  while (true) {
    for (; pos < string_.size(); ++pos) {
      const bool newline = isNewlineCharacter(string_[pos]);
      if (!newline && !inLine) ++unread.lines;
      inLine = !newline;
    }
    consumeTo(string_.size());
    pos = next_;
    if (streamDone_ && !needDecode_) break;
    refill();
  }
  unread.bytes = stringBuffer_.size() + droppedBytes_;
  if (unread.reason != CsvUnreadInput::Reason::UndecodableBytes && unread.bytes > 0 && unread.lines == 0)
    unread.reason = CsvUnreadInput::Reason::UndecodableBytes;
  unread_ = unread;
}

void CsvParser::consumeTo(size_t position) {
  start_ = position;
  next_ = position;
  maybeCompact();
  updateRefillPoint();
}

void CsvParser::appendSanitizedCopy(size_t from, size_t to) {
  if (from == to) return;
  if (!sanitizedCopied_) {
    // A quote or escape was dropped: the value is no longer a run of the input.
    sanitizedField_.assign(string_.begin() + static_cast<std::ptrdiff_t>(sanitizedFrom_),
                           string_.begin() + static_cast<std::ptrdiff_t>(sanitizedTo_));
    sanitizedCopied_ = true;
  }
  sanitizedField_.insert(sanitizedField_.end(), string_.begin() + static_cast<std::ptrdiff_t>(from),
                         string_.begin() + static_cast<std::ptrdiff_t>(to));
}

void CsvParser::skipFieldWhitespace() {
  while (true) {
    char16_t c = peek();
    if (c == 0 || !isFieldWhitespace(c) || c == delimiter_) return;
    advance();
  }
}

bool CsvParser::parseField() {
  if (cancelled_) return false;
  sanitizedCopied_ = false;
  sanitizedFrom_ = sanitizedTo_ = 0;
  if (sanitizedField_.capacity() > kReleaseAt) {
    std::vector<char16_t>().swap(sanitizedField_);
  } else {
    sanitizedField_.clear();
  }
  fieldStart_ = next_;
  skipFieldWhitespace();
  if (peek() == u'"') {
    const size_t quoteAt = next_;
    if (parseQuotedField()) {
      // Text after the closing quote ("a"b) belongs to the field.
      if (!parsePlainField()) return false;
    } else {
      if (cancelled_ || error_) return false;
      endUnclosedQuote(quoteAt);
    }
  } else if (!parsePlainField()) {
    return false;
  }
  skipFieldWhitespace();
  if (!cancelled_) {
    std::u16string_view text;
    if (sanitizesFields_) {
      text = sanitizedCopied_
                 ? std::u16string_view(sanitizedField_.data(), sanitizedField_.size())
                 : std::u16string_view(string_.data() + sanitizedFrom_, sanitizedTo_ - sanitizedFrom_);
      while (!text.empty() && isTrimCharacter(text.front())) text.remove_prefix(1);
      while (!text.empty() && isTrimCharacter(text.back())) text.remove_suffix(1);
    } else {
      text = std::u16string_view(string_.data() + fieldStart_, next_ - fieldStart_);
    }
    if (delegate_) delegate_->parserDidReadField(*this, text, fieldIndex_);
    consumeTo(next_);
    ++fieldIndex_;
  }
  return true;
}

bool CsvParser::parseQuotedField() {
  advance();
  const bool escapes = recognizesBackslashesAsEscapes_;
  bool escaped = false;
  while (true) {
    if (!escaped) {
      // Characters that are simply part of the value, up to the next point
      // where more input may have to be read.
      size_t limit = std::min(string_.size(), refillAt_);
      size_t i = next_;
      const char16_t* s = string_.data();
      while (i < limit && !(s[i] < 128 && quotedStop_[s[i]])) ++i;
      if (i > next_) {
        appendSanitized(next_, i);
        next_ = i;
      }
      if (next_ - fieldStart_ > maxFieldLength_) {
        fieldTooLong(true);
        return false;
      }
    }
    char16_t c = peek();
    if (c == 0) break;
    if (!escaped && c == u'\\' && escapes) {
      advance();
      escaped = true;
    } else if (escaped || isValidFieldCharacter(c) || isNewlineCharacter(c) || c == delimiter_) {
      appendSanitized(next_, next_ + 1);
      advance();
      escaped = false;
    } else if (peekNext() == u'"') {
      appendSanitized(next_, next_ + 1);
      advance();
      advance();
      escaped = false;
    } else {
      break;
    }
  }
  if (peek() == u'"') {
    advance();
    return true;
  }
  return false;
}

bool CsvParser::parsePlainField() {
  const bool escapes = recognizesBackslashesAsEscapes_;
  bool escaped = false;
  while (true) {
    if (!escaped) {
      size_t limit = std::min(string_.size(), refillAt_);
      size_t i = next_;
      const char16_t* s = string_.data();
      while (i < limit) {
        char16_t c = s[i];
        if (c < 128 ? plainStop_[c] : (c == delimiter_ || isNewlineCharacter(c))) break;
        ++i;
      }
      if (i > next_) {
        appendSanitized(next_, i);
        next_ = i;
      }
      if (next_ - fieldStart_ > maxFieldLength_) {
        fieldTooLong(false);
        return false;
      }
    }
    char16_t c = peek();
    if (c == 0) break;
    if (!escaped && c == u'\\' && escapes) {
      advance();
      escaped = true;
    } else if (!escaped && (c == delimiter_ || isNewlineCharacter(c))) {
      break;
    } else {
      appendSanitized(next_, next_ + 1);
      advance();
      escaped = false;
    }
  }
  return true;
}

// A quote still open at the end of the input (or at a U+0000) would make
// the rest of the file one field: the field ends at the end of the line it
// starts on instead, holding the text after the quote, and the lines after
// it are read again as lines.
void CsvParser::endUnclosedQuote(size_t quoteAt) {
  sanitizedCopied_ = false;
  sanitizedFrom_ = sanitizedTo_ = 0;
  sanitizedField_.clear();
  size_t i = quoteAt + 1;
  while (i < string_.size() && string_[i] != 0 && !isNewlineCharacter(string_[i])) ++i;
  appendSanitized(quoteAt + 1, i);
  next_ = i;
  updateRefillPoint();
  if (unclosedQuotes_++ == 0) firstUnclosedQuoteLine_ = currentRecord_;
}

void CsvParser::fieldTooLong(bool quoted) {
  const std::string line = std::to_string(currentRecord_), most = std::to_string(maxFieldLength_);
  error_ = CsvError{
      std::string(kCsvErrorDomain), kFieldTooLong,
      quoted
          ? fillPlaceholders(tr("Line %u: a quoted field runs on for more than %u characters, the most one "
                                "field may hold; is its closing quote missing?"),
                             {line, most})
          : fillPlaceholders(
                tr("Line %u: a field is longer than %u characters, the most one field may hold."),
                {line, most})};
}

bool CsvParser::parseDelimiter() {
  // After a cancellation nothing more is judged, so no error can follow it.
  if (cancelled_) return false;
  char16_t c = peek();
  if (c == delimiter_) {
    advance();
    return true;
  }
  if (c == 0 || isNewlineCharacter(c)) return false;
  error_ = CsvError{std::string(kCsvErrorDomain), 1,
                    "Unexpected delimiter. Expected '" + characterForMessage(delimiter_) + "' (0x" +
                        hex(delimiter_) + "), but got '" + characterForMessage(c) + "' (0x" + hex(c) + ")"};
  return false;
}

bool CsvParser::parseLineBreak() {
  if (cancelled_) return false;
  bool found = false;
  while (isNewlineCharacter(peek())) {
    advance();
    found = true;
    // Line breaks belong to no field; a long run of them is let go early so
    // that memory stays bounded by the longest field.
    if (next_ - start_ > kCompactAt) consumeTo(next_);
  }
  return found;
}

void CsvParser::parseComment() {
  advance();
  fieldStart_ = next_;
  const bool escapes = recognizesBackslashesAsEscapes_;
  while (true) {
    char16_t c = peek();
    if (c == 0 || isNewlineCharacter(c)) break;
    advance();
    if (c == u'\\' && escapes && peek() != 0) advance();
  }
  if (!cancelled_) {
    if (delegate_)
      delegate_->parserDidReadComment(*this,
                                      std::u16string_view(string_.data() + fieldStart_, next_ - fieldStart_));
    consumeTo(next_);
  }
  parseLineBreak();
}

}  // namespace tabulix
