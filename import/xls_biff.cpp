#include "import/xls_biff.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace tabulix::xls {

namespace {

uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
double f64(const uint8_t* p) {
  uint64_t bits = u32(p) | static_cast<uint64_t>(u32(p + 4)) << 32;
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

std::string hex4(uint32_t v) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s = "0x0000";
  for (int i = 5; i >= 2; --i, v >>= 4) s[i] = digits[v & 15];
  return s;
}

void appendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | c >> 6));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | c >> 12));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | c >> 18));
    out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// UTF-16 code units to UTF-8; an unpaired surrogate becomes U+FFFD.
void appendUtf16(std::string& out, const std::u16string& units) {
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    appendUtf8(out, c);
  }
}

// One record of the stream: where its data lies.
struct RecordView {
  uint16_t id = 0;
  std::span<const uint8_t> data;
  size_t next = 0;  // stream position of the following record
};

// Reads the record at `pos`; false at the very end of the stream.
bool recordAt(std::span<const uint8_t> stream, size_t pos, RecordView& r) {
  if (pos >= stream.size()) return false;
  if (stream.size() - pos < 4) throw FormatError("its workbook stream ends inside a record header");
  r.id = u16(stream.data() + pos);
  const size_t len = u16(stream.data() + pos + 2);
  if (stream.size() - pos - 4 < len) {
    throw FormatError("its workbook stream is truncated (record " + hex4(r.id) + " at offset " +
                      std::to_string(pos) + " needs " + std::to_string(len) + " bytes)");
  }
  r.data = stream.subspan(pos + 4, len);
  r.next = pos + 4 + len;
  return true;
}

// The data of a record and of the CONTINUE records right after it, read as one
// sequence. Character arrays that cross into a CONTINUE record start there with
// a fresh option byte that says whether the rest is 8- or 16-bit.
class Cursor {
 public:
  explicit Cursor(std::vector<std::span<const uint8_t>> chunks) : chunks_(std::move(chunks)) {}

  bool atEnd() {
    settle();
    return chunk_ >= chunks_.size();
  }
  bool u8(uint8_t& v) {
    settle();
    if (chunk_ >= chunks_.size()) return false;
    v = chunks_[chunk_][offset_++];
    return true;
  }
  bool u16v(uint16_t& v) {
    uint8_t a, b;
    if (!u8(a) || !u8(b)) return false;
    v = static_cast<uint16_t>(a | b << 8);
    return true;
  }
  bool u32v(uint32_t& v) {
    uint16_t a, b;
    if (!u16v(a) || !u16v(b)) return false;
    v = a | static_cast<uint32_t>(b) << 16;
    return true;
  }
  bool skip(uint64_t n) {
    while (n > 0) {
      settle();
      if (chunk_ >= chunks_.size()) return false;
      const size_t step = std::min<uint64_t>(n, chunks_[chunk_].size() - offset_);
      offset_ += step;
      n -= step;
    }
    return true;
  }
  // Reads `count` characters as UTF-8 into `out`.
  bool chars(size_t count, bool highByte, std::string& out) {
    units_.clear();
    bool wide = false;
    while (count > 0) {
      if (chunk_ < chunks_.size() && offset_ == chunks_[chunk_].size()) {
        // The characters go on in the next CONTINUE record, after its option byte.
        ++chunk_;
        offset_ = 0;
        uint8_t flags;
        if (!u8(flags)) return false;
        highByte = flags & 1;
      }
      if (chunk_ >= chunks_.size()) return false;
      const std::span<const uint8_t> c = chunks_[chunk_];
      const size_t width = highByte ? 2 : 1;
      const size_t n = std::min(count, (c.size() - offset_) / width);
      if (n == 0) return false;  // a 16-bit character split between records
      const uint8_t* p = c.data() + offset_;
      if (highByte) {
        wide = true;
        for (size_t i = 0; i < n; ++i) units_.push_back(static_cast<char16_t>(u16(p + 2 * i)));
      } else {
        for (size_t i = 0; i < n; ++i) units_.push_back(p[i]);
      }
      offset_ += n * width;
      count -= n;
    }
    if (wide) {
      appendUtf16(out, units_);
    } else {
      for (char16_t c : units_) appendUtf8(out, c);
    }
    return true;
  }

