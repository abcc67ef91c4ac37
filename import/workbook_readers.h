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
class XlsxReader : public ImportReader {
 public:
  // A reader of `file`.
  explicit XlsxReader(std::filesystem::path file) : file_(std::move(file)) {}
  // The sheet names; throws WorkbookError.
  std::optional<std::vector<std::string>> sheets() override;
  // Delivers sheet `sheet` (position in the sheet list).
  void read(int sheet, ImportLineSink& sink) override;
  // Stops the delivery; the parser stops at its next element.
  void cancel() override { cancelled_ = true; }
  // How far the sheet is read, as of the last line delivered.
  std::optional<double> fractionRead() const override { return fraction_; }

 private:
  std::filesystem::path file_;
  std::atomic<bool> cancelled_{false};
  std::optional<double> fraction_;  // set on the reading thread, before each line
};

// Reads one sheet of an .xls workbook for the import driver.
class XlsSheetReader : public ImportReader {
 public:
  // A reader of `file`.
  explicit XlsSheetReader(std::filesystem::path file) : file_(std::move(file)) {}
  // The sheet names; throws WorkbookError.
  std::optional<std::vector<std::string>> sheets() override;
  // Delivers sheet `sheet` (position in the sheet list).
  void read(int sheet, ImportLineSink& sink) override;
  // Stops before the next line.
  void cancel() override { cancelled_ = true; }
  // The share of the sheet's cells delivered, as of the last line.
  std::optional<double> fractionRead() const override { return fraction_; }

 private:
  std::filesystem::path file_;
  std::atomic<bool> cancelled_{false};
  std::optional<double> fraction_;  // set on the reading thread, before each line
};

}  // namespace tabulix
