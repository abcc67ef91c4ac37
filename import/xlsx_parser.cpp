#include "import/xlsx_parser.h"

// Debian's expat is built with DTD support; its entity-amplification
// limits are declared only when the program says so.
#ifndef XML_DTD
#define XML_DTD
#endif
#include <expat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/log.h"

namespace tabulix {

namespace {

constexpr size_t kColumnNames = 702;
// References of up to three letters (ZZZ) are read; Excel's last column is XFD.
constexpr size_t kReadableColumns = 18278;
constexpr size_t kNoColumn = static_cast<size_t>(-1);
// Parts other than the sheet data and the shared strings are small.
constexpr uint64_t kSmallPartCap = 64ull << 20;
constexpr uint64_t kSharedStringsCap = 1536ull << 20;
constexpr uint64_t kSheetCap = 4ull << 30;

// An element or attribute name without its namespace prefix: writers differ
// in the prefixes they use for the same namespace.
std::string_view localName(const char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon ? std::string_view(colon + 1) : std::string_view(name);
}

const char* attr(const char** attrs, const char* name) {
  for (; *attrs; attrs += 2)
    if (std::strcmp(attrs[0], name) == 0) return attrs[1];
  return nullptr;
}

// The leading integer of a text (after blanks and an optional sign), as a
// string's integer value is read: 0 when there is none; saturating.
int64_t integerValue(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (v > (INT64_MAX - 9) / 10) return neg ? INT64_MIN : INT64_MAX;
    v = v * 10 + (s[i] - '0');
  }
  return neg ? -v : v;
}

// The 0-based column of a reference's letters (B12 → 1), kNoColumn past ZZZ
// or without letters. Lower-case letters are read as upper case.
size_t columnOf(std::string_view ref) {
  size_t col = 0, letters = 0;
  for (char c : ref) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') break;
    if (++letters > 3) return kNoColumn;
    col = col * 26 + static_cast<size_t>(c - 'A' + 1);
  }
  return letters ? col - 1 : kNoColumn;
}

// A cell value read as a number, when the whole text is one.
bool numberValue(const std::string& s, double& out) {
  if (s.empty()) return false;
  const char* begin = s.c_str();
  char* end = nullptr;
  errno = 0;
  out = std::strtod(begin, &end);
  while (end && (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r')) ++end;
  return end != begin && end && *end == '\0' && std::isfinite(out);
}

}  // namespace

// The expat parser of one part, freed on every path out.
struct XlsxParser::Xml {
  XML_Parser parser;
  explicit Xml(XlsxParser* owner) : parser(XML_ParserCreate(nullptr)) {
    if (!parser) throw std::bad_alloc();
    XML_SetUserData(parser, owner);
    // Workbook parts never declare a document type: one that does is
    // refused before any entity could be defined, let alone expanded.
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser, 20.0f);
    XML_SetBillionLaughsAttackProtectionActivationThreshold(parser, 1u << 20);
    XML_SetStartDoctypeDeclHandler(
        parser, [](void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
          auto* p = static_cast<XlsxParser*>(self);
          p->error_ = "a document type declaration (not allowed in a workbook part)";
          XML_StopParser(p->xml_->parser, XML_FALSE);
        });
    XML_SetElementHandler(
        parser,
        [](void* self, const XML_Char* name, const XML_Char** attrs) {
          static_cast<XlsxParser*>(self)->startElement(name, attrs);
        },
        [](void* self, const XML_Char* name) { static_cast<XlsxParser*>(self)->endElement(name); });
    XML_SetCharacterDataHandler(parser, [](void* self, const XML_Char* s, int len) {
      static_cast<XlsxParser*>(self)->characters(s, len);
    });
  }
  ~Xml() { XML_ParserFree(parser); }
};

const std::vector<std::string>& XlsxParser::orderCols() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    v.reserve(kColumnNames);
    for (char c = 'A'; c <= 'Z'; ++c) v.emplace_back(1, c);
    for (char a = 'A'; a <= 'Z'; ++a)
      for (char b = 'A'; b <= 'Z'; ++b) v.push_back(std::string{a, b});
    return v;
  }();
  return names;
}

