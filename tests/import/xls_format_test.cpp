// Workbooks built record by record: the record kinds no writer at hand
// produces (MULRK, RK forms, BIFF5 code-page text), XlsReader's cells, and
// damaged files, which must end in a WorkbookError naming the file.
#include <gtest/gtest.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/number_format.h"
#include "import/xls_import.h"
#include "import/xls_reader.h"
#include "tests/import/xls_test_util.h"

namespace tabulix {
namespace {

using namespace xlstest;
using Line = std::vector<std::string>;

uint32_t rkInt(int32_t v, bool x100 = false) { return static_cast<uint32_t>(v) << 2 | 2 | (x100 ? 1 : 0); }
uint32_t rkDouble(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  return static_cast<uint32_t>(bits >> 32);
}
Bytes rk(uint32_t row, uint32_t col, uint32_t value, uint32_t xf = 0) {
  Bytes d = cell(row, col, xf);
  put32(d, value);
  return record(0x027E, d);
}
Bytes xf(uint16_t numFmt) {
  Bytes d(20, 0);
  d[2] = numFmt & 0xFF;
  d[3] = numFmt >> 8;
  return record(0x00E0, d);
}
Bytes format8(uint16_t index, const std::string& s) {
  Bytes d;
  put16(d, index);
  put16(d, static_cast<uint32_t>(s.size()));
  d.push_back(0);
  putBytes(d, s);
  return record(0x041E, d);
}
Bytes sst(const std::vector<std::string>& strings) {
  Bytes d;
  put32(d, static_cast<uint32_t>(strings.size()));
  put32(d, static_cast<uint32_t>(strings.size()));
  for (const auto& s : strings) {
    put16(d, static_cast<uint32_t>(s.size()));
    d.push_back(0);
    putBytes(d, s);
  }
  return record(0x00FC, d);
}
Bytes labelSst(uint32_t row, uint32_t col, uint32_t index) {
  Bytes d = cell(row, col);
  put32(d, index);
  return record(0x00FD, d);
}
// A FORMULA record whose cached result is the 8 bytes `result`.
Bytes formula(uint32_t row, uint32_t col, const Bytes& result) {
  Bytes d = cell(row, col);
  d.insert(d.end(), result.begin(), result.end());
  put16(d, 0);
  put32(d, 0);
  put16(d, 0);  // an empty expression
  return record(0x0006, d);
}
Bytes special(uint8_t kind, uint8_t value) { return {kind, 0, value, 0, 0, 0, 0xFF, 0xFF}; }
Bytes boolErr(uint32_t row, uint32_t col, uint8_t value, bool error) {
  Bytes d = cell(row, col);
  d.push_back(value);
  d.push_back(error ? 1 : 0);
  return record(0x0205, d);
}

std::vector<Line> readAll(const Bytes& file, int sheet = 0) {
  std::vector<Line> out;
  readXlsSheetFromMemory(
      file, sheet,
      [&](uint64_t n, const Line& fields) {
        EXPECT_EQ(n, out.size() + 1);
        out.push_back(fields);
        return true;
      },
      "crafted.xls");
  return out;
}

// The message of the WorkbookError that reading `file` raises ("" if none).
std::string failure(const Bytes& file) {
  try {
    xlsSheetNamesFromMemory(file, "crafted.xls");
    readAll(file);
  } catch (const WorkbookError& e) {
    return e.what();
  }
  return "";
}

class XlsFormat : public ::testing::Test {
 protected:
  void SetUp() override {
    std::unique_ptr<icu::TimeZone> previous(icu::TimeZone::createDefault());
    icu::UnicodeString id;
    previous->getID(id);
    id.toUTF8String(previousZone_);
    setDeviceTimeZone("UTC");
  }
  void TearDown() override { setDeviceTimeZone(previousZone_); }

