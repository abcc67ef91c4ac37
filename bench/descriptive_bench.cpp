// Costliest descriptive routines: the kernel density curve (100 × n kernel
// evaluations) against a plain scalar loop of the same arithmetic, and
// percentiles (a sort of a copy).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "stats/descriptive.h"

namespace {

std::vector<double> normalSample(std::size_t n) {
  std::mt19937_64 gen(42);
  std::normal_distribution<double> dist(50, 12);
  std::vector<double> v(n);
  for (double& x : v) x = dist(gen);
  return v;
}

// The same curve with a scalar exp per term (errno semantics keep GCC from
// vectorising it): the baseline the library routine is measured against.
std::vector<double> scalarDensity(const std::vector<double>& values, double sd, double min, double max) {
  const double s = sd * std::numbers::sqrt2 / 5;
  const double c = sd * std::sqrt(2 * std::numbers::pi) / 5;
  std::vector<double> y(100);
  double peak = 0;
  for (int i = 0; i < 100; ++i) {
    const double x = (min - sd) + ((max + sd) - (min - sd)) * i / 100;
    double sum = 0;
    for (double v : values) {
      const double u = (v - x) / s;
      sum += 1 / (c * std::exp(u * u));
    }
    y[i] = sum;
    peak = std::max(peak, std::fabs(sum));
  }
  for (double& v : y) v /= peak;
  return y;
}

void BM_kdensity(benchmark::State& state) {
  const auto data = normalSample(static_cast<std::size_t>(state.range(0)));
  const double sd = tabulix::DescriptiveStatistics::sdNormal(data);
  const auto [lo, hi] = std::minmax_element(data.begin(), data.end());
  for (auto _ : state) benchmark::DoNotOptimize(tabulix::DescriptiveStatistics::kdensity(data, sd, *lo, *hi));
  state.SetItemsProcessed(state.iterations() * state.range(0) * 100);
}
BENCHMARK(BM_kdensity)->Arg(1000)->Arg(10000)->Arg(100000);

void BM_kdensityScalarBaseline(benchmark::State& state) {
  const auto data = normalSample(static_cast<std::size_t>(state.range(0)));
  const double sd = tabulix::DescriptiveStatistics::sdNormal(data);
  const auto [lo, hi] = std::minmax_element(data.begin(), data.end());
  for (auto _ : state) benchmark::DoNotOptimize(scalarDensity(data, sd, *lo, *hi));
  state.SetItemsProcessed(state.iterations() * state.range(0) * 100);
}
BENCHMARK(BM_kdensityScalarBaseline)->Arg(1000)->Arg(10000)->Arg(100000);

void BM_percentiles(benchmark::State& state) {
  const auto data = normalSample(static_cast<std::size_t>(state.range(0)));
  const std::vector<double> percents{0, 1, 5, 10, 25, 50, 75, 90, 95, 99, 100};
  for (auto _ : state) benchmark::DoNotOptimize(tabulix::DescriptiveStatistics::percentiles(percents, data));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_percentiles)->Arg(1000)->Arg(100000)->Arg(1000000);

}  // namespace

BENCHMARK_MAIN();