 private:
  // Moves past exhausted chunks.
  void settle() {
    while (chunk_ < chunks_.size() && offset_ >= chunks_[chunk_].size()) {
      ++chunk_;
      offset_ = 0;
    }
  }
  std::vector<std::span<const uint8_t>> chunks_;
  size_t chunk_ = 0, offset_ = 0;
  std::u16string units_;
};

// The record's data and its CONTINUE records; `next` moves past them.
std::vector<std::span<const uint8_t>> withContinues(std::span<const uint8_t> stream, const RecordView& r,
                                                    size_t& next) {
  std::vector<std::span<const uint8_t>> chunks{r.data};
  next = r.next;
  RecordView c;
  while (recordAt(stream, next, c) && c.id == kContinue) {
    chunks.push_back(c.data);
    next = c.next;
  }
  return chunks;
}

// Byte strings of BIFF5 workbooks, in the workbook's code page, through ICU.
class CodePageDecoder {
 public:
  explicit CodePageDecoder(uint16_t codePage) {
    std::vector<std::string> names;
    switch (codePage) {
      case 367:
        names = {"US-ASCII"};
        break;
      case 1200:  // UTF-16 has no byte strings; Excel means its ANSI page
      case 32769:
        names = {"windows-1252"};
        break;
      case 10000:
      case 32768:
        names = {"macintosh"};
        break;
      default:
        names = {"windows-" + std::to_string(codePage), "ibm-" + std::to_string(codePage),
                 "cp" + std::to_string(codePage)};
    }
    for (const std::string& n : names) {
      UErrorCode status = U_ZERO_ERROR;
      UConverter* c = ucnv_open(n.c_str(), &status);
      if (U_SUCCESS(status) && c) {
        converter_.reset(c);
        break;
      }
      if (c) ucnv_close(c);
    }
    if (!converter_)
      throw FormatError("its text is in code page " + std::to_string(codePage) + ", which is not supported");
  }
  std::string decode(std::span<const uint8_t> bytes) {
    std::string out;
    bool ascii = std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b < 0x80; });
    if (ascii) return std::string(bytes.begin(), bytes.end());
    ucnv_reset(converter_.get());
    std::u16string units(bytes.size() * 2 + 2, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = ucnv_toUChars(
        converter_.get(), reinterpret_cast<UChar*>(units.data()), static_cast<int32_t>(units.size()),
        reinterpret_cast<const char*>(bytes.data()), static_cast<int32_t>(bytes.size()), &status);
    if (U_FAILURE(status)) throw FormatError("it holds text that its code page cannot decode");
    units.resize(static_cast<size_t>(n));
    appendUtf16(out, units);
    return out;
  }

 private:
  struct Close {
    void operator()(UConverter* c) const { ucnv_close(c); }
  };
  std::unique_ptr<UConverter, Close> converter_;
};

// A BIFF8 XLUnicodeString (16-bit count, option byte, characters).
bool readUnicodeString(Cursor& c, std::string& out) {
  uint16_t count;
  uint8_t flags;
  return c.u16v(count) && c.u8(flags) && c.chars(count, flags & 1, out);
}

// A BIFF8 ShortXLUnicodeString (8-bit count) inside one record.
bool readShortUnicodeString(std::span<const uint8_t> d, size_t pos, std::string& out) {
  if (d.size() < pos + 2) return false;
  Cursor c({d.subspan(pos + 2)});
  return c.chars(d[pos], d[pos + 1] & 1, out);
}

// A byte string of `count` bytes at `pos`, or an empty span when too short.
bool byteString(std::span<const uint8_t> d, size_t pos, size_t count, std::span<const uint8_t>& out) {
  if (d.size() < pos || d.size() - pos < count) return false;
  out = d.subspan(pos, count);
  return true;
}

// An RK number: a 30-bit integer or the high 30 bits of a double, maybe / 100.
double rkValue(uint32_t rk) {
  double v;
  if (rk & 2) {
    v = static_cast<double>(static_cast<int32_t>(rk) >> 2);
  } else {
    const uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&v, &bits, sizeof v);
  }
  return (rk & 1) ? v / 100 : v;
}