std::string XlsxParser::columnName(size_t index) {
  std::string name;
  for (size_t n = index + 1; n > 0; n = (n - 1) / 26)
    name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
  return name;
}

XlsxParser::XlsxParser(const std::filesystem::path& file, XlsxParserDelegate* delegate)
    : delegate_(delegate), path_(file.string()) {
  zip_ = std::make_unique<ZipPackage>(file);
  start();
}

XlsxParser::XlsxParser(std::string_view bytes, const std::string& displayName, XlsxParserDelegate* delegate,
                       ZipLimits limits)
    : delegate_(delegate), path_(displayName) {
  zip_ = std::make_unique<ZipPackage>(bytes, displayName, limits);
  start();
}

XlsxParser::~XlsxParser() = default;

void XlsxParser::fail(const std::string& what) const {
  throw WorkbookError("The file " + path_ + " is not a readable workbook: " + what + ".");
}

void XlsxParser::start() {
  if (!zip_->contains("xl/workbook.xml")) fail("it has no workbook part (xl/workbook.xml)");
  if (!zip_->contains("xl/_rels/workbook.xml.rels"))
    fail("it has no workbook relationships (xl/_rels/workbook.xml.rels)");
  parsePart(Part::Rels, "xl/_rels/workbook.xml.rels", kSmallPartCap);
  parsePart(Part::Workbook, "xl/workbook.xml", kSmallPartCap);
  if (delegate_) delegate_->parserDidInspectDocument(*this, path_, sheets_);
}

void XlsxParser::parsePart(Part part, const std::string& name, uint64_t cap) {
  Xml xml(this);
  // Measuring needs the elements alone, not their texts.
  if (part == Part::Measure) XML_SetCharacterDataHandler(xml.parser, nullptr);
  xml_ = &xml;
  part_ = part;
  partName_ = name;
  pending_ = nullptr;
  error_.clear();
  stoppedByCancel_ = false;
  bool stopped = false;
  auto check = [&](XML_Status status) {
    if (status == XML_STATUS_OK) return true;
    stopped = true;
    return false;
  };
  partRead_ = 0;
  partSize_ = zip_->declaredSize(name);
  zip_->read(name, cap, [&](const char* data, size_t len) {
    partRead_ += len;
    return check(XML_Parse(xml.parser, data, static_cast<int>(len), XML_FALSE));
  });
  if (!stopped) check(XML_Parse(xml.parser, nullptr, 0, XML_TRUE));
  xml_ = nullptr;
  if (pending_) std::rethrow_exception(pending_);
  if (stoppedByCancel_) return;
  if (!error_.empty())
    fail("its part " + name + " has " + error_ + " (line " +
         std::to_string(XML_GetCurrentLineNumber(xml.parser)) + ")");
  if (stopped)
    fail("its part " + name + " is not well-formed XML: " + XML_ErrorString(XML_GetErrorCode(xml.parser)) +
         " at line " + std::to_string(XML_GetCurrentLineNumber(xml.parser)) + ", column " +
         std::to_string(XML_GetCurrentColumnNumber(xml.parser)));
}

std::optional<double> XlsxParser::fractionRead() const {
  if (part_ != Part::Measure && part_ != Part::Sheet) return std::nullopt;
  // The claimed size may be anything: the share is capped.
  const double share =
      std::min(1.0, static_cast<double>(partRead_) / static_cast<double>(std::max<uint64_t>(1, partSize_)));
  return part_ == Part::Measure ? share / 2 : 0.5 + share / 2;
}

void XlsxParser::parseSheetNumber(int64_t num) {
  for (const XlsxSheet& s : sheets_)
    if (s.num == num) return parseSheetRel(s.relId);
  parseSheetRel("rId" + std::to_string(num));
}

