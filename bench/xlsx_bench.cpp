// .xlsx imports: reading a workbook alone, and the whole import (reading,
// storing, every variable's statistics and type).
//   xlsx_bench --generate FILE ROWS COLS   writes a workbook and exits
//   xlsx_bench [benchmark flags]           reads XLSX_BENCH_FILE (or a
//                                          generated 100,000 x 20 workbook)
#include <benchmark/benchmark.h>
#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "import/documents.h"
#include "import/file_importer.h"
#include "import/xlsx_parser.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

void addPart(zipFile z, const char* name, const std::string& data) {
  zipOpenNewFileInZip64(z, name, nullptr, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6, 1);
  zipWriteInFileInZip(z, data.data(), static_cast<unsigned>(data.size()));
  zipCloseFileInZip(z);
}

// A workbook laid out as Excel writes one: texts in the shared-string table,
// dates as serials under built-in format 14, a dimension. Columns cycle
// through numbers, categories, yes/no and dates; about 2% of the cells are
// missing.
void generate(const fs::path& file, int rows, int cols) {
  std::mt19937_64 rng(20261206);
  std::uniform_real_distribution<double> u(0, 1);
  const auto& names = XlsxParser::orderCols();
  std::string shared = "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
  const char* texts[] = {"north", "south", "east", "west", "centre", "islands", "yes", "no"};
  for (int c = 0; c < cols; ++c) shared += "<si><t>v" + std::to_string(c) + "</t></si>";
  for (const char* t : texts) shared += std::string("<si><t>") + t + "</t></si>";
  shared += "</sst>";
  std::string sheet =
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><dimension ref=\"A1:" +
      names[cols - 1] + std::to_string(rows + 1) + "\"/><sheetData><row r=\"1\">";
  for (int c = 0; c < cols; ++c)
    sheet += "<c r=\"" + names[c] + "1\" t=\"s\"><v>" + std::to_string(c) + "</v></c>";
  sheet += "</row>";
  char buf[64];
  for (int r = 2; r <= rows + 1; ++r) {
    std::string rs = std::to_string(r);
    sheet += "<row r=\"" + rs + "\">";
    for (int c = 0; c < cols; ++c) {
      if (u(rng) < 0.02) continue;
      std::string ref = names[c] + rs;
      switch (c % 5) {
        case 0:
        case 1:
          std::snprintf(buf, sizeof buf, "%.3f", 50 + 15 * (u(rng) + u(rng) + u(rng) - 1.5));
          sheet += "<c r=\"" + ref + "\"><v>" + buf + "</v></c>";
          break;
        case 2:
          sheet += "<c r=\"" + ref + "\" t=\"s\"><v>" + std::to_string(cols + static_cast<int>(u(rng) * 6)) +
                   "</v></c>";
          break;
        case 3:
          sheet +=
              "<c r=\"" + ref + "\" t=\"s\"><v>" + std::to_string(cols + (u(rng) < 0.4 ? 6 : 7)) + "</v></c>";
          break;
        default:
          sheet += "<c r=\"" + ref + "\" s=\"1\"><v>" +
                   std::to_string(36526 + static_cast<int>(u(rng) * 8766)) + "</v></c>";
      }
    }
    sheet += "</row>";
  }
  sheet += "</sheetData></worksheet>";
  zipFile z = zipOpen64(file.c_str(), APPEND_STATUS_CREATE);
  addPart(
      z, "[Content_Types].xml",
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/xl/workbook.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
      "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
      "<Override PartName=\"/xl/styles.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
      "<Override PartName=\"/xl/sharedStrings.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>"
      "</Types>");
  addPart(z, "_rels/.rels",
          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId1\" "
          "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
          "Target=\"xl/workbook.xml\"/></Relationships>");
  addPart(z, "xl/workbook.xml",
          "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
          "<sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
  addPart(z, "xl/_rels/workbook.xml.rels",
          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId1\" "
          "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
          "Target=\"worksheets/sheet1.xml\"/>"
          "<Relationship Id=\"rId2\" "
          "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
          "Target=\"styles.xml\"/>"
          "<Relationship Id=\"rId3\" "
          "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" "
          "Target=\"sharedStrings.xml\"/></Relationships>");
  addPart(
      z, "xl/styles.xml",
      "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
      "<fills count=\"1\"><fill><patternFill patternType=\"none\"/></fill></fills>"
      "<borders count=\"1\"><border/></borders>"
      "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
      "<cellXfs count=\"2\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
      "<xf numFmtId=\"14\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
      "</cellXfs></styleSheet>");
  addPart(z, "xl/sharedStrings.xml", shared);
  addPart(z, "xl/worksheets/sheet1.xml", sheet);
  zipClose(z, nullptr);
}

fs::path benchFile() {
  if (const char* f = std::getenv("XLSX_BENCH_FILE"); f && *f) return f;
  fs::path p = fs::temp_directory_path() / "tabulix-xlsx-100000x20.xlsx";
  if (!fs::exists(p)) generate(p, 100000, 20);
  return p;
}

// Reading alone: every row delivered, nothing stored.
struct CountRows : XlsxParserDelegate {
  uint64_t rows = 0;
  void parserDidInspectDocument(XlsxParser& p, const std::string&, const std::vector<XlsxSheet>&) override {
    p.parseSheetAtIndex(0);
  }
  void parserDidCompleteLine(XlsxParser&, const std::vector<std::string>&, uint64_t, uint64_t) override {
    ++rows;
  }
  void parserDidCompleteDocument(XlsxParser&, const std::string&) override {}
};

void BM_XlsxReadOnly(benchmark::State& state) {
  fs::path data = benchFile();
  uint64_t rows = 0;
  for (auto _ : state) {
    CountRows count;
    XlsxParser parser(data, &count);
    rows = count.rows;
  }
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_XlsxReadOnly)->Unit(benchmark::kMillisecond)->MinTime(2);

void BM_XlsxImportWholeFile(benchmark::State& state) {
  fs::path data = benchFile();
  fs::path target = fs::temp_directory_path() / "tabulix-xlsx-bench.tbx";
  ImportOutcome r;
  for (auto _ : state) {
    ImportOptions o;
    o.dataFile = data;
    o.target = target;
    r = importDataFile(o, target.parent_path(), {});
    if (r.code != kImportReadToEnd && r.code != kImportLimitReached) state.SkipWithError("import failed");
  }
  state.counters["rows"] = r.observations;
  state.counters["variables"] = r.variables;
  fs::remove(target);
}
BENCHMARK(BM_XlsxImportWholeFile)->Unit(benchmark::kMillisecond)->MinTime(3);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--generate") {
    generate(argv[2], std::stoi(argv[3]), std::stoi(argv[4]));
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
