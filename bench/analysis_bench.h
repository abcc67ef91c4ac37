// What the analysis benchmarks share: the workspace a script made (named by
// an environment variable), its variables by name, and one timed run of an
// analysis kind from the request to its JSON text.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "analyses/analysis_kind.h"
#include "engine/workspace_data.h"

namespace tabulix::bench {

// The workspace named by the environment variable `variable`, opened once.
inline Model& benchWorkspace(const char* variable) {
  static Model* m = [variable] {
    const char* file = std::getenv(variable);
    if (!file) {
      std::cerr << "set " << variable << " to a workspace (its bench/*_vs_r.sh script makes one)\n";
      std::exit(2);
    }
    auto* model = new Model;
    model->openStore(file);
    return model;
  }();
  return *m;
}

// The number of the variable called `name`; exits when there is none.
inline int32_t variableNumber(Model& model, const std::string& name) {
  for (Column* c : columns(model))
    if (c->name == name) return *c->num;
  std::cerr << "no variable " << name << "\n";
  std::exit(2);
}

// Times `kind` on `request`, the result's JSON text included; the cells read
// are let go of after each run so that every run reads them again.
inline void runAnalysis(benchmark::State& state, Model& model, const std::string& kind,
                        const AnalysisRequest& request) {
  for (auto _ : state) {
    AnalysisOutput out = analysisKinds().at(kind).run(model, request);
    std::string json = out.result.dump();
    benchmark::DoNotOptimize(json.data());
    model.context().releaseCellMemory();
  }
}

}  // namespace tabulix::bench
