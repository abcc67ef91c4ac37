// Deriving one variable over 100,000 rows: the values computed by a worker
// Model reading the store, then the column, its cells, statistics and type
// added by the owning Model and saved (bench/derive_vs_r.sh runs it beside R).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "derive/derive.h"
#include "engine/workspace_data.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

constexpr int kRows = 100000;

// x: decimals from 0 to 999.99, every 20th row missing; y: 0.5 to 96.5.
// bench/derive_vs_r.sh builds the same columns in R.
std::string xText(int r) { return r % 20 == 0 ? "" : std::to_string((r * 7919) % 100000 / 100.0); }
std::string yText(int r) { return std::to_string(r % 97 + 0.5); }

Model& workspace() {
  static Model* m = [] {
    char tmpl[] = "/tmp/tabulix-derive-bench-XXXXXX";
    fs::path file = fs::path(mkdtemp(tmpl)) / "derive.tbx";
    auto* model = new Model;
    model->openStore(file);
    addColumns(*model, {"x", "y"});
    auto cols = columns(*model);
    for (int r = 1; r <= kRows; ++r) addRow(*model, r, std::vector<std::string>{xText(r), yText(r)}, cols);
    for (Column* c : cols) {
      basicStatsForColumn(*model, *c);
      c->type = static_cast<int32_t>(guessTypeOfColumn(*c));
    }
    model->saveContext();
    return model;
  }();
  return *m;
}

void derive(benchmark::State& state, uint32_t code, bool useY, double c) {
  Model& shared = workspace();
  Column* x = columns(shared)[0];
  Column* y = useY ? columns(shared)[1] : nullptr;
  for (auto _ : state) {
    DerivedColumn values;
    {
      Model worker(shared.coordinator());
      Column* wx = worker.context().existingColumn(x->objectID);
      Column* wy = y ? worker.context().existingColumn(y->objectID) : nullptr;
      values =
          deriveColumnValues(worker, wx, wy, c, valueFunctionForCode(code, xFiguresForColumn(worker, wx)));
    }
    Column* made = applyDerivedColumn(shared, "derived", values);
    benchmark::DoNotOptimize(made->mean);
    state.PauseTiming();
    removeColumn(shared, made);
    state.ResumeTiming();
  }
}

void BM_DeriveLog10(benchmark::State& s) { derive(s, 300, false, 0); }
void BM_DeriveXPlusY(benchmark::State& s) { derive(s, 316, true, 0); }
void BM_DeriveZ(benchmark::State& s) { derive(s, 327, false, 0); }
void BM_DeriveAtLeastC(benchmark::State& s) { derive(s, 330, false, 500); }
void BM_DeriveNormal(benchmark::State& s) { derive(s, 337, false, 0); }

}  // namespace

BENCHMARK(BM_DeriveLog10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeriveXPlusY)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeriveZ)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeriveAtLeastC)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeriveNormal)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