void XlsxParser::parseSheetAtIndex(size_t index) {
  if (index >= sheets_.size())
    fail("it has " + std::to_string(sheets_.size()) + " sheet(s), and sheet " + std::to_string(index + 1) +
         " was asked for");
  parseSheetRel(sheets_[index].relId);
}

void XlsxParser::parseSheetRel(const std::string& relId) {
  auto rel = workbookRels_.find(relId);
  if (rel == workbookRels_.end()) fail("no worksheet has the relationship id \"" + relId + "\"");
  // A target is relative to xl/, or absolute from the package root; ".."
  // segments are resolved inside the package and may not leave it.
  std::string target = rel->second;
  std::vector<std::string> segments;
  if (target.empty() || target[0] != '/') segments.push_back("xl");
  for (size_t startPos = 0; startPos <= target.size();) {
    size_t end = target.find('/', startPos);
    if (end == std::string::npos) end = target.size();
    std::string seg = target.substr(startPos, end - startPos);
    if (seg == "..") {
      if (segments.empty()) fail("the worksheet target \"" + target + "\" points outside the package");
      segments.pop_back();
    } else if (!seg.empty() && seg != ".") {
      segments.push_back(seg);
    }
    startPos = end + 1;
  }
  std::string sheetPart;
  for (const auto& s : segments) sheetPart += (sheetPart.empty() ? "" : "/") + s;
  if (!zip_->contains(sheetPart)) fail("it has no sheet part " + sheetPart);

  sharedStrings_.clear();
  sharedBytes_ = 0;
  inSharedString_ = false;
  if (zip_->contains("xl/sharedStrings.xml"))
    parsePart(Part::SharedStrings, "xl/sharedStrings.xml", kSharedStringsCap);
  styles_.clear();
  formatKinds_.clear();
  // A workbook without styles has no date formats: every number stays a number.
  if (zip_->contains("xl/styles.xml")) parsePart(Part::Styles, "xl/styles.xml", kSmallPartCap);
  // A code the workbook gives for a format wins over the built-in meaning
  // of its id. Style 0 is the default format and never a date.
  styleKinds_.assign(styles_.size(), WorkbookFormatKind::Number);
  for (size_t k = 1; k < styles_.size(); ++k) {
    auto code = formatKinds_.find(styles_[k]);
    styleKinds_[k] = code != formatKinds_.end() ? code->second : workbookBuiltinFormatKind(styles_[k]);
  }

  // First reading: which columns hold values, whatever the dimension says.
  haveDimension_ = false;
  dimensionFirst_ = dimensionWidth_ = 0;
  columnValues_.assign(kReadableColumns, 0);
  measured_ = 0;
  row_ = 0;
  try {
    parsePart(Part::Measure, sheetPart, kSheetCap);
  } catch (const WorkbookError&) {
    // A damaged sheet: the rows before the damage are measured, and the
    // delivery meets the same failure after delivering them.
  }
  layOutColumns();

  inValue_ = isStringValue_ = false;
  rowInternal_ = 0;
  row_ = 0;
  if (!cancelled_) parsePart(Part::Sheet, sheetPart, kSheetCap);
  if (delegate_) delegate_->parserDidCompleteDocument(*this, path_);
}

void XlsxParser::appendCapped(std::string& to, const char* s, size_t len) {
  if (to.size() + len > kMaxCellText) {
    error_ = "a text longer than " + std::to_string(kMaxCellText >> 20) + " MiB";
    XML_StopParser(xml_->parser, XML_FALSE);
    return;
  }
  to.append(s, len);
}

