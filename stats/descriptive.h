// Descriptive statistics of the statistics library: mean, variance, standard
// deviation, moment skewness and kurtosis, percentiles, Pearson correlation,
// a Gaussian kernel density curve and the standard error of a mean.
//
// Every routine is a pure function of its arguments and never throws; where a
// result cannot be formed it returns 0, NaN or an infinity as documented on
// the declaration. Callers remove missing values before the call.
#pragma once

#include <map>
#include <span>
#include <vector>

namespace tabulix {

// One point of a kernel density curve; serialises to JSON as {"x": …, "y": …}.
struct DensityPoint {
  double x = 0;
  double y = 0;

  bool operator==(const DensityPoint&) const = default;

  // nlohmann-json hook, found by argument-dependent lookup; a template so this
  // header does not depend on the JSON library.
  template <class Json>
  friend void to_json(Json& j, const DensityPoint& p) {
    j = Json{{"x", p.x}, {"y", p.y}};
  }
};

class DescriptiveStatistics {
 public:
  // Arithmetic mean, shifted by the first value and summed in compensated blocks; 0 when empty.
  static double mean(std::span<const double> values);
  // Unbiased (n - 1) variance with the rounding-error correction term; 0 when empty, NaN for one value.
  static double variance(std::span<const double> values);
  // Unbiased (n - 1, corrected) or biased (n) variance; 0 for an empty vector.
  static double variance(std::span<const double> values, bool biased);
  // Square root of the unbiased variance.
  static double sdNormal(std::span<const double> values);
  // Moment skewness m3 / v^1.5 with the biased variance v; 0 when empty, NaN when all values are equal.
  static double skewness(std::span<const double> values);
  // Moment kurtosis m4 / v^2 (not excess: about 3 for normal data); 0 when empty, NaN when constant.
  static double kurtosis(std::span<const double> values);
  // Map from each requested percent (0..100) to the percentile of data, interpolated
  // linearly at position (n - 1) p / 100; every percent maps to NaN when data is empty.
  // Duplicate percents share one entry.
  static std::map<double, double> percentiles(std::span<const double> percents, std::span<const double> data);
  // Pearson correlation of x with the first x.size() entries of y; NaN when either is constant
  // (or when y is shorter than x).
  static double correlation(std::span<const double> x, std::span<const double> y);
  // 100 points of a Gaussian kernel density curve (bandwidth sd / 5) on a grid from min - sd
  // towards max + sd, scaled so that the highest point is 1.
  static std::vector<DensityPoint> kdensity(std::span<const double> values, double sd, double min,
                                            double max);
  // Standard error of a mean, sd / sqrt(size).
  static double se(double sd, double size);
  // Standard deviation of a 0/1 variable with proportion p of ones, sqrt(p (1 - p)).
  static double sdBinomial(double p);
};

}  // namespace tabulix
