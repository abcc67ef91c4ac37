// The variable detail of a 100,000-row numeric variable (every figure, the
// histogram and the Q-Q data) and its PDF report with charts. The workspace
// comes from bench/detail_vs_r.sh (TABULIX_DETAIL_WORKSPACE, variable "x").
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "analyses/analysis_kind.h"
#include "engine/workspace_data.h"
#include "reports/pdf_writer.h"

using namespace tabulix;

namespace {

Model& workspace() {
  static Model* m = [] {
    auto* model = new Model();
    const char* path = std::getenv("TABULIX_DETAIL_WORKSPACE");
    if (!path) std::abort();
    model->openStore(path);
    return model;
  }();
  return *m;
}

AnalysisRequest request() {
  AnalysisRequest r;
  for (Column* c : columns(workspace()))
    if (c->name == "x") r.left = *c->num;
  return r;
}

void BM_Detail(benchmark::State& state) {
  auto r = request();
  auto run = analysisKinds().at("detail").run;
  for (auto _ : state) {
    workspace().context().reset();  // a worker's fresh context reads the file
    AnalysisOutput out = run(workspace(), r);
    std::string json = out.result.dump();
    benchmark::DoNotOptimize(json);
  }
}
BENCHMARK(BM_Detail)->Unit(benchmark::kMillisecond);

void BM_DetailPdf(benchmark::State& state) {
  AnalysisOutput out = analysisKinds().at("detail").run(workspace(), request());
  std::string path =
      std::filesystem::temp_directory_path() / ("tabulix-bench-" + std::to_string(getpid()) + ".pdf");
  for (auto _ : state) reports::pdfOfView(out.print, path);
  std::filesystem::remove(path);
}
BENCHMARK(BM_DetailPdf)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