void XlsxParser::startElement(const char* rawName, const char** attrs) {
  if (cancelled_) {
    stoppedByCancel_ = true;
    XML_StopParser(xml_->parser, XML_FALSE);
    return;
  }
  try {
    std::string_view name = localName(rawName);
    switch (part_) {
      case Part::Rels:
        if (name == "Relationship") {
          const char* type = attr(attrs, "Type");
          const char* id = attr(attrs, "Id");
          const char* target = attr(attrs, "Target");
          const char* mode = attr(attrs, "TargetMode");
          std::string_view t = type ? type : "";
          // Transitional and strict packages name the type differently; both end so.
          if (id && target && t.ends_with("/relationships/worksheet") &&
              !(mode && std::strcmp(mode, "External") == 0))
            workbookRels_[id] = target;
        }
        break;
      case Part::Workbook:
        if (name == "sheet") {
          XlsxSheet s;
          if (const char* n = attr(attrs, "name")) s.name = n;
          for (const char** a = attrs; *a; a += 2)
            if (std::strchr(a[0], ':') && localName(a[0]) == "id") s.relId = a[1];
          std::string digits = s.relId;
          for (size_t p; (p = digits.find("rId")) != std::string::npos;) digits.erase(p, 3);
          s.num = integerValue(digits);
          if (sheets_.size() >= 100000) fail("it lists more than 100000 sheets");
          sheets_.push_back(std::move(s));
        } else if (name == "workbookPr") {
          const char* d = attr(attrs, "date1904");
          if (d && (std::strcmp(d, "1") == 0 || std::strcmp(d, "true") == 0)) date1904_ = true;
        }
        break;
      case Part::SharedStrings:
        if (name == "si") {
          if (sharedStrings_.size() >= kMaxSharedStrings) {
            error_ = "more than " + std::to_string(kMaxSharedStrings) + " shared strings";
            XML_StopParser(xml_->parser, XML_FALSE);
            return;
          }
          currentCharacters_.clear();
          phoneticDepth_ = 0;
        } else if (name == "rPh") {
          ++phoneticDepth_;
        } else if (name == "t" && phoneticDepth_ == 0) {
          inSharedString_ = true;
        }
        break;
      case Part::Styles:
        if (name == "numFmts") {
          inNumFmts_ = true;
        } else if (name == "cellXfs") {
          inCellXfs_ = true;
          styles_.clear();
        } else if (name == "xf" && inCellXfs_) {
          if (styles_.size() >= kMaxStyles)
            fail("it has more than " + std::to_string(kMaxStyles) + " cell formats");
          const char* id = attr(attrs, "numFmtId");
          styles_.push_back(id ? integerValue(id) : 0);
        } else if (name == "numFmt" && inNumFmts_) {
          const char* code = attr(attrs, "formatCode");
          const char* id = attr(attrs, "numFmtId");
          if (code && id) {
            if (formatKinds_.size() >= kMaxStyles)
              fail("it has more than " + std::to_string(kMaxStyles) + " number formats");
            formatKinds_[integerValue(id)] = workbookFormatKind(code);
          }
        }
        break;
      case Part::Measure:
        measureStart(name, attrs);
        break;
      case Part::Sheet:
        sheetStart(name, attrs);
        break;
    }
  } catch (...) {
    pending_ = std::current_exception();
    XML_StopParser(xml_->parser, XML_FALSE);
  }
}

void XlsxParser::cellStart(const char** attrs) {
  const char* r = attr(attrs, "r");
  // A cell without a reference follows the one before it.
  col_ = r ? columnOf(r) : nextCol_;
  nextCol_ = col_ == kNoColumn ? kNoColumn : col_ + 1;
}

void XlsxParser::measureStart(std::string_view name, const char** attrs) {
  if (name == "c") {
    cellStart(attrs);
    cellHasValue_ = false;
  } else if (name == "v" || name == "is") {
    cellHasValue_ = true;
  } else if (name == "row") {
    nextCol_ = 0;
  } else if (name == "dimension" && measured_ == 0 && !haveDimension_) {
    // The dimension's first column is where the lines start when no value
    // lies left of it (B2:D5 gives B, C, D); its last column is not trusted.
    const char* ref = attr(attrs, "ref");
    if (!ref) return;
    std::string_view whole(ref);
    size_t colon = whole.find(':');
    std::string_view a = whole.substr(0, colon),
                     b = colon == std::string_view::npos ? a : whole.substr(colon + 1);
    auto strip = [](std::string_view s) {
      while (!s.empty() && (s.front() == '$' || (s.front() >= '0' && s.front() <= '9'))) s.remove_prefix(1);
      return s;
    };
    size_t first = columnOf(strip(a)), last = columnOf(strip(b));
    if (first == kNoColumn) return;
    if (last == kNoColumn) last = kReadableColumns - 1;
    if (last < first) std::swap(first, last);
    dimensionFirst_ = first;
    dimensionWidth_ = last - first + 1;
    haveDimension_ = true;
  }
}

