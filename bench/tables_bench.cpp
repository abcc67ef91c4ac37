// The table analyses over 100,000 rows, from request to JSON: a one-way
// ANOVA of a number by a 20-level grouping variable (per-level percentiles
// and density curves included) and a 20 x 20 two-way table (pooled to 10 x 10
// as the analysis does), each on a worker Model reading the store, with the
// layouts and CSV closure built (bench/tables_vs_r.sh runs it beside R).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "analyses/analysis_kind.h"
#include "engine/cell_access.h"
#include "engine/workspace_data.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

constexpr int kRows = 100000;

// value: decimals 0 to 999.99, every 50th missing; g, a, b: 20 levels each
// ("g1".."g20", "a1".., "b1"..) with unequal counts. bench/tables_vs_r.sh
// builds the same columns in R.
std::string valueText(int r) { return r % 50 == 0 ? "" : std::to_string((r * 7919) % 100000 / 100.0); }
std::string level(const char* prefix, int r, int mult) {
  return prefix + std::to_string((r * mult) % 37 % 20 + 1);
}

Model& workspace() {
  static Model* m = [] {
    char tmpl[] = "/tmp/tabulix-tables-bench-XXXXXX";
    fs::path file = fs::path(mkdtemp(tmpl)) / "tables.tbx";
    auto* model = new Model;
    model->openStore(file);
    model->setMetadataValue(".", "decimalSeparator");
    addColumns(*model, {"value", "g", "a", "b"});
    auto cols = columns(*model);
    for (int r = 1; r <= kRows; ++r)
      addRow(*model, r,
             std::vector<std::string>{valueText(r), level("g", r, 1), level("a", r, 3), level("b", r / 7, 5)},
             cols);
    for (Column* c : cols) {
      basicStatsForColumn(*model, *c);
      c->type = static_cast<int32_t>(guessTypeOfColumn(*c));
    }
    model->saveContext();
    return model;
  }();
  return *m;
}

void run(benchmark::State& state, const char* kind, int left, int right) {
  Model& shared = workspace();
  AnalysisRequest request;
  request.left = left;
  request.right = right;
  size_t bytes = 0;
  for (auto _ : state) {
    Model worker(shared.coordinator());
    AnalysisOutput out = analysisKinds().at(kind).run(worker, request);
    bytes = out.result.dump().size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["json_bytes"] = static_cast<double>(bytes);
}

void BM_OneWayAnova20Groups(benchmark::State& state) { run(state, "summarize", 0, 1); }
void BM_TwoWayTable20x20(benchmark::State& state) { run(state, "twoway", 2, 3); }

BENCHMARK(BM_OneWayAnova20Groups)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TwoWayTable20x20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
