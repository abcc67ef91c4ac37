// The import driver and the documents folder: headers and naming, short and
// long lines, the row and field limits with their completion codes, reader
// failures that keep what was read, the Inbox and the listing order.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>

#include "engine/cell_access.h"
#include "engine/workspace_data.h"
#include "import/documents.h"
#include "import/file_importer.h"
#include "tests/temp_dir.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

// Joins the pieces' text forms (GCC 12 warns falsely on literal + to_string chains).
template <class... T>
std::string join(const T&... parts) {
  std::ostringstream out;
  (out << ... << parts);
  return out.str();
}

using tabulix::testing::TempDir;

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Records the delegate calls in order.
struct Recorder : FileImporterDelegate {
  std::vector<std::string> calls;
  long code = 0;
  void importerDidStartDocument(FileImporter&, const std::string&) override { calls.push_back("start"); }
  void importerDidCompleteLineNumber(FileImporter&, uint32_t n, uint32_t m) override {
    calls.push_back(join("line ", n, "/", m));
  }
  void importerDidCompleteParsing(FileImporter&, const std::string&) override { calls.push_back("parsed"); }
  void importerWillAnalyzeColumnNamed(FileImporter&, const std::string& name) override {
    calls.push_back("analyze " + name);
  }
  void importerDidCompleteDocument(FileImporter&, const std::string&, const CsvError& e) override {
    calls.push_back("done");
    code = e.code;
  }
};

struct Imported {
  Model model;
  Recorder rec;
  std::vector<std::string> notes;
  std::vector<std::string> names() {
    std::vector<std::string> out;
    for (Column* c : columns(model)) out.push_back(*c->name);
    return out;
  }
  std::vector<std::string> row(int32_t n) {
    std::vector<std::string> out;
    for (auto& c : cellsForRow(model, Row{{}, n}, {{CellKey::ColNum, true}}))
      out.push_back(c.data.value_or("?"));
    return out;
  }
};

std::unique_ptr<Imported> importText(TempDir& dir, const std::string& content, bool header,
                                     char16_t delim = u',') {
  auto r = std::make_unique<Imported>();
  fs::path data = dir.write("data.csv", content);
  fs::path target = dir.path / "w.tbx";
  fs::remove(target);
  r->model.openStore(target);
  FileImporter importer(r->model, &r->rec);
  importer.createWorkspaceFromText(data, header, 0, delim, ".");
  r->notes = importer.unreadNotes();
  return r;
}

}  // namespace

TEST(Importer, HeadersNamingAndLineLengths) {
  TempDir dir;
  auto w = importText(dir, "a,,c\n1,2,3\n4\n5,6,7,8\n", true);
  EXPECT_EQ(w->names(), (std::vector<std::string>{"a", "Var2", "c"}));
  EXPECT_EQ(countRows(w->model), 3u);
  EXPECT_EQ(w->row(2), (std::vector<std::string>{"4", "", ""}));
  EXPECT_EQ(w->row(3), (std::vector<std::string>{"5", "6", "7"}));
  EXPECT_EQ(w->rec.code, kImportReadToEnd);
  EXPECT_EQ(w->rec.calls,
            (std::vector<std::string>{"start", "parsed", "analyze a", "analyze Var2", "analyze c", "done"}));
  EXPECT_EQ(w->model.metadataValueForKey("dataSource"), OptText((dir.path / "data.csv").string()));
  EXPECT_EQ(columns(w->model)[0]->type, OptInt(static_cast<int32_t>(VariableType::Numeric)));

  // Without a header the first line is row 1 and names are Var1 …; an empty
  // line in the middle of a file is no record, and a file without a final
  // line break loses nothing.
  auto n = importText(dir, "x,y\n\n1,2", false);
  EXPECT_EQ(n->names(), (std::vector<std::string>{"Var1", "Var2"}));
  EXPECT_EQ(countRows(n->model), 2u);
  EXPECT_EQ(n->row(1), (std::vector<std::string>{"x", "y"}));
  // Duplicate header texts stay duplicates; the types come from the values.
  auto d = importText(dir, "k\tk\nyes\t2021-01-05\nno\t2021-02-05\nyes\t\n", true, u'\t');
  EXPECT_EQ(d->names(), (std::vector<std::string>{"k", "k"}));
  auto cols = columns(d->model);
  EXPECT_EQ(cols[0]->type, OptInt(static_cast<int32_t>(VariableType::Binary)));
  EXPECT_EQ(cols[1]->type, OptInt(static_cast<int32_t>(VariableType::DateTime)));
  EXPECT_EQ(cols[1]->obs, OptInt(2));
}

