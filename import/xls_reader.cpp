#include "import/xls_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "import/xls_cfb.h"

namespace tabulix {

namespace {

// The file mapped read-only for the time it is parsed.
class MappedFile {
 public:
  explicit MappedFile(const std::filesystem::path& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "cannot open it");
    struct stat st {};
    if (::fstat(fd_, &st) != 0) throw std::system_error(errno, std::generic_category(), "cannot read it");
    if (!S_ISREG(st.st_mode)) throw xls::FormatError("it is not a regular file");
    size_ = static_cast<size_t>(st.st_size);
    if (size_ > 0) {
      void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
      if (p == MAP_FAILED) throw std::system_error(errno, std::generic_category(), "cannot read it");
      data_ = static_cast<const uint8_t*>(p);
    }
  }
  ~MappedFile() {
    if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
    if (fd_ >= 0) ::close(fd_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  std::span<const uint8_t> bytes() const { return {data_, size_}; }

 private:
  int fd_ = -1;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// The workbook stream of a compound file, with clear words for files that are
// something else.
std::vector<uint8_t> workbookStream(std::span<const uint8_t> bytes) {
  if (bytes.empty()) throw xls::FormatError("it is empty");
  if (bytes.size() >= 4 && bytes[0] == 'P' && bytes[1] == 'K' && bytes[2] == 3 && bytes[3] == 4) {
    throw xls::FormatError("it is a zip container (an .xlsx workbook?), not an Excel 97-2003 workbook");
  }
  // Excel 2.x to 4.0 wrote bare BIFF records without a compound file.
  if (bytes.size() >= 4 && bytes[0] == 0x09 && (bytes[1] == 0x00 || bytes[1] == 0x02 || bytes[1] == 0x04) &&
      bytes[3] == 0) {
    throw xls::FormatError(
        "it is an Excel 2.x-4.0 worksheet (BIFF2-4), which cannot be read; save it as an Excel 97-2003 "
        "workbook");
  }
  xls::CompoundFile cf(bytes);
  if (auto s = cf.rootStream("Workbook")) return std::move(*s);
  if (auto s = cf.rootStream("Book")) return std::move(*s);
  throw xls::FormatError("it is a compound file without a workbook stream, so not an Excel workbook");
}

}  // namespace

std::string_view xlsCellTypeName(int32_t type) {
  static constexpr std::string_view names[] = {"cellBlank", "cellString", "cellInteger",
                                               "cellFloat", "cellBool",   "cellError"};
  return type >= 0 && type <= 5 ? names[type] : "cellUnknown";
}

XlsReader::XlsReader(std::vector<uint8_t> stream)
    : stream_(std::move(stream)), globals_(xls::parseGlobals(stream_)) {}

std::unique_ptr<XlsReader> XlsReader::xlsReaderFromFile(const std::filesystem::path& path) {
  MappedFile file(path);
  return std::unique_ptr<XlsReader>(new XlsReader(workbookStream(file.bytes())));
}

std::unique_ptr<XlsReader> XlsReader::xlsReaderFromMemory(std::span<const uint8_t> bytes) {
  return std::unique_ptr<XlsReader>(new XlsReader(workbookStream(bytes)));
}

std::optional<std::string> XlsReader::sheetNameAtIndex(uint32_t index) const {
  if (index >= globals_.sheets.size()) return std::nullopt;
  return globals_.sheets[index].name;
}

void XlsReader::startIterator(uint32_t index) {
  if (index >= globals_.sheets.size()) {
    iterating_ = false;
    cursor_ = SIZE_MAX;
    return;
  }
  if (index != activeWorkSheetID_) {
    sheet_ = {};
    activeWorkSheetID_ = kNone;
    sheet_ = xls::parseSheet(stream_, globals_, index);
    activeWorkSheetID_ = index;
  }
  iterating_ = true;
  cursor_ = 0;
}

std::optional<XlsCell> XlsReader::nextCell() {
  if (!iterating_) return std::nullopt;
  XlsCell out;
  if (cursor_ >= sheet_.cells.size()) return out;  // the blank cell, on every later call too
  const xls::BiffCell& c = sheet_.cells[cursor_++];
  out.row = c.row + 1;
  out.col = uint32_t{c.col} + 1;
  out.xf = c.xf;
  auto text = [&]() -> std::string_view {
    if (c.text == xls::BiffCell::kNoText) return {};
    if (c.record == xls::kLabelSst) return globals_.sharedStrings[c.text];
    return sheet_.texts[c.text];
  };
  switch (c.record) {
    case xls::kFormula:
      switch (c.value) {
        case xls::CellValue::Number:
          out.type = cellFloat;
          out.val = c.number;
          break;
        case xls::CellValue::Bool:
          out.type = cellBool;
          out.val = c.number;
          out.str = c.number != 0 ? "TRUE" : "FALSE";
          break;
        case xls::CellValue::Error:
          out.type = cellError;
          out.val = c.number;
          out.str = xls::errorText(static_cast<uint8_t>(c.number));
          break;
        case xls::CellValue::Text:
          out.type = cellString;
          out.str = text();
          break;
      }
      break;
    case xls::kLabelSst:
      out.type = cellString;
      out.val = c.text;
      out.str = text();
      break;
    case xls::kLabel:
      out.type = cellString;
      out.str = text();
      break;
    case xls::kNumber:
    case xls::kRk:
      out.type = cellFloat;
      out.val = c.number;
      break;
    case xls::kBoolErr:
      out.type = cellUnknown;
      out.str = c.value == xls::CellValue::Error ? xls::errorText(static_cast<uint8_t>(c.number))
                                                 : (c.number != 0 ? "TRUE" : "FALSE");
      break;
    default:
      out.type = cellUnknown;
      out.str = text();
      break;
  }
  return out;
}

}  // namespace tabulix
