// Least squares and logistic regression of 100,000 observations on 10 predictors plus a constant.
//
// With TABULIX_REGRESSION_DATA set to a file written by bench/regression_vs_r.sh the data come from
// that file (so R times the very same numbers); otherwise they are generated here.
// File layout, little-endian doubles: n, p, then y for the least squares (n), the 0/1 response of
// the logistic regression (n), then the p predictor columns (n each).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <stdexcept>
#include <vector>

#include "stats/regression.h"

namespace {

struct Data {
  std::vector<double> yLinear, yBinary;
  std::vector<std::vector<double>> design;  // p predictors, then the constant
};

Data generate(std::size_t n, std::size_t p) {
  std::mt19937_64 rng(20240601);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> uniform;
  Data d;
  d.design.assign(p, std::vector<double>(n));
  for (auto& col : d.design)
    for (double& v : col) v = normal(rng);
  d.yLinear.resize(n);
  d.yBinary.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    double eta = 0.5;
    for (std::size_t j = 0; j < p; ++j) eta += (j % 2 ? -0.3 : 0.3) * d.design[j][i];
    d.yLinear[i] = eta + normal(rng);
    d.yBinary[i] = uniform(rng) < 1 / (1 + std::exp(-eta)) ? 1 : 0;
  }
  d.design.emplace_back(n, 1.0);
  return d;
}

Data readFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  auto readDoubles = [&](std::vector<double>& v, std::size_t count) {
    v.resize(count);
    in.read(reinterpret_cast<char*>(v.data()), static_cast<std::streamsize>(count * sizeof(double)));
    if (!in) throw std::runtime_error("short regression data file");
  };
  std::vector<double> head;
  readDoubles(head, 2);
  // The file is our own benchmark input, but a bad path or a stale file should fail, not allocate wildly.
  if (!(head[0] >= 1 && head[0] <= 1e7 && head[1] >= 0 && head[1] <= 100))
    throw std::runtime_error("bad regression data header");
  const auto n = static_cast<std::size_t>(head[0]), p = static_cast<std::size_t>(head[1]);
  Data d;
  readDoubles(d.yLinear, n);
  readDoubles(d.yBinary, n);
  d.design.resize(p);
  for (auto& col : d.design) readDoubles(col, n);
  d.design.emplace_back(n, 1.0);
  return d;
}

const Data& data() {
  static const Data d = [] {
    const char* path = std::getenv("TABULIX_REGRESSION_DATA");
    return path && *path ? readFile(path) : generate(100000, 10);
  }();
  return d;
}

void BM_Ols(benchmark::State& state) {
  const Data& d = data();
  for (auto _ : state) {
    auto r = tabulix::RegressionRoutines::ols(d.yLinear, d.design);
    benchmark::DoNotOptimize(r.coeffs.data());
  }
  state.counters["n"] = static_cast<double>(d.yLinear.size());
  state.counters["k"] = static_cast<double>(d.design.size());
}
BENCHMARK(BM_Ols)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Logit(benchmark::State& state) {
  const Data& d = data();
  // The log line of each fit would only measure the terminal.
  std::clog.setstate(std::ios::badbit);
  int iterations = 0;
  for (auto _ : state) {
    auto r = tabulix::RegressionRoutines::logit(d.yBinary, d.design);
    iterations = r.numIter;
    benchmark::DoNotOptimize(r.coeffs.data());
  }
  std::clog.clear();
  state.counters["numIter"] = iterations;
}
BENCHMARK(BM_Logit)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