void readSharedStrings(std::span<const uint8_t> stream, const RecordView& r, size_t& next, Globals& g) {
  std::vector<std::span<const uint8_t>> chunks = withContinues(stream, r, next);
  if (r.data.size() < 8) throw FormatError("its shared string table is too short");
  const uint32_t unique = u32(r.data.data() + 4);
  chunks[0] = chunks[0].subspan(8);
  size_t bytes = 0;
  for (auto c : chunks) bytes += c.size();
  // Every string takes at least 3 bytes, so the count cannot claim more.
  g.sharedStrings.reserve(std::min<size_t>(unique, bytes / 3));
  Cursor c(std::move(chunks));
  for (uint32_t i = 0; i < unique; ++i) {
    // A table that holds fewer strings than it announces ends here; cells
    // that refer beyond it are reported when a sheet is read.
    if (c.atEnd()) break;
    uint16_t count;
    uint8_t flags;
    uint16_t runs = 0;
    uint32_t extra = 0;
    std::string s;
    const bool ok = c.u16v(count) && c.u8(flags) && (!(flags & 8) || c.u16v(runs)) &&
                    (!(flags & 4) || c.u32v(extra)) && c.chars(count, flags & 1, s) &&
                    c.skip(uint64_t{runs} * 4) && c.skip(extra);
    if (!ok) {
      throw FormatError("its shared string table is truncated (string " + std::to_string(i + 1) + " of " +
                        std::to_string(unique) + ")");
    }
    g.sharedStrings.add(s);
  }
}

}  // namespace

std::string cellName(uint32_t row, uint32_t col) {
  std::string letters;
  uint32_t n = col + 1;
  while (n > 0) {
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % 26));
    n = (n - 1) / 26;
  }
  return letters + std::to_string(uint64_t{row} + 1);
}

std::string_view errorText(uint8_t code) {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t(256);
    for (int i = 0; i < 256; ++i) t[i] = "#ERR" + std::to_string(i);
    t[0x00] = "#NULL!";
    t[0x07] = "#DIV/0!";
    t[0x0F] = "#VALUE!";
    t[0x17] = "#REF!";
    t[0x1D] = "#NAME?";
    t[0x24] = "#NUM!";
    t[0x2A] = "#N/A";
    t[0x2B] = "#GETTING_DATA";
    return t;
  }();
  return texts[code];
}

Globals parseGlobals(std::span<const uint8_t> stream) {
  Globals g;
  RecordView r;
  if (!recordAt(stream, 0, r)) throw FormatError("its workbook stream is empty");
  if (r.id != kBof || r.data.size() < 4) {
    throw FormatError("its workbook stream does not start with a BIFF5 or BIFF8 beginning-of-file record");
  }
  const uint16_t version = u16(r.data.data());
  if (version == 0x0600) {
    g.biff8 = true;
  } else if (version == 0x0500) {
    g.biff8 = false;
  } else {
    throw FormatError("its workbook stream has BIFF version " + hex4(version) +
                      "; only Excel 5, 95 and 97-2003 workbooks (BIFF5 and BIFF8) can be read");
  }
  if (u16(r.data.data() + 2) != 0x0005)
    throw FormatError("its workbook stream does not start with the workbook globals");

  // BIFF5 names are byte strings in a code page that a later record may name.
  std::vector<std::span<const uint8_t>> rawSheetNames;
  std::vector<std::pair<uint16_t, std::span<const uint8_t>>> rawFormats;
  size_t pos = r.next;
  bool ended = false;
  while (!ended && recordAt(stream, pos, r)) {
    size_t next = r.next;
    const std::span<const uint8_t> d = r.data;
    switch (r.id) {
      case kEof:
        ended = true;
        break;
      case kFilePass:
        throw FormatError("it is protected with a password, and encrypted workbooks cannot be read");
      case kDateMode:
        if (d.size() >= 2) g.is1904 = u16(d.data()) == 1;
        break;
      case kCodePage:
        if (d.size() >= 2) g.codePage = u16(d.data());
        break;
      case kXf:
        if (d.size() < 4) throw FormatError("it has a cell format (XF) record that is too short");
        g.xfNumFmts.push_back(u16(d.data() + 2));
        break;
      case kFormat: {
        if (d.size() < 3) throw FormatError("it has a number format record that is too short");
        const uint16_t index = u16(d.data());
        if (g.biff8) {
          Cursor c({d.subspan(2)});
          std::string s;
          if (!readUnicodeString(c, s)) throw FormatError("it has a number format record that is too short");
          g.numFmts[index] = std::move(s);
        } else {
          std::span<const uint8_t> bytes;
          if (!byteString(d, 3, d[2], bytes))
            throw FormatError("it has a number format record that is too short");
          rawFormats.emplace_back(index, bytes);
        }
        break;
      }
      case kBoundSheet: {
        if (d.size() < 7) throw FormatError("it has a sheet record (BOUNDSHEET) that is too short");
        SheetEntry s;
        s.offset = u32(d.data());
        s.visibility = d[4] & 3;
        s.kind = d[5];
        if (g.biff8) {
          if (!readShortUnicodeString(d, 6, s.name)) {
            throw FormatError("it has a sheet record (BOUNDSHEET) whose name is truncated");
          }
        } else {
          std::span<const uint8_t> bytes;
          if (!byteString(d, 7, d[6], bytes)) {
            throw FormatError("it has a sheet record (BOUNDSHEET) whose name is truncated");
          }
          rawSheetNames.push_back(bytes);
        }
        g.sheets.push_back(std::move(s));
        break;
      }
      case kSst:
        if (g.biff8) readSharedStrings(stream, r, next, g);
        break;
      default:
        break;
    }
    pos = next;
  }
  if (!ended)
    throw FormatError("its workbook globals end without an end-of-file record (the file is truncated)");
  if (!g.biff8) {
    CodePageDecoder decoder(g.codePage);
    for (size_t i = 0; i < rawSheetNames.size(); ++i) g.sheets[i].name = decoder.decode(rawSheetNames[i]);
    for (const auto& [index, bytes] : rawFormats) g.numFmts[index] = decoder.decode(bytes);
  }
  return g;
}

