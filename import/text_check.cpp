#include "import/text_check.h"

#include <fstream>

#include "engine/translate.h"
#include "import/csv_parser.h"

namespace tabulix {

namespace {

// Bytes looked at: the signatures and the share of control characters.
constexpr size_t kHead = 1024;
// Bytes searched for the names that tell a workbook inside a ZIP or OLE2 file.
constexpr size_t kWorkbookSearch = 64 * 1024;

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// A workbook in an OLE2 file holds a stream named "Workbook" (BIFF8) or
// "Book" (BIFF5), written in UTF-16 in the directory.
bool namesOle2Workbook(std::string_view bytes) {
  return bytes.find(std::string_view("W\0o\0r\0k\0b\0o\0o\0k\0", 16)) != std::string_view::npos ||
         bytes.find(std::string_view("B\0o\0o\0k\0", 8)) != std::string_view::npos;
}

}  // namespace

std::optional<std::string> whyBytesAreNotText(std::string_view bytes, const std::string& name) {
  const std::string_view head = bytes.substr(0, kHead);
  const std::string_view zip("PK\x03\x04", 4), emptyZip("PK\x05\x06", 4);
  if (startsWith(head, zip) || startsWith(head, emptyZip)) {
    if (bytes.substr(0, kWorkbookSearch).find("xl/workbook.xml") != std::string_view::npos)
      return fillPlaceholders(tr("%@ is an .xlsx workbook under another name: rename it to end in .xlsx."),
                              {name});
    return fillPlaceholders(tr("%@ is not a text file or workbook."), {name});
  }
  if (startsWith(head, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) {
    if (namesOle2Workbook(bytes.substr(0, kWorkbookSearch)))
      return fillPlaceholders(tr("%@ is an .xls workbook under another name: rename it to end in .xls."),
                              {name});
    return fillPlaceholders(tr("%@ is not a text file or workbook."), {name});
  }
  static constexpr std::string_view kSignatures[] = {
      std::string_view("\x7F"
                       "ELF",
                       4),
      "%PDF-",
      "\x89PNG\r\n\x1A\n",
      "\xFF\xD8\xFF",
      "GIF87a",
      "GIF89a",
      std::string_view("SQLite format 3\0", 16),
  };
  for (std::string_view sig : kSignatures)
    if (startsWith(head, sig)) return fillPlaceholders(tr("%@ is not a text file or workbook."), {name});
  // UTF-16 and UTF-32 have NULs by nature: the encoding the parser sniffs
  // decides whether NULs count against the bytes.
  std::optional<TextEncoding> encoding;
  CsvParser sniffer(std::make_unique<MemoryByteSource>(head), &encoding, u',');
  if (encoding && *encoding != TextEncoding::UTF8 && *encoding != TextEncoding::Windows1252)
    return std::nullopt;
  size_t controls = 0;
  for (unsigned char c : head)
    controls += c == 0 ||
                (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v' && c != 0x1B) ||
                c == 0x7F;
  if (!head.empty() && 2 * controls > head.size())
    return fillPlaceholders(tr("%@ is not a text file or workbook."), {name});
  return std::nullopt;
}

std::optional<std::string> whyNotTextFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(kWorkbookSearch, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  if (bytes.empty()) return fillPlaceholders(tr("%@ is empty."), {file.string()});
  return whyBytesAreNotText(bytes, file.string());
}

}  // namespace tabulix
