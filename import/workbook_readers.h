// The workbook readers behind the import driver: .xlsx through XlsxParser,
// .xls through the BIFF8 reader.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#include "import/import_reader.h"
#include "import/xlsx_parser.h"

namespace tabulix {

// Reads one sheet of an .xlsx workbook for the import driver.
class XlsxReader : public ImportReader, private XlsxParserDelegate {
 public:
  // A reader of `file` writing dates in `localeName`'s patterns.
  XlsxReader(std::filesystem::path file, std::string localeName)
      : file_(std::move(file)), locale_(std::move(localeName)) {}
  // The sheet names; throws WorkbookError.
  std::optional<std::vector<std::string>> sheets() override;
  // Delivers sheet `sheet` (position in the sheet list).
  void read(int sheet, ImportLineSink& sink) override;
  // Stops at the next element of the sheet.
  void cancel() override;

 private:
  void parserDidInspectDocument(XlsxParser& parser, const std::string& path,
                                const std::vector<XlsxSheet>& sheets) override;
  void parserDidCompleteLine(XlsxParser& parser, const std::vector<std::string>& line, uint64_t number,
                             uint64_t consecutive) override;
  void parserDidCompleteDocument(XlsxParser& parser, const std::string& path) override;

  std::filesystem::path file_;
  std::string locale_;
  ImportLineSink* sink_ = nullptr;
  XlsxParser* parser_ = nullptr;
  int sheet_ = 0;
  bool started_ = false;
  bool cancelled_ = false;
};

// Reads one sheet of an .xls workbook for the import driver.
class XlsSheetReader : public ImportReader {
 public:
  // A reader of `file` writing dates in `localeName`'s patterns.
  XlsSheetReader(std::filesystem::path file, std::string localeName)
      : file_(std::move(file)), locale_(std::move(localeName)) {}
  // The sheet names; throws WorkbookError.
  std::optional<std::vector<std::string>> sheets() override;
  // Delivers sheet `sheet` (position in the sheet list).
  void read(int sheet, ImportLineSink& sink) override;
  // Stops before the next line.
  void cancel() override { cancelled_ = true; }

 private:
  std::filesystem::path file_;
  std::string locale_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace tabulix
