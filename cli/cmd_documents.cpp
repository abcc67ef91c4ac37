// `tabulix import`, `new`, `example` and `documents`: making workspaces.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "engine/translate.h"
#include "import/delimiter_sniffer.h"
#include "import/documents.h"
#include "import/file_importer.h"
#include "import/file_kind.h"
#include "import/workbook_error.h"
#include "textio/text_encoding.h"

namespace tabulix::cli {
namespace {

namespace fs = std::filesystem;

// Parses --delimiter: comma, tab, space, semicolon or one character other
// than a quote or a line break, as the import sheet takes them.
char16_t parseDelimiter(const std::string& d) {
  if (d == "comma") return u',';
  if (d == "tab") return u'\t';
  if (d == "space") return u' ';
  if (d == "semicolon") return u';';
  if (auto c = delimiterFromText(d)) return *c;
  throw CLI::ValidationError(
      "--delimiter",
      "must be comma, tab, space, semicolon or one character other than a quote or line break: " + d);
}

// The row count of a "rows read" status, or none for another status.
std::optional<uint64_t> rowsReadIn(const std::string& status) {
  const std::string form = tr("Importing file. %u rows read.");
  const size_t at = form.find("%u");
  if (at == std::string::npos || status.size() <= form.size() - 2) return std::nullopt;
  const std::string_view head(form.data(), at), tail(form.data() + at + 2, form.size() - at - 2);
  if (!status.starts_with(head) || !status.ends_with(tail)) return std::nullopt;
  uint64_t n = 0;
  const char* first = status.data() + head.size();
  const char* last = status.data() + status.size() - tail.size();
  auto [end, ec] = std::from_chars(first, last, n);
  if (ec != std::errc() || end != last) return std::nullopt;
  return n;
}

// Status lines on stderr, or one rewritten progress line on a terminal.
// While the file is read the line says the percent read, once per whole
// percent; a reader that cannot tell gives its row counts instead, every
// 10,000 rows on a log (every 100 on a terminal, where the line is rewritten).
ImportProgressFn progressReporter() {
  const bool tty = isatty(STDERR_FILENO);
  auto shown = std::make_shared<int>(-1);
  return [tty, shown](const std::string& status, std::optional<double> fraction) {
    std::string line = status;
    if (!fraction && !tty) {
      if (auto rows = rowsReadIn(status); rows && *rows % 10000 != 0) return;
    }
    if (fraction) {
      const int percent = static_cast<int>(std::clamp(*fraction, 0.0, 1.0) * 100.0);
      if (percent == *shown) return;
      *shown = percent;
      line = tr("Importing file...") + " " + std::to_string(percent) + "%";
    }
    if (tty) {
      std::cerr << "\r\033[K" << line << std::flush;
      if (status.rfind("Successfully", 0) == 0) std::cerr << "\n";
    } else {
      std::cerr << line << "\n";
    }
  };
}

RegisterCommand importCommand{
    {"import", "Import a delimited text file, a workbook or an SPSS, Stata or SAS file into a new workspace",
     [](CLI::App& app) {
       struct Opts {
         std::string file, out, delimiter, decimal, sheet, dates = "auto";
         int sheetIndex = -1;
         bool noHeader = false;
       };
       auto o = std::make_shared<Opts>();
       app.add_option("FILE", o->file,
                      "Data file (.csv, .txt, …, .xlsx, .xls, .sav, .zsav, .por, .dta, .sas7bdat, .xpt)")
           ->required();
       auto* byName =
           app.add_option("--sheet", o->sheet, "Workbook sheet to import, by name (default: the first)");
       app.add_option("--sheet-index", o->sheetIndex,
                      "Workbook sheet to import, by position in `tabulix sheets` (from 0)")
           ->check(CLI::NonNegativeNumber)
           ->excludes(byName);
       app.add_option("-o,--output", o->out, "Workspace to create (.tbx)")->required();
       app.add_flag("--no-header", o->noHeader, "The first line holds data, not names");
       app.add_option("--delimiter", o->delimiter, "comma, tab, space, semicolon or a character");
       app.add_option("--decimal", o->decimal, "Decimal separator (default: the locale's)")
           ->check(CLI::IsMember({".", ","}));
       app.add_option("--dates", o->dates,
                      "Order of day, month and year in all-numeric dates: auto (the first date with a day "
                      "or month above 12 decides), dmy, mdy or ymd")
           ->check(CLI::IsMember({"auto", "dmy", "mdy", "ymd"}));
       return [o]() {
         ImportOptions opts;
         opts.dataFile = o->file;
         opts.target = o->out;
         opts.hasHeader = !o->noHeader;
         opts.dateOrder = o->dates;
         opts.delimiter = o->delimiter.empty() ? delimiterForIndex(defaultDelimiterIndex(o->file))
                                               : parseDelimiter(o->delimiter);
         opts.decimalSeparator = o->decimal.empty() ? defaultDecimalSeparator() : o->decimal;
         std::string ext = fs::path(o->file).extension().string();
         bool workbook = ext == ".xlsx" || ext == ".xls";
         const FileKind kind = fileKindOf(o->file);
         const bool text = !isWorkbookKind(kind) && kind != FileKind::StatFile;
         if (text && (o->delimiter.empty() || o->decimal.empty())) {
           // As on the import sheet: what is not given is guessed from the
           // file's first lines, the defaults winning a tie.
           DelimitedSniff sniff = sniffDelimitedFile(o->file, opts.delimiter, opts.decimalSeparator);
           if (o->delimiter.empty()) opts.delimiter = sniff.delimiter;
           if (o->decimal.empty()) opts.decimalSeparator = sniff.decimalSeparator;
         }
         if (!workbook && (!o->sheet.empty() || o->sheetIndex >= 0)) {
           std::cerr << "tabulix import: " << o->file
                     << ": --sheet and --sheet-index are for .xlsx and .xls workbooks\n";
           return 2;
         }
         if (workbook) {
           // Sheets are chosen by position; a name is looked up first.
           std::vector<std::string> sheets;
           try {
             sheets = workbookSheets(o->file).value_or(std::vector<std::string>{});
           } catch (const WorkbookError& e) {
             std::cerr << "tabulix import: " << e.what() << "\n";
             return 2;
           }
           opts.sheet = o->sheetIndex >= 0 ? o->sheetIndex : 0;
           if (!o->sheet.empty()) {
             auto it = std::find(sheets.begin(), sheets.end(), o->sheet);
             if (it == sheets.end()) {
               std::cerr << "tabulix import: " << o->file << " has no sheet named \"" << o->sheet
                         << "\"; its sheets are " << nlohmann::json(sheets).dump() << "\n";
               return 2;
             }
             opts.sheet = static_cast<int>(it - sheets.begin());
           }
           if (static_cast<size_t>(opts.sheet) >= sheets.size()) {
             std::cerr << "tabulix import: " << o->file << " has " << sheets.size()
                       << " sheet(s); there is no sheet " << opts.sheet << " (positions count from 0)\n";
             return 2;
           }
         }
         // A command line has no documents folder, so no Inbox: the data
         // file is read where it is.
         ImportOutcome r = importDataFile(opts, fs::path(), progressReporter());
         if (!r.error.empty()) {
           // Refused before anything was touched (2), or not saved (1): no
           // success text, no JSON.
           std::cerr << "tabulix import: " << r.error << "\n";
           return r.refused ? 2 : 1;
         }
         if (workbook && !r.readerError.empty()) std::cerr << "tabulix import: " << r.readerError << "\n";
         nlohmann::json j = {{"workspace", r.workspace.string()},
                             {"code", r.code},
                             {"variables", r.variables},
                             {"observations", r.observations}};
         if (!r.alertTitle.empty()) {
           j["title"] = r.alertTitle;
           j["message"] = r.alertMessage;
         }
         if (workbook) j["sheet"] = opts.sheet;
         if (text) {
           j["delimiter"] = toUtf8(std::u16string_view(&opts.delimiter, 1));
           j["decimal"] = opts.decimalSeparator;
           j["dates"] = r.dateOrder;
         }
         if (!r.unreadNotes.empty()) j["notes"] = r.unreadNotes;
         std::cout << j.dump() << "\n";
         // Data of the file that the workspace lacks is a failure to report,
         // as a reader's failure is; the row limit is the import's own rule.
         if (!r.unreadNotes.empty()) return 1;
         return r.code == kImportReadToEnd || r.code == kImportLimitReached ? 0 : 1;
       };
     }}};

RegisterCommand sheetsCommand{
    {"sheets", "List the sheet names of an .xlsx or .xls workbook as JSON", [](CLI::App& app) {
       auto file = std::make_shared<std::string>();
       app.add_option("FILE", *file, "Workbook (.xlsx, .xls)")->required();
       return [file]() {
         std::error_code ec;
         if (!fs::is_regular_file(*file, ec) || access(file->c_str(), R_OK) != 0) {
           std::cerr << "tabulix sheets: " << *file << ": cannot read the file\n";
           return 2;
         }
         try {
           auto sheets = workbookSheets(*file);
           if (!sheets) {
             std::cerr << "tabulix sheets: " << *file
                       << ": not a workbook (.xlsx or .xls); it has no sheets\n";
             return 2;
           }
           std::cout << nlohmann::json(*sheets).dump() << "\n";
           return 0;
         } catch (const WorkbookError& e) {
           std::cerr << "tabulix sheets: " << e.what() << "\n";
           return 2;
         }
       };
     }}};

RegisterCommand newCommand{{"new", "Create a workspace holding an empty 10 x 3 grid", [](CLI::App& app) {
                              auto out = std::make_shared<std::string>();
                              app.add_option("WORKSPACE", *out, "Workspace to create (.tbx)")->required();
                              return [out]() {
                                if (auto refusal = whyTargetCannotBeWritten(*out)) {
                                  std::cerr << "tabulix new: " << *refusal << "\n";
                                  return 2;
                                }
                                createEmptyWorkspace(*out);
                                std::cout << nlohmann::json{{"workspace", *out}}.dump() << "\n";
                                return 0;
                              };
                            }}};

RegisterCommand exampleCommand{
    {"example", "Copy the example workspace", [](CLI::App& app) {
       auto out = std::make_shared<std::string>();
       app.add_option("WORKSPACE", *out, "Where to put the copy (.tbx)")->required();
       return [out]() {
         if (auto refusal = whyTargetCannotBeWritten(*out)) {
           std::cerr << "tabulix example: " << *refusal << "\n";
           return 2;
         }
         if (!copyExample(*out)) {
           std::cerr << "tabulix example: cannot copy " << exampleWorkspacePath() << " to " << *out << "\n";
           return 1;
         }
         std::cout << nlohmann::json{{"workspace", *out}}.dump() << "\n";
         return 0;
       };
     }}};

RegisterCommand documentsCommand{
    {"documents", "List the workspaces and data files of a folder", [](CLI::App& app) {
       auto dir = std::make_shared<std::string>();
       app.add_option("DIR", *dir, "Documents folder")->required();
       return [dir]() {
         std::error_code ec;
         if (!fs::is_directory(*dir, ec)) {
           std::cerr << "tabulix documents: " << *dir << ": not a folder\n";
           return 2;
         }
         DocumentList l = listDocuments(*dir);
         std::cout << nlohmann::json{{"workspaces", l.workspaces}, {"dataFiles", l.dataFiles}}.dump() << "\n";
         return 0;
       };
     }}};

}  // namespace
}  // namespace tabulix::cli