Sheet parseSheet(std::span<const uint8_t> stream, const Globals& g, size_t index) {
  const SheetEntry& entry = g.sheets.at(index);
  const std::string where = "sheet \"" + entry.name + "\"";
  Sheet sheet;
  RecordView r;
  if (entry.offset >= stream.size() || !recordAt(stream, entry.offset, r) || r.id != kBof) {
    throw FormatError("its " + where + " does not start where the workbook says (offset " +
                      std::to_string(entry.offset) + ")");
  }
  std::unique_ptr<CodePageDecoder> decoder;
  if (!g.biff8) decoder = std::make_unique<CodePageDecoder>(g.codePage);

  auto tooShort = [&](uint16_t id, size_t pos) {
    return FormatError("its " + where + " has a record " + hex4(id) + " at offset " + std::to_string(pos) +
                       " that is too short");
  };
  auto beyondLastColumn = [&](uint32_t row, size_t col) {
    return FormatError("its " + where + " has a cell in row " + std::to_string(row + 1) + ", column " +
                       std::to_string(col + 1) + ", right of column IV, the last of an .xls sheet");
  };
  // A text of a LABEL, RSTRING or STRING record, from `skip` bytes into it.
  auto readText = [&](const RecordView& rec, size_t skip, size_t& next, size_t pos) -> uint32_t {
    std::string s;
    if (g.biff8) {
      std::vector<std::span<const uint8_t>> chunks = withContinues(stream, rec, next);
      if (chunks[0].size() < skip) throw tooShort(rec.id, pos);
      chunks[0] = chunks[0].subspan(skip);
      Cursor c(std::move(chunks));
      if (!readUnicodeString(c, s)) throw tooShort(rec.id, pos);
    } else {
      std::span<const uint8_t> bytes;
      if (rec.data.size() < skip + 2 || !byteString(rec.data, skip + 2, u16(rec.data.data() + skip), bytes)) {
        throw tooShort(rec.id, pos);
      }
      s = decoder->decode(bytes);
    }
    return sheet.texts.add(s);
  };
  auto textCell = [&](uint32_t text) {
    BiffCell c;
    c.value = CellValue::Text;
    c.text = text;
    return c;
  };

  constexpr size_t kNone = SIZE_MAX;
  size_t pendingString = kNone;  // the formula cell whose text a STRING record gives
  int depth = 1;                 // embedded charts are nested BOF ... EOF substreams
  size_t pos = r.next;
  while (depth > 0) {
    if (!recordAt(stream, pos, r))
      throw FormatError("its " + where + " is truncated (it has no end-of-sheet record)");
    size_t next = r.next;
    const std::span<const uint8_t> d = r.data;
    const uint8_t* p = d.data();
    if (r.id == kBof) {
      ++depth;
    } else if (r.id == kEof) {
      --depth;
    } else if (depth == 1) {
      // Every cell record starts with row, column and XF index.
      auto cellAt = [&](BiffCell c, size_t need) {
        if (d.size() < need) throw tooShort(r.id, pos);
        c.row = u16(p);
        c.col = u16(p + 2);
        if (c.col > kLastColumn) throw beyondLastColumn(c.row, c.col);
        c.xf = u16(p + 4);
        c.record = r.id;
        return c;
      };
      switch (r.id) {
        case kNumber: {
          BiffCell c = cellAt(BiffCell{}, 14);
          c.number = f64(p + 6);
          sheet.cells.push_back(c);
          pendingString = kNone;
          break;
        }
        case kRk: {
          BiffCell c = cellAt(BiffCell{}, 10);
          c.number = rkValue(u32(p + 6));
          sheet.cells.push_back(c);
          pendingString = kNone;
          break;
        }
        case kMulRk: {
          if (d.size() < 6 || (d.size() - 6) % 6 != 0) throw tooShort(r.id, pos);
          const uint16_t row = u16(p), first = u16(p + 2);
          const size_t n = (d.size() - 6) / 6;
          if (n > 0 && first + n - 1 > kLastColumn) throw beyondLastColumn(row, first + n - 1);
          for (size_t i = 0; i < n; ++i) {
            BiffCell c;
            c.row = row;
            c.col = static_cast<uint16_t>(first + i);
            c.xf = u16(p + 4 + 6 * i);
            c.record = kRk;
            c.number = rkValue(u32(p + 6 + 6 * i));
            sheet.cells.push_back(c);
          }
          pendingString = kNone;
          break;
        }
        case kLabelSst: {
          BiffCell c = cellAt(textCell(0), 10);
          c.text = u32(p + 6);
          if (c.text >= g.sharedStrings.size()) {
            throw FormatError("its cell " + cellName(c.row, c.col) + " of " + where +
                              " refers to shared string " + std::to_string(c.text) +
                              ", but the table holds " + std::to_string(g.sharedStrings.size()));
          }
          sheet.cells.push_back(c);
          pendingString = kNone;
          break;
        }
        case kLabel:
        case kRString: {
          BiffCell c = cellAt(textCell(0), 8);
          c.text = readText(r, 6, next, pos);
          sheet.cells.push_back(c);
          pendingString = kNone;
          break;
        }
        case kBoolErr: {
          BiffCell c = cellAt(BiffCell{}, 8);
          c.value = p[7] ? CellValue::Error : CellValue::Bool;
          c.number = p[7] ? p[6] : (p[6] != 0);
          sheet.cells.push_back(c);
          pendingString = kNone;
          break;
        }
        case kFormula: {
          BiffCell c = cellAt(BiffCell{}, 20);
          pendingString = kNone;
          if (u16(p + 12) == 0xFFFF) {
            // Not a number: the first byte of the result says what it is.
            switch (p[6]) {
              case 0:  // a text, in the STRING record that follows
                c.value = CellValue::Text;
                pendingString = sheet.cells.size();
                break;
              case 1:
                c.value = CellValue::Bool;
                c.number = p[8] != 0;
                break;
              case 2:
                c.value = CellValue::Error;
                c.number = p[8];
                break;
              default:  // the empty text
                c.value = CellValue::Text;
                break;
            }
          } else {
            c.number = f64(p + 6);
          }
          sheet.cells.push_back(c);
          break;
        }
        case kString:
          if (pendingString != kNone) {
            sheet.cells[pendingString].text = readText(r, 0, next, pos);
            pendingString = kNone;
          }
          break;
        case kBlank:
        case kMulBlank:
          pendingString = kNone;
          break;
        default:  // shared and array formulas may stand between FORMULA and STRING
          break;
      }
    }
    pos = next;
  }

  // Writers store cells row by row; order and deduplicate those that do not.
  auto before = [](const BiffCell& a, const BiffCell& b) {
    return a.row != b.row ? a.row < b.row : a.col < b.col;
  };
  auto& cells = sheet.cells;
  bool ordered = true;
  for (size_t i = 1; i < cells.size() && ordered; ++i) ordered = before(cells[i - 1], cells[i]);
  if (!ordered) {
    std::stable_sort(cells.begin(), cells.end(), before);
    size_t out = 0;
    for (size_t i = 0; i < cells.size(); ++i) {
      if (i + 1 < cells.size() && !before(cells[i], cells[i + 1])) continue;  // a later record replaces it
      cells[out++] = cells[i];
    }
    cells.resize(out);
  }
  return sheet;
}

}  // namespace tabulix::xls