void XlsxParser::measureEnd(std::string_view name) {
  if (name == "c") {
    if (cellHasValue_ && col_ < kReadableColumns) ++columnValues_[col_];
    cellHasValue_ = false;
    col_ = kNoColumn;
  } else if (name == "row" && ++measured_ >= measuredRows_) {
    stoppedByCancel_ = true;  // the rest of the sheet is never delivered
    XML_StopParser(xml_->parser, XML_FALSE);
  }
}

void XlsxParser::layOutColumns() {
  size_t first = kNoColumn, last = 0;
  for (size_t c = 0; c < kReadableColumns; ++c) {
    if (columnValues_[c] == 0) continue;
    if (first == kNoColumn) first = c;
    last = c;
  }
  if (first == kNoColumn) {
    // No value anywhere: the dimension alone says how wide the rows are.
    firstCol_ = haveDimension_ ? dimensionFirst_ : 0;
    colCount_ = haveDimension_ ? std::min(dimensionWidth_, columnLimit_) : 0;
  } else {
    firstCol_ = haveDimension_ ? std::min(dimensionFirst_, first) : 0;
    size_t width = last - firstCol_ + 1;
    colCount_ = std::min(width, columnLimit_);
    if (width > colCount_) {
      XlsxLeftOut leftOut{firstCol_ + colCount_, last, 0};
      for (size_t c = leftOut.firstColumn; c <= last; ++c) leftOut.values += columnValues_[c];
      if (delegate_) delegate_->parserDidLeaveOutColumns(*this, leftOut);
    }
  }
  columnValues_ = {};
  slots_.assign(colCount_, std::string());
  present_.assign(colCount_, 0);
  touched_.clear();
}

void XlsxParser::sheetStart(std::string_view name, const char** attrs) {
  if (name == "c") {
    cellStart(attrs);
    const char* t = attr(attrs, "t");
    isStringValue_ = t && std::strcmp(t, "s") == 0;
    isInlineCell_ = t && std::strcmp(t, "inlineStr") == 0;
    isBoolCell_ = t && std::strcmp(t, "b") == 0;
    isNumberCell_ = !t || std::strcmp(t, "n") == 0;
    cellKind_ = WorkbookFormatKind::Number;
    hasValue_ = false;
    if (const char* s = attr(attrs, "s")) {
      int64_t k = integerValue(s);
      if (k >= 1 && static_cast<uint64_t>(k) < styleKinds_.size())
        cellKind_ = styleKinds_[static_cast<size_t>(k)];
    }
  } else if (name == "v") {
    inValue_ = true;
    currentCharacters_.clear();
  } else if (name == "row") {
    const char* r = attr(attrs, "r");
    // A row without a number follows the one before it.
    row_ = r ? static_cast<uint64_t>(std::max<int64_t>(0, integerValue(r))) : row_ + 1;
    nextCol_ = 0;
    for (size_t i : touched_) present_[i] = 0;
    touched_.clear();
  } else if (name == "is") {
    inInline_ = true;
    inlineText_.clear();
    phoneticDepth_ = 0;
  } else if (inInline_ && name == "rPh") {
    ++phoneticDepth_;
  } else if (inInline_ && name == "t" && phoneticDepth_ == 0) {
    inInlineT_ = true;
  }
}

void XlsxParser::characters(const char* s, int len) {
  if (inValue_ || inSharedString_) {
    appendCapped(currentCharacters_, s, static_cast<size_t>(len));
  } else if (inInlineT_) {
    appendCapped(inlineText_, s, static_cast<size_t>(len));
  }
}

