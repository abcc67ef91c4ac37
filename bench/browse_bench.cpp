// The Browse grid on a 100,000 x 20 workspace: a window of 50 rows x 20
// variables at random scroll positions, unfiltered and filtered (the row
// list made afresh each time, as for a new filter), and leaving edit mode
// after one changed cell of a numeric variable (store the edit, save,
// statistics and type of the variable, save).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "browse/edit_session.h"
#include "browse/grid_window.h"
#include "engine/cell_access.h"
#include "engine/workspace_data.h"

using namespace tabulix;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRows = 100000;

Model& workspace() {
  static Model* model = [] {
    auto* m = new Model();
    char tmpl[] = "/tmp/tabulix-browse-bench-XXXXXX";
    fs::path dir = mkdtemp(tmpl);
    m->openStore(dir / "browse.tbx");
    m->setMetadataValue(".", "decimalSeparator");
    std::vector<std::string> names;
    for (int i = 1; i <= 20; ++i) names.push_back("v" + std::to_string(i));
    addColumns(*m, names);
    auto cols = columns(*m);
    std::mt19937 rng(11);
    std::normal_distribution<double> norm;
    std::vector<std::string> row(20);
    for (uint32_t r = 1; r <= kRows; ++r) {
      for (int c = 0; c < 20; ++c)
        row[c] = c % 4 == 3 ? std::string(1, static_cast<char>('a' + rng() % 5)) : std::to_string(norm(rng));
      addRow(*m, r, row, cols);
    }
    for (Column* c : columns(*m)) {
      basicStatsForColumn(*m, *c);
      c->type = static_cast<int32_t>(guessTypeOfColumn(*c));
    }
    m->saveContext();
    return m;
  }();
  return *model;
}

void BM_GridWindow(benchmark::State& state) {
  Model& m = workspace();
  std::vector<WhereClauseObj> wheres;
  if (state.range(0)) {
    WhereClauseObj w;
    w.colNum = 0;
    w.op = kOpGreater;
    w.constant = "0";
    wheres.push_back(w);
  }
  std::mt19937 rng(3);
  for (auto _ : state) {
    m.context().reset();  // a request after others changed the store reads afresh
    std::vector<int32_t> kept = rowsKept(m, wheres);
    size_t first = kept.size() > 50 ? rng() % (kept.size() - 50) : 0;
    auto window = gridWindow(m, kept, first, 50, wheres);
    benchmark::DoNotOptimize(window);
  }
}
BENCHMARK(BM_GridWindow)->Arg(0)->Arg(1)->ArgName("filtered")->Unit(benchmark::kMillisecond);

void BM_LeaveEditModeAfterOneCell(benchmark::State& state) {
  Model& m = workspace();
  std::mt19937 rng(5);
  int flip = 0;
  for (auto _ : state) {
    EditSession session;
    int32_t row = static_cast<int32_t>(1 + rng() % kRows);
    if (!session.editCell(m, 0, row, std::to_string(++flip))) continue;
    endEditing(m, session);
  }
}
BENCHMARK(BM_LeaveEditModeAfterOneCell)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
