// The hypothesis tests of means and of proportions on 100,000 rows, from the
// request to the result's JSON text: cells read from the store, the filters
// of the two groups, the statistic, the box plots, the kernel densities, the
// distribution curves, the layouts and the JSON. bench/hypothesis_vs_r.sh
// builds the workspace from data that R generates and times R's t.test,
// prop.test, binom.test and mcnemar.test on the same data beside.
#include "bench/analysis_bench.h"

using namespace tabulix;
using namespace tabulix::bench;

namespace {

Model& workspace() { return benchWorkspace("TABULIX_HYPOTHESIS_BENCH_TBX"); }
int32_t number(const std::string& name) { return variableNumber(workspace(), name); }
void run(benchmark::State& state, const std::string& kind, const AnalysisRequest& request) {
  runAnalysis(state, workspace(), kind, request);
}

AnalysisRequest request(const char* left, const char* right, std::map<std::string, std::string> settings) {
  AnalysisRequest r;
  r.left = number(left);
  if (right) r.right = number(right);
  r.settings = std::move(settings);
  return r;
}

// The groups g = a (sample 1) and g = b (sample 2) of one variable.
AnalysisRequest twoGroups(const char* variable, std::map<std::string, std::string> settings) {
  AnalysisRequest r = request(variable, variable, std::move(settings));
  r.wheres = {{number("g"), kOpEqual, "a", std::nullopt}};
  r.wheres2 = {{number("g"), kOpEqual, "b", std::nullopt}};
  return r;
}

void BM_MeansOneSampleT(benchmark::State& s) {
  run(s, "means", request("x", nullptr, {{"expected", "0.01"}}));
}
void BM_MeansWelchT(benchmark::State& s) { run(s, "means", twoGroups("x", {{"samples", "2"}})); }
void BM_MeansTwoSampleZ(benchmark::State& s) {
  run(s, "means", twoGroups("x", {{"samples", "2"}, {"test", "0"}}));
}
void BM_MeansPairedT(benchmark::State& s) {
  run(s, "means", request("x", "y", {{"samples", "2"}, {"isPaired", "1"}}));
}
void BM_ProportionsOneSampleBinomial(benchmark::State& s) {
  run(s, "proportions", request("ok", nullptr, {{"expected", "0.5"}, {"leftLevel1", "yes"}}));
}
void BM_ProportionsTwoSampleChiSquare(benchmark::State& s) {
  run(s, "proportions", twoGroups("ok", {{"samples", "2"}, {"leftLevel1", "yes"}, {"rightLevel1", "yes"}}));
}
void BM_ProportionsTwoSampleZ(benchmark::State& s) {
  run(s, "proportions",
      twoGroups("ok", {{"samples", "2"}, {"test", "0"}, {"leftLevel1", "yes"}, {"rightLevel1", "yes"}}));
}
void BM_ProportionsMcNemar(benchmark::State& s) {
  run(s, "proportions",
      request("ok", "ok2",
              {{"samples", "2"}, {"isPaired", "1"}, {"leftLevel1", "yes"}, {"rightLevel1", "yes"}}));
}

}  // namespace

BENCHMARK(BM_MeansOneSampleT)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MeansWelchT)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MeansTwoSampleZ)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MeansPairedT)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProportionsOneSampleBinomial)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProportionsTwoSampleChiSquare)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProportionsTwoSampleZ)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProportionsMcNemar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
