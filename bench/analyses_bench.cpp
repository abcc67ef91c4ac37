// The bivariate analysis and the linear and logistic regressions with 10
// regressors on 100,000 rows, from the request to the result's JSON text:
// cells read from the store, the fit, the residual histogram, the layouts
// and the JSON. bench/analyses_vs_r.sh builds the workspace from data that R
// generates and times R's cor.test, lm and glm with their summaries beside.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>

#include "analyses/analysis_kind.h"
#include "engine/workspace_data.h"

using namespace tabulix;

namespace {

Model& workspace() {
  static Model* m = [] {
    const char* file = std::getenv("TABULIX_ANALYSES_BENCH_TBX");
    if (!file) {
      std::cerr << "set TABULIX_ANALYSES_BENCH_TBX to a workspace (bench/analyses_vs_r.sh makes one)\n";
      std::exit(2);
    }
    auto* model = new Model;
    model->openStore(file);
    return model;
  }();
  return *m;
}

int32_t number(const std::string& name) {
  for (Column* c : columns(workspace()))
    if (c->name == name) return *c->num;
  std::cerr << "no variable " << name << "\n";
  std::exit(2);
}

void run(benchmark::State& state, const std::string& kind, const AnalysisRequest& request) {
  for (auto _ : state) {
    AnalysisOutput out = analysisKinds().at(kind).run(workspace(), request);
    std::string json = out.result.dump();
    benchmark::DoNotOptimize(json.data());
    workspace().context().releaseCellMemory();
  }
}

AnalysisRequest regression(const std::string& left) {
  AnalysisRequest r;
  r.left = number(left);
  for (const char* x : {"x1", "x2", "x3", "x4", "x5", "x6", "x7", "x8", "x9", "x10"})
    r.columns.push_back(number(x));
  return r;
}

void BM_Correlation(benchmark::State& state) {
  AnalysisRequest r;
  r.left = number("x1");
  r.right = number("y");
  run(state, "correlation", r);
}
void BM_Linear10(benchmark::State& state) { run(state, "linear", regression("y")); }
void BM_Logistic10(benchmark::State& state) {
  AnalysisRequest r = regression("b");
  r.settings.emplace("leftLevel1", std::string(1, '1'));
  run(state, "logistic", r);
}

}  // namespace

BENCHMARK(BM_Correlation)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Linear10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Logistic10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
