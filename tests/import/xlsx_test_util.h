// Test support: small .xlsx containers written part by part with minizip's
// zip writer, for the cases an ordinary writer never produces.
#pragma once

#include <zip.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace tabulix::testing {

using Parts = std::vector<std::pair<std::string, std::string>>;

// Writes the parts, deflated, into a zip file at `path`.
inline void writeZip(const std::filesystem::path& path, const Parts& parts) {
  zipFile z = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  for (const auto& [name, data] : parts) {
    zipOpenNewFileInZip64(z, name.c_str(), nullptr, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6, 1);
    zipWriteInFileInZip(z, data.data(), static_cast<unsigned>(data.size()));
    zipCloseFileInZip(z);
  }
  zipClose(z, nullptr);
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The parts of a one-sheet workbook around `sheetData` (the worksheet's
// content, with or without a dimension), `styles` and `shared` strings.
inline Parts workbookParts(const std::string& sheetXml, const std::string& styles = "",
                           const std::string& shared = "", const std::string& workbookPr = "") {
  Parts p = {
      {"xl/workbook.xml",
       "<workbook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">" +
           workbookPr + "<sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId7\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       "<Relationships><Relationship Id=\"rId7\" "
       "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
       "Target=\"worksheets/sheet1.xml\"/></Relationships>"},
      {"xl/worksheets/sheet1.xml", "<worksheet>" + sheetXml + "</worksheet>"},
  };
  if (!styles.empty()) p.emplace_back("xl/styles.xml", "<styleSheet>" + styles + "</styleSheet>");
  if (!shared.empty()) p.emplace_back("xl/sharedStrings.xml", "<sst>" + shared + "</sst>");
  return p;
}

}  // namespace tabulix::testing
