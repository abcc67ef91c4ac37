#include "textio/csv_writer.h"

#include <charconv>
#include <cmath>

#include "textio/plain_number.h"

namespace tabulix {

CsvWriter::CsvWriter(std::unique_ptr<ByteSink> stream, TextEncoding encoding, char16_t delimiter)
    : stream_(std::move(stream)), streamEncoding_(encoding), delimiterCharacter_(delimiter) {
  if (stream_) stream_->open();
  // An encoding that puts a mark in front of every encoded text shows it as
  // the difference between encoding one character and encoding two.
  std::string one = encodeText(u"a", encoding);
  std::string two = encodeText(u"aa", encoding);
  if (two.size() != 2 * one.size() && 2 * one.size() > two.size()) {
    size_t markLength = std::min(one.size(), 2 * one.size() - two.size());
    bom_ = one.substr(0, markLength);
    if (stream_) stream_->write(bom_.data(), bom_.size());
  }
  delimiter_ = encodeText(std::u16string_view(&delimiter, 1), encoding);
  if (!bom_.empty() && delimiter_.compare(0, bom_.size(), bom_) == 0) delimiter_.erase(0, bom_.size());
  delimiterUtf8_ = toUtf8(std::u16string_view(&delimiter, 1));
}

CsvWriter::~CsvWriter() { closeStream(); }

std::unique_ptr<CsvWriter> CsvWriter::initForWritingToCSVFile(const std::filesystem::path& path) {
  return std::make_unique<CsvWriter>(std::make_unique<FileByteSink>(path), TextEncoding::UTF8, u',');
}

std::unique_ptr<CsvWriter> CsvWriter::initForWritingToString(std::string& target, char16_t delimiter) {
  return std::make_unique<CsvWriter>(std::make_unique<StringByteSink>(target), TextEncoding::UTF8, delimiter);
}

void CsvWriter::writeText(std::u16string_view text) {
  if (!stream_) return;
  if (streamEncoding_ == TextEncoding::UTF8) {
    scratch_.clear();
    appendUtf8(scratch_, text);
    if (!scratch_.empty()) stream_->write(scratch_.data(), scratch_.size());
    return;
  }
  std::string bytes = encodeText(text, streamEncoding_);
  size_t skip = std::min(bom_.size(), bytes.size());
  if (bytes.size() > skip) stream_->write(bytes.data() + skip, bytes.size() - skip);
}

void CsvWriter::writeUtf8(std::string_view text) {
  if (!stream_ || text.empty()) return;
  if (streamEncoding_ == TextEncoding::UTF8) {
    stream_->write(text.data(), text.size());
  } else {
    writeText(toUtf16(text));
  }
}

bool CsvWriter::needsQuoting(std::u16string_view text) const {
  for (char16_t c : text)
    if (c == u'"' || c == delimiterCharacter_ || isNewlineCharacter(c)) return true;
  return false;
}

bool CsvWriter::needsQuotingUtf8(std::string_view text) const {
  const bool asciiDelimiter = delimiterCharacter_ < 0x80;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if (b == '"' || (b >= 0x0A && b <= 0x0D) || (asciiDelimiter && b == delimiterCharacter_)) return true;
    } else if (b == 0xC2 && i + 1 < n && static_cast<unsigned char>(text[i + 1]) == 0x85) {
      return true;  // U+0085
    } else if (b == 0xE2 && i + 2 < n && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
      return true;  // U+2028, U+2029
    }
  }
  return !asciiDelimiter && text.find(delimiterUtf8_) != std::string_view::npos;
}

void CsvWriter::writeField(std::string_view text) {
  if (!stream_) return;
  if (streamEncoding_ != TextEncoding::UTF8) {
    writeField(std::u16string_view(toUtf16(text)));
    return;
  }
  if (currentField_ > 0) stream_->write(delimiter_.data(), delimiter_.size());
  if (needsQuotingUtf8(text)) {
    std::string quoted;
    quoted.reserve(text.size() + 8);
    quoted += '"';
    for (char c : text) {
      if (c == '"') quoted += '"';
      quoted += c;
    }
    quoted += '"';
    stream_->write(quoted.data(), quoted.size());
  } else if (!text.empty()) {
    stream_->write(text.data(), text.size());
  }
  ++currentField_;
}

void CsvWriter::writeField(std::u16string_view text) {
  if (!stream_) return;
  if (currentField_ > 0) stream_->write(delimiter_.data(), delimiter_.size());
  if (needsQuoting(text)) {
    std::u16string quoted;
    quoted.reserve(text.size() + 8);
    quoted += u'"';
    for (char16_t c : text) {
      if (c == u'"') quoted += u'"';
      quoted += c;
    }
    quoted += u'"';
    writeText(quoted);
  } else {
    writeText(text);
  }
  ++currentField_;
}

void CsvWriter::writeField(double number) {
  // One text for not-a-number, whatever its sign bit (to_chars writes "nan" or "-nan").
  if (std::isnan(number)) {
    writeField(std::string_view("NaN"));
    return;
  }
  // Plain decimals up to 1e21, as the cells carry them: the shortest form
  // alone turns 100000 into "1e+05", which a reader takes for a measurement.
  if (std::isfinite(number)) {
    writeField(std::string_view(plainDecimalText(number)));
    return;
  }
  writeField(std::string_view(number > 0 ? "inf" : "-inf"));
}

void CsvWriter::writeRounded(double number, int sigDigits) {
  char buf[64];
  double rounded = number;
  if (std::isfinite(number)) {
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, number, std::chars_format::general, sigDigits);
    if (ec == std::errc()) std::from_chars(buf, end, rounded);
  }
  writeField(rounded);
}

void CsvWriter::writeValue(const CsvValue& value) {
  std::visit(
      [this](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          writeField(std::string_view(v));
        } else if constexpr (std::is_same_v<T, std::u16string>) {
          writeField(std::u16string_view(v));
        } else {
          writeField(v);
        }
      },
      value);
}

void CsvWriter::finishLine() {
  if (!stream_) return;
  writeText(u"\n");
  currentField_ = 0;
}

void CsvWriter::writeLineOfFields(std::span<const std::string> values) {
  if (currentField_ > 0) finishLine();
  for (const auto& v : values) writeField(std::string_view(v));
  finishLine();
}

void CsvWriter::writeLineOfFields(std::span<const CsvValue> values) {
  if (currentField_ > 0) finishLine();
  for (const auto& v : values) writeValue(v);
  finishLine();
}

void CsvWriter::writeComment(std::string_view text) {
  if (!stream_) return;
  if (currentField_ > 0) finishLine();
  std::u16string all = toUtf16(text);
  std::u16string_view rest(all);
  while (true) {
    size_t cut = 0;
    while (cut < rest.size() && !isNewlineCharacter(rest[cut])) ++cut;
    std::u16string line = u"#";
    line.append(rest.substr(0, cut));
    line += u'\n';
    writeText(line);
    if (cut == rest.size()) break;
    rest.remove_prefix(cut + 1);
  }
}

void CsvWriter::closeStream() {
  if (!stream_) return;
  stream_->close();
  good_ = stream_->good();
  error_ = stream_->error();
  stream_.reset();
}

bool CsvWriter::good() const { return stream_ ? stream_->good() : good_; }

int CsvWriter::error() const { return stream_ ? stream_->error() : error_; }

}  // namespace tabulix
