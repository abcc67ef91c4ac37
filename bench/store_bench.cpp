// Workspace store: import-sized writes and the reads the screens make.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "engine/model.h"
#include "engine/workspace_data.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

constexpr int kRows = 100000;
constexpr int kCols = 20;

fs::path tempDir() {
  static fs::path dir = [] {
    char tmpl[] = "/tmp/tabulix-bench-XXXXXX";
    return fs::path(mkdtemp(tmpl));
  }();
  return dir;
}

// Texts like an imported survey: numbers, short categories, dates.
std::vector<std::string> rowTexts(int r) {
  std::vector<std::string> v(kCols);
  for (int c = 0; c < kCols; ++c) {
    switch (c % 4) {
      case 0: v[c] = std::to_string((r * 7919 + c * 104729) % 100000 / 100.0); break;
      case 1: v[c] = (r + c) % 3 ? "female" : "male"; break;
      case 2: v[c] = (r + c) % 2 ? "yes" : "no"; break;
      default: v[c] = "03/" + std::to_string(1 + (r + c) % 28) + "/2021"; break;
    }
  }
  return v;
}

void build(const fs::path& file) {
  fs::remove(file);
  Model m;
  m.openStore(file);
  std::vector<std::string> names;
  for (int c = 0; c < kCols; ++c) names.push_back(std::string("V").append(std::to_string(c)));
  addColumns(m, names);
  auto cols = columns(m);
  for (int r = 1; r <= kRows; ++r) addRow(m, r, rowTexts(r), cols);
  m.saveContext();
}

void BM_Add100kRows20ColumnsAndSave(benchmark::State& state) {
  std::vector<std::vector<std::string>> data;
  for (int r = 1; r <= kRows; ++r) data.push_back(rowTexts(r));
  fs::path file = tempDir() / "write.tbx";
  for (auto _ : state) {
    fs::remove(file);
    Model m;
    m.openStore(file);
    std::vector<std::string> names;
    for (int c = 0; c < kCols; ++c) names.push_back(std::string("V").append(std::to_string(c)));
    addColumns(m, names);
    auto cols = columns(m);
    for (int r = 1; r <= kRows; ++r) addRow(m, r, data[r - 1], cols);
    m.saveContext();
  }
  state.counters["cells/s"] = benchmark::Counter(double(kRows) * kCols, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Add100kRows20ColumnsAndSave)->Unit(benchmark::kMillisecond);

void BM_ReadOneColumn(benchmark::State& state) {
  fs::path file = tempDir() / "read.tbx";
  if (!fs::exists(file)) build(file);
  Model m;
  m.openStore(file);
  CellFetch f;
  f.colNum = 3;
  for (auto _ : state) {
    auto cells = m.context().fetchCells(f);
    benchmark::DoNotOptimize(cells.data());
    if (cells.size() != kRows) state.SkipWithError("wrong cell count");
  }
}
BENCHMARK(BM_ReadOneColumn)->Unit(benchmark::kMillisecond);

void BM_VisitOneColumnWithoutCopies(benchmark::State& state) {
  fs::path file = tempDir() / "read.tbx";
  if (!fs::exists(file)) build(file);
  Model m;
  m.openStore(file);
  for (auto _ : state) {
    size_t bytes = 0;
    m.context().forEachCellOfColumn(3, nullptr, [&](int32_t, std::optional<std::string_view> d) {
      bytes += d ? d->size() : 0;
    });
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(BM_VisitOneColumnWithoutCopies)->Unit(benchmark::kMillisecond);

void BM_ReadOneRow(benchmark::State& state) {
  fs::path file = tempDir() / "read.tbx";
  if (!fs::exists(file)) build(file);
  Model m;
  m.openStore(file);
  int32_t row = 1;
  for (auto _ : state) {
    CellFetch f;
    f.rowNum = row;
    f.sort = {{CellKey::ColNum, true}};
    auto cells = m.context().fetchCells(f);
    if (cells.size() != kCols) state.SkipWithError("wrong cell count");
    row = (row + 7919) % kRows + 1;
    m.context().releaseCellMemory();
  }
}
BENCHMARK(BM_ReadOneRow)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
