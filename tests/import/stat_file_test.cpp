// SPSS, Stata and SAS files through the import driver. The files under
// tests/data/stat come from independent writers (R's haven and PSPP; see
// make_stat_files.R and make_stat_files.sps there), and the expectations
// below are what those writers were given.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "engine/cell_access.h"
#include "engine/number_format.h"
#include "engine/workspace_data.h"
#include "import/documents.h"
#include "import/file_importer.h"
#include "import/stat_file_reader.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

using Lines = std::vector<std::vector<std::string>>;

fs::path data(const std::string& name) { return fs::path(TABULIX_SOURCE_DIR) / "tests/data/stat" / name; }

struct TempDir {
  fs::path path;
  TempDir() {
    char tmpl[] = "/tmp/tabulix-stat-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path); }
};

std::string bytesOf(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Collects what a reader delivers.
struct Collect : ImportLineSink {
  Lines lines;
  ImportFileDescription description;
  std::optional<CsvError> end;
  bool started = false;
  void readerDidStart() override { started = true; }
  void readerDidDescribeFile(const ImportFileDescription& d) override { description = d; }
  bool readerDidReadLine(uint64_t n, std::span<const std::string> f) override {
    EXPECT_EQ(n, lines.size() + 1);
    lines.emplace_back(f.begin(), f.end());
    return true;
  }
  void readerDidFinish(const CsvError& e) override { end = e; }
};

Collect readFile(const fs::path& file) {
  Collect c;
  StatFileReader(file, *statFormatForExtension(file.extension().string())).read(0, c);
  return c;
}

std::vector<std::string> columnTexts(Model& m, uint32_t k) {
  std::vector<std::string> out;
  Column* c = columnNumber(m, k);
  if (!c) return out;
  for (auto& cell : cellsForColumn(m, *c, {{CellKey::RowNum, true}})) out.push_back(cell.data.value_or("?"));
  return out;
}

// What haven was given (make_stat_files.R); missing cells empty.
const Lines kHaven = {
    {"sex", "score", "code", "name", "born", "seen"},
    {"male", "1.5", "10", "Zoë", "1990-05-17", "2021-03-14 02:30:15"},
    {"female", "", "20", "Bob", "2000-02-29", "1970-01-01 00:00:00"},
    {"male", "3", "30", "", "", "2024-12-31 23:59:59"},
    {"", "4.25", "40", "Ångström", "1969-12-31", ""},
    {"female", "-2", "1e-07", "x", "1582-10-15", "1960-01-01 12:00:01"},
};

TEST(StatFile, HavenFilesGiveLabelsMissingCellsAndDates) {
  setDeviceTimeZone("UTC");
  for (const char* name : {"haven.sav", "haven.zsav", "haven.dta"}) {
    SCOPED_TRACE(name);
    Collect c = readFile(data(name));
    ASSERT_TRUE(c.end && c.started);
    EXPECT_EQ(c.end->code, kImportReadToEnd) << c.end->description;
    // SPSS's user-missing 99 keeps its labelled text and is declared a
    // missing-value code; Stata's tagged .a stays an empty cell.
    const bool spss = std::string(name) != "haven.dta";
    Lines expected = kHaven;
    if (spss) expected[2][1] = "Refused";
    EXPECT_EQ(c.lines, expected);
    ASSERT_EQ(c.description.variableMissingCodes.size(), 6u);
    EXPECT_EQ(c.description.variableMissingCodes[1],
              spss ? std::vector<std::string>{"Refused"} : std::vector<std::string>{});
    EXPECT_TRUE(c.description.variableMissingCodes[0].empty());
    ASSERT_EQ(c.description.variableLabels.size(), 6u);
    EXPECT_EQ(c.description.variableLabels[0], "Sex of respondent");
    if (std::string(name) != "haven.dta") {
      EXPECT_EQ(c.description.variableLabels[1], "Test score (Prüfung)");
    } else {
      EXPECT_EQ(c.description.fileLabel, "Umfrage über zwei Jahre");
    }
  }
  // The transport file has no value labels: the codes stay numbers.
  Lines xpt = kHaven;
  for (size_t r = 1; r < xpt.size(); ++r) {
    xpt[r][0] = xpt[r][0] == "male" ? "1" : xpt[r][0] == "female" ? "2" : "";
    if (xpt[r][3] == "Zoë") xpt[r][3] = "Zoe";
    if (xpt[r][3] == "Ångström") xpt[r][3] = "Angstrom";
  }
  for (const char* name : {"haven.xpt", "haven.sas7bdat"}) {
    SCOPED_TRACE(name);
    Collect c = readFile(data(name));
    ASSERT_TRUE(c.end);
    EXPECT_EQ(c.end->code, kImportReadToEnd) << c.end->description;
    EXPECT_EQ(c.lines, xpt);
  }
}

TEST(StatFile, PsppFilesThroughTheImportGiveTypedVariables) {
  setDeviceTimeZone("UTC");
  TempDir d;
  for (const char* name : {"pspp.sav", "pspp.por"}) {
    SCOPED_TRACE(name);
    ImportOptions opts;
    opts.dataFile = data(name);
    opts.target = d.path / "w.tbx";
    std::vector<std::string> statuses;
    ImportOutcome out =
        importDataFile(opts, d.path, [&](const std::string& s, auto) { statuses.push_back(s); });
    ASSERT_EQ(out.code, kImportReadToEnd) << out.error;
    EXPECT_EQ(out.variables, 6u);
    EXPECT_EQ(out.observations, 4u);
    EXPECT_EQ(statuses.front(), "Importing file...");
    Model m;
    m.openStore(opts.target);
    // The portable format keeps names in capitals.
    bool por = std::string(name) == "pspp.por";
    EXPECT_EQ(columnNumber(m, 1)->name.value_or(""), por ? "GRP" : "grp");
    // 9 ("Not asked") is a user-defined missing value: missing wins over its label.
    EXPECT_EQ(columnTexts(m, 1), (std::vector<std::string>{"Control", "Treatment", "", ""}));
    EXPECT_EQ(columnTexts(m, 2), (std::vector<std::string>{"70.5", "", "65.25", "80"}));
    const std::vector<std::string> cities = por ? std::vector<std::string>{"Koeln", "Zuerich", "", "Oslo"}
                                                : std::vector<std::string>{"Köln", "Zürich", "", "Oslo"};
    EXPECT_EQ(columnTexts(m, 3), cities);
    EXPECT_EQ(columnTexts(m, 4), (std::vector<std::string>{"2021-03-15", "1999-12-31", "2024-02-29", ""}));
    EXPECT_EQ(columnTexts(m, 5), (std::vector<std::string>{"2021-03-15 14:30:15", "2000-01-01 00:00:00",
                                                           "2024-02-29 23:59:59", ""}));
    std::vector<int> types;
    for (uint32_t k = 0; k < 6; ++k) types.push_back(columnNumber(m, k)->type.value_or(0));
    EXPECT_EQ(types, (std::vector<int>{3, 2, 3, 1, 4, 4}));
    // The dates read back to the instants written.
    Column* ts = columnNumber(m, 5);
    EXPECT_EQ(ts->minDate.value_or(0), 946684800.0);                  // 2000-01-01 00:00:00 UTC
    EXPECT_EQ(ts->maxDate.value_or(0), 1709251199.0);                 // 2024-02-29 23:59:59 UTC
    EXPECT_EQ(columnNumber(m, 4)->minDate.value_or(0), 946598400.0);  // 1999-12-31
    EXPECT_EQ(columnNumber(m, 2)->obsNumeric.value_or(0), 3);
    // The labels are kept: the variables' on their columns, the file's as metadata.
    EXPECT_EQ(columnNumber(m, 1)->label, OptText(por ? "Group (AOU)" : "Group (ÄÖÜ)"));
    EXPECT_EQ(columnNumber(m, 2)->label, OptText("Weight in kg"));
    EXPECT_FALSE(columnNumber(m, 0)->label.has_value());
    // (The portable format keeps no file label.)
    EXPECT_EQ(m.metadataValueForKey("fileLabel"), por ? std::nullopt : OptText("PSPP test file über"));
    m.closeStores();
    fs::remove(opts.target);
  }
}

// Texts in the file's own encoding arrive as UTF-8: Windows-1252, and
// ISO-8859-1 under the IBM number PSPP writes for it, which ReadStat alone
// does not know (both files written by PSPP). An encoding nothing converts
// is an error that says so (DamagedFilesGiveAnErrorNamingTheFile).
TEST(StatFile, EncodingsFromTheFile) {
  for (const char* name : {"pspp-1252.sav", "pspp-latin1.sav"}) {
    SCOPED_TRACE(name);
    Collect c = readFile(data(name));
    ASSERT_TRUE(c.end);
    EXPECT_EQ(c.end->code, kImportReadToEnd) << c.end->description;
    EXPECT_EQ(c.lines, (Lines{{"city", "n"}, {"Köln", "eins ä"}, {"Zürich", "zwei ß"}}));
    EXPECT_EQ(c.description.variableLabels, (std::vector<std::string>{"Stadt (Größe)", ""}));
  }
}

TEST(StatFile, LimitsEndWithTheirCode) {
  TempDir d;
  ImportOptions opts;
  opts.dataFile = data("long.zsav");
  opts.target = d.path / "long.tbx";
  // The progress is the share of the rows the file declares, rising.
  std::vector<double> fractions;
  ImportOutcome out = importDataFile(opts, d.path, [&](const std::string&, std::optional<double> f) {
    if (f) fractions.push_back(*f);
  });
  EXPECT_EQ(out.code, kImportLimitReached);
  EXPECT_EQ(out.observations, 100000u);
  EXPECT_EQ(out.alertTitle, "Row Limit Reached");
  ASSERT_GT(fractions.size(), 10u);
  EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
  EXPECT_LT(fractions.front(), 0.1);
  EXPECT_GT(fractions.back(), 0.5);
  EXPECT_LE(fractions.back(), 1.0);
  opts.dataFile = data("wide.sav");
  opts.target = d.path / "wide.tbx";
  out = importDataFile(opts, d.path, nullptr);
  EXPECT_EQ(out.code, kImportReadToEnd);  // variables left out are a note, not the row limit
  ASSERT_EQ(out.unreadNotes.size(), 1u);
  EXPECT_EQ(out.unreadNotes[0].rfind("The first line has ", 0), 0u);
  EXPECT_EQ(out.variables, 500u);
  EXPECT_EQ(out.observations, 2u);
}

TEST(StatFile, DamagedFilesGiveAnErrorNamingTheFile) {
  TempDir d;
  std::string sav = bytesOf(data("pspp.sav"));
  auto write = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(d.path / name, std::ios::binary) << bytes;
    return d.path / name;
  };
  std::string corrupted = sav;
  for (size_t i = 180; i < 260 && i < corrupted.size(); ++i) corrupted[i] = '\xff';
  // The character code of the machine-integer record (type 7, subtype 3):
  // one ReadStat has no conversion for, and ASCII, which "Köln" is not.
  const std::string record("\x07\0\0\0\x03\0\0\0\x04\0\0\0\x08\0\0\0", 16);
  size_t at = sav.find(record);
  ASSERT_NE(at, std::string::npos);
  auto withCodePage = [&](uint32_t code) {
    std::string bytes = sav;
    for (int i = 0; i < 4; ++i) bytes[at + 16 + 28 + i] = static_cast<char>(code >> (8 * i));
    return bytes;
  };
  std::string dta = bytesOf(data("haven.dta"));
  const std::pair<fs::path, std::string> cases[] = {
      {write("truncated.sav", sav.substr(0, sav.size() - 40)), ""},
      {write("corrupted.sav", corrupted), ""},
      {write("unknown-encoding.sav", withCodePage(12345)), "unsupported character set"},
      {write("ascii.sav", withCodePage(20127)), "Unable to convert string"},
      {write("truncated.dta", dta.substr(0, dta.size() - 700)), ""},
      {write("empty.xpt", ""), ""},
      // Found by stat_fuzz: ReadStat reads past a 33-byte name that fills
      // its field without a terminator; the child takes that risk.
      {data("overread.dta"), ""},
      {write("text.por", "not a portable file\n"), ""},
  };
  for (const auto& [file, why] : cases) {
    SCOPED_TRACE(file.filename().string());
    Collect c = readFile(file);
    ASSERT_TRUE(c.end);
    EXPECT_EQ(c.end->code, kWorkbookUnreadable);
    EXPECT_NE(c.end->description.find("The file " + file.filename().string() + " could not be read as "),
              std::string::npos)
        << c.end->description;
    EXPECT_NE(c.end->description.find(why), std::string::npos) << c.end->description;
    EXPECT_EQ(checkStatFile(file, 100000), c.end->description);
  }
  EXPECT_EQ(checkStatFile(data("haven.sav"), 100000), std::nullopt);
  // Through the import: refused, with the reason, and no workspace made or
  // replaced.
  fs::path kept = d.path / "kept.tbx";
  {
    ImportOptions opts;
    opts.dataFile = data("pspp.sav");
    opts.target = kept;
    ASSERT_EQ(importDataFile(opts, fs::path(), nullptr).code, kImportReadToEnd);
  }
  std::string before = bytesOf(kept);
  for (const char* name : {"truncated.sav", "corrupted.sav"}) {
    SCOPED_TRACE(name);
    for (const fs::path& target : {d.path / "new.tbx", kept}) {
      ImportOptions opts;
      opts.dataFile = d.path / name;
      opts.target = target;
      ImportOutcome out = importDataFile(opts, fs::path(), nullptr);
      EXPECT_TRUE(out.refused);
      EXPECT_EQ(out.code, kWorkbookUnreadable);
      EXPECT_EQ(out.alertTitle, "Error While Importing");
      EXPECT_NE(out.error.find(std::string(name) + " could not be read as an SPSS data file"),
                std::string::npos)
          << out.error;
    }
    EXPECT_FALSE(fs::exists(d.path / "new.tbx"));
    EXPECT_EQ(bytesOf(kept), before);
  }
  // The inspection reads the header and the first row only: a file cut in
  // its data passes it, one with a damaged header does not.
  EXPECT_EQ(StatFileReader(d.path / "truncated.sav", StatFormat::Sav).sheets(), std::nullopt);
  EXPECT_THROW(StatFileReader(d.path / "corrupted.sav", StatFormat::Sav).sheets(), WorkbookError);
}

// A child that crashes, or says nothing, ends the read with an error and
// leaves this process running.
TEST(StatFile, AChildThatCrashesOrHangsIsAnError) {
  TempDir d;
  auto script = [&](const std::string& name, const std::string& body) {
    fs::path p = d.path / name;
    std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(p, fs::perms::owner_all);
    return p;
  };
  fs::path crash = script("crash.sh", "printf 'F\\020\\000\\000\\000'; kill -SEGV $$");
  fs::path silent = script("silent.sh", "exec sleep 30");
  ::setenv("TABULIX_STAT_READER", crash.c_str(), 1);
  Collect c = readFile(data("haven.sav"));
  ASSERT_TRUE(c.end);
  EXPECT_EQ(c.end->code, kWorkbookUnreadable);
  EXPECT_NE(c.end->description.find("its reader stopped on a damaged part of the file"), std::string::npos)
      << c.end->description;
  ::setenv("TABULIX_STAT_READER", silent.c_str(), 1);
  ::setenv("TABULIX_STAT_READER_SILENCE", "2", 1);
  c = readFile(data("haven.sav"));
  ASSERT_TRUE(c.end);
  EXPECT_NE(c.end->description.find("gave no answer for 2 seconds"), std::string::npos) << c.end->description;
  ::unsetenv("TABULIX_STAT_READER_SILENCE");
  ::setenv("TABULIX_STAT_READER", (d.path / "missing").c_str(), 1);
  c = readFile(data("haven.sav"));
  ASSERT_TRUE(c.end);
  EXPECT_NE(c.end->description.find("could not be started"), std::string::npos) << c.end->description;
  ::unsetenv("TABULIX_STAT_READER");
  // A sink that throws (a store failure) leaves no child behind.
  struct Throwing : Collect {
    bool readerDidReadLine(uint64_t n, std::span<const std::string> f) override {
      if (n == 3) throw std::runtime_error("disk full");
      return Collect::readerDidReadLine(n, f);
    }
  } throwing;
  EXPECT_THROW(StatFileReader(data("long.zsav"), StatFormat::Sav).read(0, throwing), std::runtime_error);
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  // A child held to a tiny address space fails to allocate and says so.
  ::setenv("TABULIX_STAT_READER_MEMORY_MB", "0", 1);
  c = readFile(data("long.zsav"));
  ::unsetenv("TABULIX_STAT_READER_MEMORY_MB");
  ASSERT_TRUE(c.end);
  EXPECT_EQ(c.end->code, kWorkbookUnreadable) << c.end->description;
}

TEST(StatFile, FormatsAndTexts) {
  // Each format family's epoch and unit.
  auto text = [](StatFormat f, const char* format, double v) {
    StatTimeFormat t = statTimeFormat(f, format);
    return statDateText(v * t.secondsPerUnit + t.epoch, t.kind).value_or("none");
  };
  EXPECT_EQ(text(StatFormat::Sav, "ADATE10", 13835145600), "2021-03-15");
  EXPECT_EQ(text(StatFormat::Sav, "DATETIME23.2", 13835197815.25), "2021-03-15 14:30:15.25");
  EXPECT_EQ(statTimeFormat(StatFormat::Sav, "TIME8").kind, StatTimeKind::None);
  EXPECT_EQ(statTimeFormat(StatFormat::Sav, "F8.2").kind, StatTimeKind::None);
  EXPECT_EQ(text(StatFormat::Dta, "%tdCCYY-NN-DD", -1), "1959-12-31");
  EXPECT_EQ(text(StatFormat::Dta, "%tc", 1931308215000), "2021-03-14 02:30:15");
  EXPECT_EQ(text(StatFormat::Xport, "MMDDYY10.", 22000), "2020-03-26");
  EXPECT_EQ(text(StatFormat::Sas7bdat, "E8601DT19.", 1931308215), "2021-03-14 02:30:15");
  EXPECT_EQ(statTimeFormat(StatFormat::Xport, "BEST12.").kind, StatTimeKind::None);
  EXPECT_EQ(statDateText(-1e12, StatTimeKind::Date), std::nullopt);  // before year 1000
  EXPECT_EQ(statNumberText(1e-7), "1e-07");
  EXPECT_EQ(statNumberText(0.000125), "0.000125");
  EXPECT_EQ(statNumberText(123456789012.5), "123456789012.5");
  EXPECT_EQ(statNumberText(2e20), "2e+20");
  EXPECT_EQ(statNumberText(-0.0), "0");
  EXPECT_EQ(statNumberText(0.1 + 0.2), "0.30000000000000004");
}

}  // namespace
