// Every analysis kind on the 100,000-row workspace bench/analysis_payload.sh
// makes, computed the way the server's job does with the workspace already
// open: the cells read, the computation and the result's JSON (Compute), and
// the same with the screen's charts drawn as SVG at a phone's width (WithCharts).
//   TABULIX_KINDS_BENCH_TBX=rows.tbx build/release/bench/kinds_bench
#include <functional>

#include "bench/analysis_bench.h"
#include "charts/renderer.h"
#include "reports/layout.h"

using namespace tabulix;
using namespace tabulix::bench;

namespace {

Model& workspace() { return benchWorkspace("TABULIX_KINDS_BENCH_TBX"); }

AnalysisRequest request(const char* left, const char* right, std::vector<const char*> columns,
                        std::map<std::string, std::string> settings) {
  AnalysisRequest r;
  r.left = variableNumber(workspace(), left);
  if (right) r.right = variableNumber(workspace(), right);
  for (const char* c : columns) r.columns.push_back(variableNumber(workspace(), c));
  r.settings = std::move(settings);
  return r;
}

void chartsOf(const reports::Element& e, std::vector<const charts::Chart*>& out) {
  if (e.chart) out.push_back(&*e.chart);
  for (const auto& c : e.children) chartsOf(c, out);
}

void run(benchmark::State& state, const std::string& kind, const AnalysisRequest& r, bool withCharts) {
  for (auto _ : state) {
    AnalysisOutput out = analysisKinds().at(kind).run(workspace(), r);
    std::string json = out.result.dump();
    benchmark::DoNotOptimize(json.data());
    if (withCharts) {
      std::vector<const charts::Chart*> charts;
      chartsOf(out.screen, charts);
      for (const auto* c : charts) benchmark::DoNotOptimize(charts::toSvg(*c, 360, 260).size());
    }
    workspace().context().releaseCellMemory();
  }
}

void registerKind(const char* label, const char* kind, std::function<AnalysisRequest()> make) {
  for (bool withCharts : {false, true})
    benchmark::RegisterBenchmark((std::string(label) + (withCharts ? "/WithCharts" : "/Compute")).c_str(),
                                 [=](benchmark::State& s) { run(s, kind, make(), withCharts); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
  registerKind("detail", "detail", [] { return request("x", nullptr, {}, {}); });
  registerKind("correlation", "correlation", [] { return request("x", "y", {}, {}); });
  registerKind("linear", "linear", [] { return request("y", nullptr, {"x", "z"}, {}); });
  registerKind("logistic", "logistic", [] { return request("flag", nullptr, {"x", "z"}, {}); });
  registerKind("means", "means", [] { return request("x", nullptr, {}, {{"expected", "50"}}); });
  registerKind("means2", "means", [] { return request("x", "z", {}, {{"samples", "2"}}); });
  registerKind("proportions", "proportions", [] {
    return request("flag", nullptr, {}, {{"expected", "0.5"}});
  });
  registerKind("summarize", "summarize", [] { return request("x", "group", {}, {}); });
  registerKind("twoway", "twoway", [] { return request("group", "band", {}, {}); });
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
