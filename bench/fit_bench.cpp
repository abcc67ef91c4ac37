// The fit wrapper (constant and collinearity checks, then the least-squares or logistic fit) on
// 100,000 observations of 10 predictors, and on a small data set of 32 x 4 where the checks
// weigh most. bench/stats_before_after.sh runs this program built from two revisions in one session.
#include <benchmark/benchmark.h>

#include <cmath>
#include <iostream>
#include <random>
#include <vector>

#include "analyses/fit.h"

namespace {

struct Data {
  std::vector<double> yLinear, yBinary;
  std::vector<std::vector<double>> xs;
};

Data generate(std::size_t n, std::size_t p) {
  std::mt19937_64 rng(20240601);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> uniform;
  Data d;
  d.xs.assign(p, std::vector<double>(n));
  for (auto& col : d.xs)
    for (double& v : col) v = normal(rng);
  for (std::size_t i = 0; i < n; ++i) {
    double eta = 0.5;
    for (std::size_t j = 0; j < p; ++j) eta += (j % 2 ? -0.3 : 0.3) * d.xs[j][i];
    d.yLinear.push_back(eta + normal(rng));
    d.yBinary.push_back(uniform(rng) < 1 / (1 + std::exp(-eta)) ? 1 : 0);
  }
  return d;
}

void BM_olsY(benchmark::State& state) {
  const Data d = generate(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
  for (auto _ : state) benchmark::DoNotOptimize(tabulix::olsY(d.yLinear, d.xs, false).coeffs().data());
}
BENCHMARK(BM_olsY)->Args({32, 4})->Args({100000, 10})->Unit(benchmark::kMicrosecond);

void BM_olsYLogit(benchmark::State& state) {
  const Data d = generate(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
  std::clog.setstate(std::ios::badbit);  // one log line per fit
  for (auto _ : state) benchmark::DoNotOptimize(tabulix::olsY(d.yBinary, d.xs, true).coeffs().data());
  std::clog.clear();
}
BENCHMARK(BM_olsYLogit)->Args({32, 4})->Args({100000, 10})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