TEST(Importer, RowAndFieldLimits) {
  TempDir dir;
  std::string wide;
  for (int i = 0; i < 600; ++i) wide += join(i ? "," : "", i);
  auto w = importText(dir, wide + "\n" + wide + "\n", true);
  EXPECT_EQ(countColumns(w->model), 500u);
  EXPECT_EQ(w->rec.code, kImportReadToEnd);
  EXPECT_EQ(
      w->notes,
      std::vector<std::string>{
          "The first line has 600 fields: the first 500 became variables, the other 100 were left out."});

  for (int lines : {100000, 100050}) {
    std::string big = "v\n";
    big.reserve(static_cast<size_t>(lines) * 7);
    for (int i = 1; i <= lines; ++i) big += std::to_string(i) + "\n";
    auto b = importText(dir, big, true);
    EXPECT_EQ(countRows(b->model), 100000u) << lines;
    // Exactly the limit is the whole file: no limit was reached.
    EXPECT_EQ(b->rec.code, lines == 100000 ? kImportReadToEnd : kImportLimitReached) << lines;
    EXPECT_EQ(b->rec.calls[1], "line 100/100");
    EXPECT_EQ(b->rec.calls[1000], "line 100000/100000");
    EXPECT_EQ(columns(b->model)[0]->max, OptReal(100000));
  }
  auto empty = importText(dir, "", true);
  EXPECT_EQ(countColumns(empty->model), 0u);
  EXPECT_EQ(countRows(empty->model), 0u);
  EXPECT_EQ(empty->rec.code, kImportReadToEnd);
}

// A text file its reader refuses on the way (a field longer than the most
// a field holds) leaves no workspace, and the reason names the line.
TEST(Importer, TextReaderFailureLeavesNoWorkspace) {
  TempDir dir;
  ImportOptions opts;
  opts.dataFile = dir.write("bad.csv", "n,t\n1,a\n2,\"" + std::string(CsvParser::kMaxFieldLength + 10, 'x'));
  opts.target = dir.path / "bad.tbx";
  ImportOutcome r = importDataFile(opts, dir.path, nullptr);
  EXPECT_EQ(r.code, kFieldTooLong);
  EXPECT_TRUE(r.refused);
  EXPECT_EQ(r.alertTitle, "Error While Importing");
  EXPECT_EQ(r.alertMessage.rfind("Line 3: a quoted field runs on for more than 16777216 characters", 0), 0u)
      << r.alertMessage;
  EXPECT_FALSE(std::filesystem::exists(opts.target));
}

TEST(Documents, InboxListingDefaultsAndDeletion) {
  TempDir dir;
  dir.write("data.csv", "a\n");
  dir.write("data-1.csv", "a\n");
  fs::path handed = dir.write("Inbox/data.csv", "b\n");
  EXPECT_EQ(moveFromInbox(handed, dir.path), dir.path / "data-2.csv");
  EXPECT_FALSE(fs::exists(handed));
  fs::path notInbox = dir.write("sub/x.csv", "c\n");
  EXPECT_EQ(moveFromInbox(notInbox, dir.path), notInbox);
  // Another folder's Inbox is no hand-over, nor is any Inbox without a documents folder.
  fs::path foreign = dir.write("sub/Inbox/y.csv", "d\n");
  EXPECT_EQ(moveFromInbox(foreign, dir.path), foreign);
  fs::path own = dir.write("Inbox/z.csv", "e\n");
  EXPECT_EQ(moveFromInbox(own, fs::path()), own);
  EXPECT_TRUE(fs::exists(foreign) && fs::exists(own));
  fs::remove(own);
  removeInbox(dir.path);
  EXPECT_FALSE(fs::exists(dir.path / "Inbox"));

  dir.write("b.TXT", "");
  dir.write("a.txt", "");
  dir.write(".hidden.csv", "");
  dir.write("notes.md", "");
  ASSERT_NO_THROW(createEmptyWorkspace(dir.path / "Zeta.tbx"));
  ASSERT_NO_THROW(createEmptyWorkspace(dir.path / "alpha.tbx"));
  DocumentList l = listDocuments(dir.path);
  EXPECT_EQ(l.workspaces, (std::vector<std::string>{"alpha.tbx", "Zeta.tbx"}));
  EXPECT_EQ(l.dataFiles, (std::vector<std::string>{"a.txt", "data-1.csv", "data-2.csv", "data.csv"}));

  EXPECT_EQ(delimiterForIndex(defaultDelimiterIndex("x.csv")), u',');
  EXPECT_EQ(delimiterForIndex(defaultDelimiterIndex("x.txt")), u'\t');
  EXPECT_EQ(delimiterForIndex(7), u'\t');

  Model shared;
  ASSERT_NO_THROW(shared.openStore(dir.path / "alpha.tbx"));
  EXPECT_EQ(countRows(shared), 10u);
  EXPECT_EQ(countColumns(shared), 3u);
  EXPECT_EQ(shared.metadataValueForKey("dataSource"), OptText("__EMPTY__"));
  EXPECT_EQ(deleteDocument(shared, dir.path / "alpha.tbx"), DeleteResult::RefusedOpenWorkspace);
  EXPECT_TRUE(fs::exists(dir.path / "alpha.tbx"));
  EXPECT_EQ(deleteDocument(shared, dir.path / "Zeta.tbx"), DeleteResult::Deleted);
  EXPECT_FALSE(fs::exists(dir.path / "Zeta.tbx"));
}