void XlsxParser::storeCell(std::string&& text) {
  hasValue_ = true;
  // Outside the delivered columns: past the column limit (counted by the
  // first reading), or in rows after the measured ones.
  if (col_ == kNoColumn || col_ < firstCol_ || col_ - firstCol_ >= colCount_) return;
  size_t i = col_ - firstCol_;
  if (!present_[i]) {
    present_[i] = 1;
    touched_.push_back(i);
  }
  slots_[i].swap(text);
}

void XlsxParser::finishValue() {
  std::string text;
  double d;
  if (isStringValue_) {
    int64_t i = integerValue(currentCharacters_);
    if (i >= 0 && static_cast<uint64_t>(i) < sharedStrings_.size())
      text = sharedStrings_[static_cast<size_t>(i)];
    else
      text = "parse error";
  } else if (isBoolCell_ && (currentCharacters_ == "1" || currentCharacters_ == "0")) {
    text = currentCharacters_ == "1" ? "TRUE" : "FALSE";
  } else if (!(cellKind_ != WorkbookFormatKind::Number && isNumberCell_ &&
               numberValue(currentCharacters_, d) && workbookDateText(d, date1904_, cellKind_, text))) {
    // Only numbers are dates: a formula's text, a boolean or an error value
    // under a date format stays as written.
    text.swap(currentCharacters_);
  }
  storeCell(std::move(text));
}

void XlsxParser::endElement(const char* rawName) {
  try {
    std::string_view name = localName(rawName);
    switch (part_) {
      case Part::SharedStrings:
        if (name == "t") {
          inSharedString_ = false;
        } else if (name == "rPh") {
          --phoneticDepth_;
        } else if (name == "si") {
          // One entry per item, holding the text of all its runs.
          sharedBytes_ += currentCharacters_.size();
          if (sharedBytes_ > kMaxSharedStringBytes) {
            error_ =
                "shared strings longer than " + std::to_string(kMaxSharedStringBytes >> 20) + " MiB in all";
            XML_StopParser(xml_->parser, XML_FALSE);
            return;
          }
          sharedStrings_.push_back(currentCharacters_);
        }
        break;
      case Part::Styles:
        if (name == "numFmts") inNumFmts_ = false;
        if (name == "cellXfs") inCellXfs_ = false;
        break;
      case Part::Measure:
        measureEnd(name);
        break;
      case Part::Sheet:
        sheetEnd(name);
        break;
      default:
        break;
    }
  } catch (...) {
    pending_ = std::current_exception();
    XML_StopParser(xml_->parser, XML_FALSE);
  }
}

void XlsxParser::sheetEnd(std::string_view name) {
  if (name == "v") {
    if (!inValue_) return;
    inValue_ = false;
    finishValue();
  } else if (name == "c") {
    if (isInlineCell_ && !hasValue_) storeCell(std::move(inlineText_));
    inlineText_.clear();
    isStringValue_ = isInlineCell_ = isBoolCell_ = false;
    col_ = kNoColumn;
  } else if (name == "t") {
    inInlineT_ = false;
  } else if (name == "rPh" && inInline_) {
    --phoneticDepth_;
  } else if (name == "is") {
    inInline_ = inInlineT_ = false;
  } else if (name == "row") {
    deliverRow();
  }
}

void XlsxParser::deliverRow() {
  line_.resize(colCount_);
  for (size_t i = 0; i < colCount_; ++i) {
    if (present_[i])
      line_[i].swap(slots_[i]);
    else
      line_[i].clear();
  }
  for (size_t i : touched_) present_[i] = 0;
  touched_.clear();
  // Counted as delivered, so that a row element nested in another (a damaged
  // sheet) cannot make the count skip.
  ++rowInternal_;
  if (delegate_) delegate_->parserDidCompleteLine(*this, line_, row_, rowInternal_);
}

}  // namespace tabulix