 private:
  std::string previousZone_;
};

// Globals with XF 0 general, XF 1 built-in date 14, XF 2 the custom date
// "d-mmm-yy", XF 3 a custom date with a non-ASCII character.
std::vector<Bytes> standardGlobals() {
  return {format8(164, "d-mmm-yy"), format8(165, "d-mmm-yy\xE9"), xf(0), xf(14), xf(164), xf(165),
          sst({"alpha", "beta"})};
}

TEST_F(XlsFormat, NumberKindsFormulaResultsAndCellOrder) {
  Bytes mulrk = cell(1, 0);
  mulrk.resize(4);  // row, first column
  for (uint32_t v : {rkInt(1), rkDouble(2.5), rkInt(-3)}) {
    put16(mulrk, 0);
    put32(mulrk, v);
  }
  put16(mulrk, 2);  // last column
  Bytes shared = record(0x04BC, Bytes(10, 0));
  Bytes stringRecord = record(0x0207, {3, 0, 0, 'x', 'y', 'z'});
  SheetSpec s{"S",
              0,
              {
                  rk(0, 0, rkInt(5)),
                  labelSst(0, 2, 1),
                  record(0x0201, cell(0, 5)),   // BLANK right of the first line: not a cell
                  record(0x00BD, mulrk),        // MULRK: row 2, A to C
                  rk(2, 0, rkInt(1234, true)),  // 12.34
                  rk(2, 1, rkDouble(1.5) | 1),  // 1.5 / 100
                  number(2, 2, 45000.25, 1),    // a date with a time
                  formula(3, 0, special(0, 0)),
                  shared,
                  stringRecord,                     // text result after SHRFMLA
                  formula(3, 1, special(1, 1)),     // TRUE
                  formula(3, 2, special(2, 0x2A)),  // #N/A
                  boolErr(4, 0, 0, false),
                  boolErr(4, 1, 0x07, true),
                  formula(4, 2, special(3, 0)),  // the empty text
                  number(0, 1, 9),               // out of order: B1
                  rk(0, 0, rkInt(6)),            // A1 again: the later record counts
                  number(5, 0, 45000, 2),        // custom date format
                  number(5, 1, 45000, 3),        // a date format with a non-ASCII character
                  number(5, 2, 45000, 77),       // XF beyond the list: not a date
                  number(65535, 0, 1),           // the last row of a sheet
              }};
  const Bytes file = compoundFile(workbookStream(standardGlobals(), {s}));
  EXPECT_EQ(readAll(file), (std::vector<Line>{{"6", "9", "beta"},
                                              {"1", "2.5", "-3"},
                                              {"12.34", "0.015", "2023-03-15 06:00:00"},
                                              {"xyz", "TRUE", "#N/A"},
                                              {"FALSE", "#DIV/0!", ""},
                                              {"2023-03-15", "2023-03-15", "45000"},
                                              {"1", "", ""}}));

  // The same cells through XlsReader.
  auto reader = XlsReader::xlsReaderFromMemory(file);
  EXPECT_FALSE(reader->nextCell().has_value());  // no iteration yet
  reader->startIterator(0);
  std::vector<std::string> seen;
  for (auto c = reader->nextCell(); c && c->type != cellBlank; c = reader->nextCell()) {
    seen.push_back(std::to_string(c->row) + "," + std::to_string(c->col) + ":" +
                   std::string(xlsCellTypeName(c->type)) + (c->str ? "=" + std::string(*c->str) : ""));
  }
  EXPECT_EQ(seen.size(), 19u);
  EXPECT_EQ(seen[2], "1,3:cellString=beta");
  EXPECT_EQ(seen[12], "5,1:cellUnknown=FALSE");
  EXPECT_EQ(seen[11], "4,3:cellError=#N/A");
  EXPECT_EQ(seen[10], "4,2:cellBool=TRUE");
  EXPECT_EQ(seen.back(), "65536,1:cellFloat");
  auto end = reader->nextCell();
  ASSERT_TRUE(end.has_value());
  EXPECT_EQ(end->type, cellBlank);
  EXPECT_EQ(end->row, 0u);
  EXPECT_EQ(reader->nextCell()->type, cellBlank);  // and again
  EXPECT_EQ(xlsCellTypeName(7), "cellUnknown");
  reader->startIterator(1);
  EXPECT_FALSE(reader->nextCell().has_value());
}

TEST_F(XlsFormat, Biff5WorkbookWithCodePageText) {
  // Excel 95: a "Book" stream, byte strings in code page 1251.
  Bytes format5;
  put16(format5, 164);
  format5.push_back(6);
  putBytes(format5, "m/d/yy");
  Bytes codePage;
  put16(codePage, 1251);
  const std::string sheetName = "\xCB\xE8\xF1\xF2";      // Лист
  const std::string hello = "\xEF\xF0\xE8\xE2\xE5\xF2";  // привет
  Bytes string5 = {2, 0, 'o', 'k'};
  SheetSpec s{
      sheetName,
      0,
      {label5(0, 0, hello), number(0, 1, 2, 1), formula(1, 0, special(0, 0)), record(0x0207, string5)}};
  const Bytes file = compoundFile(
      workbookStream({record(0x0042, codePage), record(0x041E, format5), xf(0), xf(164)}, {s}, false),
      "Book");
  EXPECT_EQ(xlsSheetNamesFromMemory(file), (std::vector<std::string>{"Лист"}));
  EXPECT_EQ(readAll(file), (std::vector<Line>{{"привет", "1900-01-02"}, {"ok", ""}}));
}

TEST_F(XlsFormat, DamagedFilesEndInAClearError) {
  SheetSpec ok{"Data", 0, {number(0, 0, 1), labelSst(1, 1, 0)}};
  const Bytes stream = workbookStream(standardGlobals(), {ok});
  // B2 lies right of the first line's last cell: every line reaches it.
  EXPECT_EQ(readAll(compoundFile(stream)), (std::vector<Line>{{"1", ""}, {"", "alpha"}}));

  auto expectError = [](const Bytes& file, const std::string& part) {
    const std::string message = failure(file);
    EXPECT_NE(message.find("crafted.xls"), std::string::npos) << message;
    EXPECT_NE(message.find(part), std::string::npos) << message;
  };
  expectError({}, "empty");
  expectError({'P', 'K', 3, 4, 0, 0, 0, 0}, "zip");
  expectError({0x09, 0x04, 0x06, 0x00, 0, 0, 0x10, 0}, "Excel 2.x-4.0");
  expectError(Bytes(600, 'a'), "not an OLE2");
  expectError(compoundFile(stream, "Other"), "without a workbook stream");

  // A shared-string index beyond the table names the cell and the sheet.
  expectError(compoundFile(workbookStream(standardGlobals(), {{"Data", 0, {labelSst(2, 1, 2)}}})),
              "cell B3 of sheet \"Data\" refers to shared string 2");
  // A cell right of column IV, alone or at the end of a MULRK.
  expectError(compoundFile(workbookStream(standardGlobals(), {{"Data", 0, {number(4, 256, 1)}}})),
              "row 5, column 257, right of column IV");
  Bytes wideMulrk = cell(0, 255);
  wideMulrk.resize(4);
  for (int i = 0; i < 2; ++i) put16(wideMulrk, 0), put32(wideMulrk, rkInt(i));
  put16(wideMulrk, 256);
  expectError(compoundFile(workbookStream(standardGlobals(), {{"Data", 0, {record(0x00BD, wideMulrk)}}})),
              "column 257");
  // Encrypted, an older BIFF version, a sheet offset beyond the stream.
  expectError(compoundFile(workbookStream({record(0x002F, Bytes(6, 0))}, {ok})), "password");
  Bytes old = stream;
  old[4] = 0x00, old[5] = 0x04;
  expectError(compoundFile(old), "BIFF version 0x0400");
  Bytes farSheet = stream;
  for (size_t i = 0; i + 4 <= farSheet.size(); ++i) {
    if (farSheet[i] == 0x85 && farSheet[i + 1] == 0x00) {  // BOUNDSHEET: move its offset far away
      farSheet[i + 4 + 3] = 0x7F;
      break;
    }
  }
  expectError(compoundFile(farSheet), "does not start where the workbook says");
  // The stream cut inside the sheet, and a record longer than what is left.
  expectError(compoundFile(Bytes(stream.begin(), stream.end() - 4)), "truncated");
  expectError(compoundFile(Bytes(stream.begin(), stream.end() - 6)), "truncated");
  // Cut short, a file either fails with the error or (cut within padding) reads whole.
  const Bytes whole = compoundFile(stream);
  for (size_t n = 0; n < whole.size(); n += 61) {
    const std::string message = failure(Bytes(whole.begin(), whole.begin() + n));
    if (!message.empty()) {
      EXPECT_NE(message.find("crafted.xls"), std::string::npos);
    }
  }
  // A directory chain that loops (its FAT entry points back at itself).
  Bytes loop = whole;
  const size_t fatEntryOfDirectory = 512 + 4 * 1;
  loop[fatEntryOfDirectory] = 1, loop[fatEntryOfDirectory + 1] = 0, loop[fatEntryOfDirectory + 2] = 0,
  loop[fatEntryOfDirectory + 3] = 0;
  expectError(loop, "directory sector chain loops");
  // A file that is not there.
  try {
    xlsSheetNames("/nonexistent/missing.xls");
    ADD_FAILURE();
  } catch (const WorkbookError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.xls"), std::string::npos);
  }
}

TEST_F(XlsFormat, EveryCorruptedByteIsEitherReadOrReported) {
  // A small file with every record kind; each byte replaced by three values.
  Bytes mulrk = cell(1, 0);
  mulrk.resize(4);
  put16(mulrk, 0);
  put32(mulrk, rkInt(7));
  put16(mulrk, 0);
  SheetSpec s{"S",
              1,
              {rk(0, 0, rkInt(5)), labelSst(0, 1, 0), record(0x00BD, mulrk), label8(1, 1, "hi"),
               formula(2, 0, special(0, 0)), record(0x0207, {1, 0, 0, 'q'}), boolErr(2, 1, 1, false)}};
  const Bytes file = compoundFile(workbookStream(standardGlobals(), {s, s}));
  ASSERT_EQ(readAll(file, 1).size(), 3u);
  int reported = 0;
  for (size_t i = 0; i < file.size(); ++i) {
    for (uint8_t v : {uint8_t{0x00}, uint8_t{0xFF}, static_cast<uint8_t>(file[i] + 1)}) {
      Bytes bad = file;
      bad[i] = v;
      if (!failure(bad).empty()) ++reported;
    }
  }
  EXPECT_GT(reported, 0);
}

TEST_F(XlsFormat, LargeWorkbookWithDifatSectors) {
  // Over 7 MB of stream needs more than the header's 109 FAT sectors, so the
  // rest are listed in DIFAT sectors. The bulk is drawing records the reader
  // passes over; the cells come after them.
  std::vector<Bytes> globals{xf(0)};
  for (int i = 0; i < 900; ++i) globals.push_back(record(0x00EC, Bytes(8200, static_cast<uint8_t>(i))));
  SheetSpec s{"Big", 0, {number(0, 0, 1), number(0, 1, 2), number(65535, 1, 3)}};
  const Bytes file = compoundFile(workbookStream(globals, {s}));
  ASSERT_GT(file.size(), 109u * 128 * 512);
  EXPECT_EQ(readAll(file), (std::vector<Line>{{"1", "2"}, {"", "3"}}));
}

TEST(XlsNumberText, ShortestPlainDecimals) {
  EXPECT_EQ(xlsNumberText(3.5), "3.5");
  EXPECT_EQ(xlsNumberText(0.1), "0.1");
  EXPECT_EQ(xlsNumberText(-0.0), "0");
  EXPECT_EQ(xlsNumberText(45000), "45000");
  EXPECT_EQ(xlsNumberText(1.0 / 3), "0.3333333333333333");
  EXPECT_EQ(xlsNumberText(123456789012345680000.0), "123456789012345680000");
  EXPECT_EQ(xlsNumberText(1e-7), "0.0000001");
  EXPECT_EQ(xlsNumberText(2.5e-8), "2.5e-08");
}

TEST(XlsFormatKind, TheWorkbooksCodeWinsOverTheBuiltInMeaning) {
  const std::map<uint16_t, std::string> codes = {{14, "0.00"}, {164, "YYYY-MM-DD"}, {165, "[h]:mm"}};
  EXPECT_EQ(xlsFormatKind(codes, 14), WorkbookFormatKind::Number);
  EXPECT_EQ(xlsFormatKind(codes, 164), WorkbookFormatKind::Date);
  EXPECT_EQ(xlsFormatKind(codes, 165), WorkbookFormatKind::Number);
  EXPECT_EQ(xlsFormatKind(codes, 22), WorkbookFormatKind::DateTime);
  EXPECT_EQ(xlsFormatKind(codes, 20), WorkbookFormatKind::Time);
  EXPECT_EQ(xlsFormatKind(codes, 166), WorkbookFormatKind::Number);
}

}  // namespace
}  // namespace tabulix