// The files of a folder, hidden ones too, with their bytes.
std::map<std::string, std::string> folderContents(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.is_regular_file()) out[e.path().filename().string()] = readFile(e.path());
  return out;
}

// An import over an existing workspace that fails on the way (a reader
// failure, binary garbage whose bytes the workspace could not keep, a disk
// that fills up) leaves that workspace byte for byte and no hidden file
// beside it.
TEST(Importer, FailedImportsLeaveTheWorkspaceTheyWouldReplace) {
  TempDir dir;
  ImportOptions opts;
  opts.dataFile = dir.write("in/good.csv", "n,t\n1,a\n2,b\n");
  opts.target = dir.path / "k.tbx";
  ASSERT_TRUE(importDataFile(opts, dir.path, {}).error.empty());
  std::string bad = "n,t\n";
  // A quoted field never closed (line 49): read to the end of its line, with a note.
  for (int i = 1; i <= 60; ++i) bad += i == 48 ? join(i, ",\"v\n") : join(i, ",v", i, "\n");
  std::string garbage;
  std::mt19937 rng(3);
  for (int i = 0; i < 20000; ++i) garbage += static_cast<char>(rng() % 256);
  const auto before = folderContents(dir.path);
  for (const auto& [name, content] :
       {std::pair<std::string, std::string>{"broken.csv", bad}, {"garbage.csv", garbage}}) {
    opts.dataFile = dir.write("in/" + name, content);
    ImportOutcome r = importDataFile(opts, dir.path, {});
    EXPECT_NE(r.error.find("was not replaced"), std::string::npos) << name << ": " << r.error;
    const auto after = folderContents(dir.path);
    EXPECT_TRUE(after == before) << name;
    for (const auto& [file, text] : after)
      if (!before.count(file) || before.at(file) != text) ADD_FAILURE() << name << " changed " << file;
  }

  // A disk that fills up: the hidden file cannot grow past 64 KiB.
  std::string big = "a,b,c\n";
  for (int i = 1; i <= 20000; ++i) big += join(i, ",text ", i % 97, ",", i, ".5\n");
  opts.dataFile = dir.write("in/big.csv", big);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{64 * 1024, 64 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    ImportOutcome r = importDataFile(opts, dir.path, {});
    _exit(!r.saved && r.error.find("could not be saved") != std::string::npos ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(folderContents(dir.path) == before);

  // A file read to its end does replace it.
  opts.dataFile = dir.write("in/new.csv", "x\n7\n8\n9\n");
  ASSERT_TRUE(importDataFile(opts, dir.path, {}).error.empty());
  Model m;
  m.openStore(opts.target, StoreAccess::ReadOnly);
  EXPECT_EQ(countRows(m), 3u);
}

// The hidden files that killed imports leave are removed by the next import
// into the folder, and only those: files of running processes, of this one,
// and files merely named alike stay.
TEST(Importer, ImportsRemoveOnlyStaleHiddenFilesOfEndedImports) {
  TempDir dir;
  pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  const std::string dead = std::to_string(ended), self = std::to_string(getpid());
  std::vector<std::string> stale = {".k.tbx.new-" + dead + "-0", ".k.tbx.new-" + dead + "-0-journal",
                                    "..k.tbx.new-" + dead + "-1.new-" + dead + "-2",
                                    ".tabulix-write-test-" + dead + "-Ab12Cd"};
  std::vector<std::string> kept = {".k.tbx.new-" + self + "-0",
                                   ".k.tbx.new-1-0" /* init runs */,
                                   ".k.tbx.new-" + dead,
                                   ".notes.new-" + dead + "-0",
                                   "k.tbx.new-" + dead + "-0",
                                   "..k.tbx.new-" + dead + "-1.new-" + self + "-2",
                                   ".tabulix-write-test-" + self + "-Ab12Cd",
                                   ".tabulix-write-test-Ab12Cd"};
  for (const auto& n : stale) dir.write(n, "x");
  for (const auto& n : kept) dir.write(n, "x");
  ImportOptions opts;
  opts.dataFile = dir.write("d.csv", "n\n1\n");
  opts.target = dir.path / "k.tbx";
  const ImportOutcome r = importDataFile(opts, dir.path, {});
  ASSERT_TRUE(r.error.empty()) << r.error;
  for (const auto& n : stale) EXPECT_FALSE(fs::exists(dir.path / n)) << n;
  for (const auto& n : kept) EXPECT_TRUE(fs::exists(dir.path / n)) << n;
}

// An import over an existing workspace killed at any moment leaves either
// that workspace byte for byte or the complete new one, never a part. The
// kills are spread over the time one whole import takes here (measured
// first, so that they land at the start, in the middle and at the end under
// sanitizers and load alike); bench/kill_bench.sh raises the rounds through
// TABULIX_KILL_ROUNDS. The hidden files the kills leave go with the next
// import into the folder.
TEST(Importer, KilledImportsLeaveTheOldWorkspaceOrTheWholeNewOne) {
  TempDir dir;
  std::string big = "a,b,c\n";
  for (int i = 1; i <= 15000; ++i) big += join(i, ",x", i % 7, ",yes\n");
  fs::path data = dir.write("big.csv", big);
  fs::path target = dir.path / "k.tbx";
  ImportOptions o;
  o.dataFile = dir.write("old.csv", "p,q\n1,2\n3,4\n");
  o.target = target;
  ASSERT_TRUE(importDataFile(o, dir.path, {}).error.empty());
  const std::string old = readFile(target);
  o.dataFile = data;
  auto t0 = std::chrono::steady_clock::now();
  {
    ImportOptions whole = o;
    whole.target = dir.path / "whole.tbx";
    ASSERT_TRUE(importDataFile(whole, dir.path, {}).saved);
  }
  auto whole =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count();
  const char* env = std::getenv("TABULIX_KILL_ROUNDS");
#ifdef __SANITIZE_ADDRESS__
  const int fallback = 12;  // each round takes several times longer there
#else
  const int fallback = 30;
#endif
  const int rounds = env && std::atoi(env) > 0 ? std::atoi(env) : fallback;
  std::mt19937 rng(7);
  std::uniform_int_distribution<long> delay(0, whole * 13 / 10);
  int kept = 0, replaced = 0;
  for (int round = 0; round < rounds; ++round) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      (void)importDataFile(o, dir.path, {});
      _exit(0);
    }
    // The first rounds land in the first milliseconds, where the new file
    // is being made.
    usleep(static_cast<useconds_t>(round < 10 ? round * 1000 : delay(rng)));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    if (readFile(target) == old) {
      ++kept;
      continue;
    }
    Model m;
    ASSERT_NO_THROW(m.openStore(target, StoreAccess::ReadOnly)) << "round " << round;
    EXPECT_EQ(countRows(m), 15000u) << "round " << round;
    CellFetch all;
    EXPECT_EQ(m.context().countCells(all), 3u * 15000u) << "round " << round;
    ++replaced;
    m.closeStores();
    // The next round replaces the old workspace again.
    std::ofstream(target, std::ios::binary | std::ios::trunc) << old;
  }
  // One more import clears what the killed ones left.
  o.dataFile = dir.path / "old.csv";
  ASSERT_TRUE(importDataFile(o, dir.path, {}).error.empty());
  std::string hidden;
  for (const auto& e : fs::directory_iterator(dir.path))
    if (e.path().filename().string()[0] == '.') hidden += " " + e.path().filename().string();
  EXPECT_EQ(hidden, "") << "left beside the workspace";
  std::cout << "[ figures  ] " << rounds << " kills during imports over a workspace: " << kept
            << " kept it byte for byte, " << replaced << " replaced it whole, 0 partial\n";
}
