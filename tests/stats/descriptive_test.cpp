// Descriptive statistics against values computed independently in R
// (tests/reference/descriptive.R → tests/data/reference/descriptive*.csv) and
// by hand, with the degenerate inputs that must give 0 or NaN.
#include "stats/descriptive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

namespace tabulix {
namespace {

using S = DescriptiveStatistics;

std::vector<std::vector<std::string>> readCsv(const std::string& name) {
  const char* root = std::getenv("TABULIX_SOURCE_DIR");
  std::ifstream in(std::string(root ? root : TABULIX_SOURCE_DIR) + "/tests/data/reference/" + name);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string f;
    while (std::getline(ss, f, ',')) fields.push_back(f);
    if (line.back() == ',') fields.push_back("");
    rows.push_back(fields);
  }
  return rows;
}

struct DataSet {
  std::vector<double> x, y;
};

std::map<std::string, DataSet> loadSets() {
  std::map<std::string, DataSet> sets;
  for (const auto& r : readCsv("descriptive_data.csv")) {
    sets[r[0]].x.push_back(std::stod(r[1]));
    if (!r[2].empty()) sets[r[0]].y.push_back(std::stod(r[2]));
  }
  return sets;
}

TEST(Descriptive, MatchesReferenceStatistics) {
  const auto sets = loadSets();
  ASSERT_EQ(sets.size(), 6u) << "reference data missing";
  const auto rows = readCsv("descriptive.csv");
  ASSERT_GT(rows.size(), 100u);
  for (const auto& r : rows) {
    const DataSet& d = sets.at(r[0]);
    const std::string& stat = r[1];
    const double expected = std::stod(r[3]);
    double got = 0;
    // Relative tolerance: the moment statistics accumulate a few hundred
    // roundings (R sums in long double), the others are one or two operations.
    double rel = 1e-12;
    if (stat == "mean") {
      got = S::mean(d.x), rel = 1e-15;
    } else if (stat == "variance") {
      got = S::variance(d.x);
    } else if (stat == "varianceBiased") {
      got = S::variance(d.x, true);
    } else if (stat == "sdNormal") {
      got = S::sdNormal(d.x);
    } else if (stat == "skewness") {
      // Skewness of the offset set is a small difference of large cubes.
      got = S::skewness(d.x), rel = r[0] == "offset" ? 1e-9 : 1e-12;
    } else if (stat == "kurtosis") {
      got = S::kurtosis(d.x);
    } else if (stat == "correlation") {
      got = S::correlation(d.x, d.y);
    } else if (stat == "percentile") {
      const double p = std::stod(r[2]);
      const std::vector<double> percents{p};
      const auto result = S::percentiles(percents, d.x);
      ASSERT_EQ(result.count(p), 1u);
      got = result.at(p), rel = 1e-14;
    } else {
      FAIL() << "unknown statistic " << stat;
    }
    EXPECT_NEAR(got, expected, rel * std::fabs(expected)) << r[0] << " " << stat << " " << r[2];
  }
}

TEST(Descriptive, KernelDensityMatchesReferenceCurve) {
  const auto sets = loadSets();
  std::map<std::string, std::vector<DensityPoint>> expected;
  for (const auto& r : readCsv("descriptive_kdensity.csv"))
    expected[r[0]].push_back({std::stod(r[2]), std::stod(r[3])});
  ASSERT_EQ(expected.size(), sets.size());
  for (const auto& [name, d] : sets) {
    const double sd = S::sdNormal(d.x);
    const double lo = *std::min_element(d.x.begin(), d.x.end());
    const double hi = *std::max_element(d.x.begin(), d.x.end());
    const auto curve = S::kdensity(d.x, sd, lo, hi);
    ASSERT_EQ(curve.size(), 100u) << name;
    EXPECT_EQ(curve.front().x, lo - sd) << name;
    double top = 0;
    for (std::size_t i = 0; i < curve.size(); ++i) {
      // The grid to rounding; y within 1e-12 of R's directly summed dnorm (the
      // vectorised exp may differ from the scalar one by a few ulp).
      EXPECT_NEAR(curve[i].x, expected[name][i].x, 1e-13 * std::fabs(expected[name][i].x) + 1e-13) << name;
      EXPECT_NEAR(curve[i].y, expected[name][i].y, 1e-12) << name << " " << i;
      top = std::max(top, curve[i].y);
    }
    EXPECT_EQ(top, 1.0) << name;
    // The grid stops one step short of max + sd.
    EXPECT_LT(curve.back().x, hi + sd) << name;
  }
}

TEST(Descriptive, HandComputedValues) {
  // Integer part 100 gives the maximum, even above 100.
  const std::vector<double> above{100.7}, three{1, 2, 3};
  EXPECT_EQ(S::percentiles(above, three).at(100.7), 3);
  // Unsorted input is sorted on a copy; the caller's data is untouched.
  std::vector<double> unsorted{9, 1, 5};
  const std::vector<double> fifty{50};
  EXPECT_EQ(S::percentiles(fifty, unsorted).at(50), 5);
  EXPECT_EQ(unsorted, (std::vector<double>{9, 1, 5}));
  EXPECT_EQ(S::sdBinomial(0.5), 0.5);
  EXPECT_EQ(S::se(6, 9), 2);
  const std::vector<double> a{3, 1, 4, 1, 5, 9, 2, 6}, neg{-3, -1, -4, -1, -5, -9, -2, -6};
  EXPECT_NEAR(S::correlation(a, neg), -1, 1e-15);
  // Only the first x.size() entries of y pair up, but my is the mean of all of
  // y (26.5): Sxy = 2, Sxx = 2, Syy = 25.5² + 24.5² + 23.5² = 1802.75.
  const std::vector<double> x2{1, 2, 3}, y2{1, 2, 3, 100};
  EXPECT_NEAR(S::correlation(x2, y2), 2 / (std::sqrt(1802.75) * std::sqrt(2.0)), 1e-15);
}

TEST(Descriptive, DegenerateInput) {
  const std::vector<double> none, one{7}, same{2, 2, 2, 2};
  for (double r : {S::mean(none), S::variance(none), S::variance(none, true), S::sdNormal(none),
                   S::skewness(none), S::kurtosis(none)})
    EXPECT_EQ(r, 0);
  const std::vector<double> percents{0, 25, 100};
  const auto empty = S::percentiles(percents, none);
  ASSERT_EQ(empty.size(), 3u);
  for (const auto& [p, v] : empty) EXPECT_TRUE(std::isnan(v)) << p;
  // One value: the unbiased variance divides 0 by 0; the biased one is 0.
  EXPECT_TRUE(std::isnan(S::variance(one)));
  EXPECT_TRUE(std::isnan(S::sdNormal(one)));
  EXPECT_EQ(S::variance(one, true), 0);
  const std::vector<double> fifty{50};
  EXPECT_EQ(S::percentiles(fifty, one).at(50), 7);
  // Constant data: moment ratios and correlation are 0 / 0.
  EXPECT_TRUE(std::isnan(S::skewness(same)));
  EXPECT_TRUE(std::isnan(S::kurtosis(same)));
  const std::vector<double> other{1, 2, 3, 4};
  EXPECT_TRUE(std::isnan(S::correlation(same, other)));
  EXPECT_TRUE(std::isnan(S::correlation(other, same)));
  // Equal values whose plain sum is not exact in binary (7 x 0.1 sums to 0.7000000000000001):
  // the shifted mean is exact for them, and the figures treat them as not varying.
  for (const std::vector<double>& flat :
       {std::vector<double>(7, 0.1), std::vector<double>(11, 1.0 / 3), std::vector<double>(9, 0.7)}) {
    EXPECT_EQ(S::mean(flat), flat[0]) << "the mean of equal values is the value";
    EXPECT_TRUE(std::isnan(S::skewness(flat))) << flat[0];
    EXPECT_TRUE(std::isnan(S::kurtosis(flat))) << flat[0];
    EXPECT_EQ(S::variance(flat), 0) << flat[0];
    EXPECT_EQ(S::variance(flat, true), 0) << flat[0];
    EXPECT_EQ(S::sdNormal(flat), 0) << flat[0];
    std::vector<double> other(flat.size());
    for (std::size_t i = 0; i < other.size(); ++i) other[i] = static_cast<double>(i * i);
    EXPECT_TRUE(std::isnan(S::correlation(flat, other))) << flat[0];
    EXPECT_TRUE(std::isnan(S::correlation(other, flat))) << flat[0];
  }
  // A y shorter than x cannot be paired.
  EXPECT_TRUE(std::isnan(S::correlation(other, one)));
  // Percents outside [0, 100] stay within the data rather than reading past it.
  const auto clamped = S::percentiles(std::vector<double>{-250, 250}, other);
  EXPECT_EQ(clamped.at(-250), 1);
  EXPECT_EQ(clamped.at(250), 4);
  // A zero bandwidth or no data shows as non-finite curve values, never a crash.
  const auto flat = S::kdensity(same, 0, 2, 2);
  ASSERT_EQ(flat.size(), 100u);
  EXPECT_FALSE(std::isfinite(flat[0].y));
  const auto nothing = S::kdensity(none, 1, 0, 1);
  ASSERT_EQ(nothing.size(), 100u);
  EXPECT_TRUE(std::isnan(nothing[50].y));
}

// The curve sums only the terms near each grid point: it must stay within
// 1e-12 of its peak of every term summed in long double, for a large unsorted
// sample, one with far outliers (narrow windows at most grid points), a
// tiny one far from most of the grid (where every term is summed), and
// samples around the offset beyond which the terms are no longer stepped
// along an even grid.
TEST(Descriptive, KernelDensityOfTheNearTermsIsTheFullSum) {
  std::vector<std::vector<double>> samples(3);
  unsigned state = 12345;
  const auto uniform = [&] {
    state = state * 1103515245u + 12345u;
    return (static_cast<double>(state >> 8) + 0.5) / 16777216.0;
  };
  for (int i = 0; i < 60000; ++i) {
    const double z = std::sqrt(-2 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
    samples[0].push_back(50 + 10 * z);
    samples[1].push_back(i % 1000 == 0 ? 1e4 * uniform() : z);
  }
  samples[2] = {0, 1e-3, 1000};
  for (double offset : {20.0, 40.0, 80.0, 1e6}) {
    std::vector<double> shifted(samples[0].begin(), samples[0].begin() + 10000);
    for (double& x : shifted) x += offset;
    samples.push_back(std::move(shifted));
  }
  for (const auto& v : samples) {
    const double sd = S::sdNormal(v);
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    const auto curve = S::kdensity(v, sd, *lo, *hi);
    std::vector<long double> full;
    for (const auto& point : curve) {
      long double sum = 0;
      for (double x : v) {
        const long double u = (static_cast<long double>(x) - point.x) / (sd * std::numbers::sqrt2 / 5);
        sum += std::exp(-u * u);
      }
      full.push_back(sum);
    }
    const long double peak = *std::max_element(full.begin(), full.end());
    for (std::size_t i = 0; i < curve.size(); ++i)
      EXPECT_NEAR(curve[i].y, static_cast<double>(full[i] / peak), 1e-12) << v.size() << " " << i;
  }
}

TEST(Descriptive, DensityPointSerialisesWithXAndY) {
  const nlohmann::json j = std::vector<DensityPoint>{{1.5, 0.25}};
  EXPECT_EQ(j.dump(), R"([{"x":1.5,"y":0.25}])");
}

// The mean keeps its digits where the values share many leading ones: R's
// mean (which refines by a second pass in long double) of 1e12 + 0.1, 0.2,
// 0.3 repeated 10,000 times is 1000000000000.2; a plain running sum reaching
// 3e16 rounds to multiples of 4 and gave 1000000000000.1999 or worse.
TEST(Descriptive, MeanAndVarianceAtLargeOffsets) {
  std::vector<double> v;
  for (int i = 0; i < 10000; ++i)
    for (double d : {0.1, 0.2, 0.3}) v.push_back(1e12 + d);
  const double exact = (v[0] + v[1] + v[2] - 3e12) / 3 + 1e12;  // the three doubles' own mean
  EXPECT_NEAR(S::mean(v), exact, 1.3e-4);                       // one unit in the last place
  double plain = 0;
  for (double x : v) plain += x;
  EXPECT_GT(std::fabs(plain / static_cast<double>(v.size()) - exact), 1e-3) << "not ill-conditioned";
  // sd of the doubles: R's sd gives 0.0816497 (0.1, 0.2, 0.3 to 5e-5 each); 1e-3 relative.
  EXPECT_NEAR(S::sdNormal(v), 0.0816497, 1e-3 * 0.0816497);
}

}  // namespace
}  // namespace tabulix
