// rowsWhere over a 100,000-row workspace: one numeric condition, and three
// conditions (numeric, numeric, text). The workspace is made by
// bench/rows_vs_r.sh (TABULIX_ROWS_WORKSPACE); without it a generated one is used.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "analyses/filters.h"
#include "engine/cell_access.h"
#include "engine/workspace_data.h"

using namespace tabulix;
namespace fs = std::filesystem;

namespace {

Model& workspace() {
  static Model* model = [] {
    auto* m = new Model();
    if (const char* path = std::getenv("TABULIX_ROWS_WORKSPACE")) {
      m->openStore(path);
      return m;
    }
    char tmpl[] = "/tmp/tabulix-rows-bench-XXXXXX";
    fs::path dir = mkdtemp(tmpl);
    m->openStore(dir / "rows.tbx");
    m->setMetadataValue(".", "decimalSeparator");
    addColumns(*m, {"x", "y", "g"});
    auto cols = columns(*m);
    std::mt19937 rng(7);
    std::normal_distribution<double> norm;
    const char* groups[] = {"a", "b", "c", "d"};
    for (uint32_t r = 1; r <= 100000; ++r)
      addRow(
          *m, r,
          std::vector<std::string>{std::to_string(norm(rng)), std::to_string(norm(rng)), groups[rng() % 4]},
          cols);
    for (Column* c : columns(*m)) {
      basicStatsForColumn(*m, *c);
      c->type = static_cast<int32_t>(guessTypeOfColumn(*c));
    }
    m->saveContext();
    return m;
  }();
  return *model;
}

WhereClauseObj cond(int64_t col, uint64_t op, const char* c) {
  WhereClauseObj w;
  w.colNum = col;
  w.op = op;
  w.constant = c;
  return w;
}

void BM_RowsWhereOneNumeric(benchmark::State& state) {
  Model& m = workspace();
  std::vector<WhereClauseObj> w = {cond(0, kOpGreater, "0.5")};
  for (auto _ : state) {
    m.context().reset();  // every request starts from the file, as a worker's fresh context does
    auto rows = rowsWhere(m, w);
    benchmark::DoNotOptimize(rows);
  }
}
BENCHMARK(BM_RowsWhereOneNumeric)->Unit(benchmark::kMillisecond);

void BM_RowsWhereThree(benchmark::State& state) {
  Model& m = workspace();
  std::vector<WhereClauseObj> w = {cond(0, kOpGreater, "-0.5"), cond(1, kOpLess, "0.5"),
                                   cond(2, kOpEqual, "a")};
  for (auto _ : state) {
    m.context().reset();
    auto rows = rowsWhere(m, w);
    benchmark::DoNotOptimize(rows);
  }
}
BENCHMARK(BM_RowsWhereThree)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
