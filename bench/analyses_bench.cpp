// The bivariate analysis and the linear and logistic regressions with 10
// regressors on 100,000 rows, from the request to the result's JSON text:
// cells read from the store, the fit, the residual histogram, the layouts
// and the JSON. bench/analyses_vs_r.sh builds the workspace from data that R
// generates and times R's cor.test, lm and glm with their summaries beside.
#include "bench/analysis_bench.h"

using namespace tabulix;
using namespace tabulix::bench;

namespace {

Model& workspace() { return benchWorkspace("TABULIX_ANALYSES_BENCH_TBX"); }
int32_t number(const std::string& name) { return variableNumber(workspace(), name); }
void run(benchmark::State& state, const std::string& kind, const AnalysisRequest& request) {
  runAnalysis(state, workspace(), kind, request);
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
