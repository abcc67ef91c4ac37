#include "import/delimiter_sniffer.h"

#include <algorithm>
#include <fstream>
#include <map>

#include "engine/number_reading.h"
#include "import/csv_parser.h"

namespace tabulix {

namespace {

constexpr size_t kSniffBytes = 64 * 1024;
// Lines looked at to choose the delimiter (more than are shown).
constexpr size_t kSniffLines = 50;

// The lines of the input split at one delimiter, raw (quotes kept).
class LineCollector : public CsvParserDelegate {
 public:
  explicit LineCollector(size_t limit) : limit_(limit) {}
  void parserDidBeginLine(CsvParser&, uint64_t) override { lines.emplace_back(); }
  void parserDidReadField(CsvParser&, std::u16string_view field, int64_t) override {
    lines.back().push_back(toUtf8(field));
  }
  void parserDidEndLine(CsvParser& parser, uint64_t line) override {
    if (line >= limit_) parser.cancelParsing();
  }
  void parserDidFailWithError(CsvParser&, const CsvError&) override { failed = true; }

  std::vector<std::vector<std::string>> lines;
  bool failed = false;

 private:
  size_t limit_;
};

struct Split {
  std::vector<std::vector<std::string>> lines;
  std::string encoding;
  bool failed = false;
};

Split split(std::string_view bytes, bool complete, char16_t delimiter, size_t limit) {
  Split s;
  LineCollector collector(limit);
  std::optional<TextEncoding> encoding;
  CsvParser parser(std::make_unique<MemoryByteSource>(bytes), &encoding, delimiter);
  parser.setDelegate(&collector);
  parser.parse();
  s.failed = collector.failed;
  s.lines = std::move(collector.lines);
  // The record after the final line break is one empty field; a record cut
  // by the end of the bytes read is incomplete. Neither is a line of data.
  const bool cut = !complete && s.lines.size() < limit;
  if (!s.lines.empty() && (cut || (s.lines.back().size() == 1 && s.lines.back()[0].empty())))
    s.lines.pop_back();
  s.encoding = std::string(encodingName(parser.streamEncoding().value_or(TextEncoding::UTF8)));
  return s;
}

// How well a delimiter splits the lines: the share of lines that have the
// most common field count, when that count is at least 2.
double score(const Split& s) {
  if (s.lines.empty() || s.failed) return 0;
  std::map<size_t, size_t> counts;
  for (const auto& line : s.lines) ++counts[line.size()];
  auto modal = std::max_element(counts.begin(), counts.end(),
                                [](const auto& a, const auto& b) { return a.second < b.second; });
  if (modal->first < 2) return 0;
  return double(modal->second) / double(s.lines.size());
}

std::string unquoted(const std::string& field) {
  if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
    return field.substr(1, field.size() - 2);
  return field;
}

}  // namespace

const std::u16string& sniffedDelimiters() {
  static const std::u16string candidates = u",;\t| ";
  return candidates;
}

DelimitedSniff sniffDelimitedBytes(std::string_view bytes, bool complete, char16_t fallbackDelimiter,
                                   const std::string& fallbackDecimal, size_t maxLines) {
  DelimitedSniff out;
  out.delimiter = fallbackDelimiter;
  out.decimalSeparator = fallbackDecimal;
  double best = 0;
  Split chosen = split(bytes, complete, fallbackDelimiter, kSniffLines);
  // The fallback keeps a tie; another candidate must split strictly better.
  best = score(chosen);
  for (char16_t candidate : sniffedDelimiters()) {
    if (candidate == fallbackDelimiter) continue;
    Split s = split(bytes, complete, candidate, kSniffLines);
    const double sc = score(s);
    if (sc > best) {
      best = sc;
      out.delimiter = candidate;
      chosen = std::move(s);
    }
  }
  out.delimiterFound = best > 0;
  out.encoding = chosen.encoding;

  // The separator under which more fields read as numbers; integers read
  // under both and decide nothing.
  NumberReaders point("."), comma(",");
  size_t byPoint = 0, byComma = 0;
  for (const auto& line : chosen.lines) {
    for (const auto& raw : line) {
      const std::string field = unquoted(raw);
      byPoint += point.decimalNumberForString(field).has_value();
      byComma += comma.decimalNumberForString(field).has_value();
    }
  }
  if (byPoint > byComma) out.decimalSeparator.assign(1, '.');
  if (byComma > byPoint) out.decimalSeparator.assign(1, ',');

  // The preview: the lines as the chosen delimiter joins them.
  const std::string delimiter = toUtf8(std::u16string_view(&out.delimiter, 1));
  for (size_t i = 0; i < chosen.lines.size() && i < maxLines; ++i) {
    std::string text;
    for (size_t k = 0; k < chosen.lines[i].size(); ++k) {
      if (k > 0) text += delimiter;
      text += chosen.lines[i][k];
    }
    out.lines.push_back(std::move(text));
  }
  return out;
}

DelimitedSniff sniffDelimitedFile(const std::filesystem::path& file, char16_t fallbackDelimiter,
                                  const std::string& fallbackDecimal, size_t maxLines) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes(kSniffBytes, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  const bool complete = in.eof() || bytes.size() < kSniffBytes;
  return sniffDelimitedBytes(bytes, complete, fallbackDelimiter, fallbackDecimal, maxLines);
}

}  // namespace tabulix
