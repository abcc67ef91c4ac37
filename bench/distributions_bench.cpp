// Distribution routines on ordinary arguments (the ones analyses pass: moderate statistics,
// degrees of freedom from 1 to a few hundred, binomials of up to a few hundred trials), each
// timed over a fixed list of arguments. bench/stats_before_after.sh runs this program built from
// two revisions in one session.
#include <benchmark/benchmark.h>

#include <vector>

#include "stats/descriptive.h"
#include "stats/distributions.h"

namespace {

using D = tabulix::Distributions;

const std::vector<double> kStatistics{-3.1, -1.7, -0.4, 0.2, 0.9, 1.6, 2.3, 4.8};
const std::vector<double> kDf{1, 2, 5, 12, 30, 75, 200, 900};

template <class F>
void overGrid(benchmark::State& state, F f) {
  for (auto _ : state)
    for (double x : kStatistics)
      for (double df : kDf) benchmark::DoNotOptimize(f(x, df));
  state.SetItemsProcessed(state.iterations() * static_cast<long>(kStatistics.size() * kDf.size()));
}

void BM_normcdfz(benchmark::State& s) {
  overGrid(s, [](double x, double df) { return D::normcdfz(x * df / 100); });
}
BENCHMARK(BM_normcdfz);
void BM_normZForConfidence(benchmark::State& s) {
  overGrid(s, [](double x, double df) { return D::normZForConfidence((x + 4) / 9 / df); });
}
BENCHMARK(BM_normZForConfidence);
void BM_dtpdf(benchmark::State& s) {
  overGrid(s, [](double x, double df) { return D::dtpdf(x, 0, 1, df); });
}
BENCHMARK(BM_dtpdf);
void BM_tcdf(benchmark::State& s) {
  overGrid(s, [](double x, double df) { return D::tcdf(x, df); });
}
BENCHMARK(BM_tcdf);
void BM_tForConfidence(benchmark::State& s) {
  overGrid(s, [](double x, double df) { return D::tForConfidence((x + 4) / 40, df); });
}
BENCHMARK(BM_tForConfidence);
void BM_chicdf(benchmark::State& s) {
  overGrid(s, [](double x, double df) { return D::chicdf(x * x * df, df); });
}
BENCHMARK(BM_chicdf);
void BM_chiXForConfidence(benchmark::State& s) {
  overGrid(s, [](double x, double df) { return D::chiXForConfidence((x + 4) / 9, df); });
}
BENCHMARK(BM_chiXForConfidence);
void BM_fcdf(benchmark::State& s) {
  overGrid(s, [](double x, double df) { return D::fcdf(x * x, 3, df); });
}
BENCHMARK(BM_fcdf);
void BM_incompleteBeta(benchmark::State& s) {
  overGrid(s, [](double x, double df) { return D::incompleteBeta((x + 4) / 9, df / 2, 3.5); });
}
BENCHMARK(BM_incompleteBeta);
void BM_p_gamma(benchmark::State& s) {
  overGrid(s, [](double x, double df) { return D::p_gamma(df / 2, x * x); });
}
BENCHMARK(BM_p_gamma);
void BM_logBeta(benchmark::State& s) {
  overGrid(s, [](double x, double df) { return D::logBeta(x * x, df); });
}
BENCHMARK(BM_logBeta);
void BM_betaFunction(benchmark::State& s) {
  overGrid(s, [](double x, double df) { return D::betaFunction(x * x, df); });
}
BENCHMARK(BM_betaFunction);

// One binomial term, and the two-sided binomial test that sums all n + 1 of them.
void BM_binomialTerm(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state)
    for (int k = 0; k <= n; k += std::max(1, n / 16)) benchmark::DoNotOptimize(D::binomialTerm(n, k, 0.37));
}
BENCHMARK(BM_binomialTerm)->Arg(10)->Arg(60)->Arg(100)->Arg(300);

void BM_bicdf(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(D::bicdf(n / 3, 0.5, n));
}
BENCHMARK(BM_bicdf)->Arg(10)->Arg(60)->Arg(100)->Arg(300);

// Moment statistics and correlation of 100,000 values (two passes each).
std::vector<double> sample(std::size_t n, double shift) {
  std::vector<double> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = shift + static_cast<double>((i * 7919) % 1000) / 37;
  return v;
}
void BM_variance(benchmark::State& state) {
  const auto v = sample(100000, 3);
  for (auto _ : state) benchmark::DoNotOptimize(tabulix::DescriptiveStatistics::variance(v));
}
BENCHMARK(BM_variance);
void BM_skewness(benchmark::State& state) {
  const auto v = sample(100000, 3);
  for (auto _ : state) benchmark::DoNotOptimize(tabulix::DescriptiveStatistics::skewness(v));
}
BENCHMARK(BM_skewness);
void BM_kurtosis(benchmark::State& state) {
  const auto v = sample(100000, 3);
  for (auto _ : state) benchmark::DoNotOptimize(tabulix::DescriptiveStatistics::kurtosis(v));
}
BENCHMARK(BM_kurtosis);
void BM_correlation(benchmark::State& state) {
  const auto x = sample(100000, 3), y = sample(100000, -8);
  for (auto _ : state) benchmark::DoNotOptimize(tabulix::DescriptiveStatistics::correlation(x, y));
}
BENCHMARK(BM_correlation);

}  // namespace

BENCHMARK_MAIN();
