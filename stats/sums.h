// Accurate sums for the statistics that report means, sums and sums of squares.
//
// Data that share many leading digits (1e12 offsets, timestamps, 123456789.000…009) lose their
// information in a plain running sum: the total outgrows the differences between the values and
// rounds them away. Every routine here shifts the data by its first value, which is exact for
// values within a factor two of it (Sterbenz's lemma) and nearly so otherwise, and sums with
// Neumaier's compensation, so that the mean carries the digits the doubles themselves hold.
#pragma once

#include <cmath>
#include <cstddef>
#include <span>

namespace tabulix {

// Neumaier's improvement of Kahan's compensated summation: the rounding error of each addition is
// kept in a second accumulator, whichever of the two addends is the larger.
class CompensatedSum {
 public:
  // Adds one term.
  void add(double v) {
    const double t = sum_ + v;
    if (std::fabs(sum_) >= std::fabs(v))
      c_ += (sum_ - t) + v;
    else
      c_ += (v - t) + sum_;
    sum_ = t;
  }
  // The compensated total.
  double value() const { return sum_ + c_; }

 private:
  double sum_ = 0;
  double c_ = 0;
};

// Compensated sum of the values.
inline double compensatedSum(std::span<const double> values) {
  CompensatedSum s;
  for (double v : values) s.add(v);
  return s.value();
}

// Σ (x − shift), blocked: within a block of 256 values four independent partial sums (which the
// processor overlaps, so the loop runs faster than one serial sum), the block totals added with
// Neumaier's compensation. The error is that of pairwise summation, on differences that the
// shift has made small.
inline double shiftedSum(std::span<const double> values, double shift) {
  constexpr std::size_t kBlock = 256;
  CompensatedSum total;
  const std::size_t n = values.size();
  const double* x = values.data();
  for (std::size_t start = 0; start < n; start += kBlock) {
    const std::size_t end = start + kBlock < n ? start + kBlock : n;
    double a0 = 0, a1 = 0, a2 = 0, a3 = 0;
    std::size_t i = start;
    for (; i + 4 <= end; i += 4) {
      a0 += x[i] - shift;
      a1 += x[i + 1] - shift;
      a2 += x[i + 2] - shift;
      a3 += x[i + 3] - shift;
    }
    for (; i < end; ++i) a0 += x[i] - shift;
    total.add((a0 + a1) + (a2 + a3));
  }
  return total.value();
}

// Σ (x − m) without the rounding of the subtractions: each difference's error comes from Knuth's
// TwoSum and is added to the compensated total, so that the sum is accurate even when it is far
// smaller than the differences themselves.
inline double residualSum(std::span<const double> values, double m) {
  CompensatedSum total;
  double errors = 0;
  for (double x : values) {
    const double d = x - m;
    const double back = d - x;
    errors += (x - (d - back)) + (-m - back);
    total.add(d);
  }
  return total.value() + errors;
}

// The mean as shift + Σ (x − shift) / n with the first value as the shift, then one refinement
// m + Σ (x − m) / n with the residuals summed exactly: the first division and addition each round
// (1, 2, 4 would give one unit in the last place below 7/3), the refinement gives the nearest
// double to the true mean. 0 when empty.
inline double shiftedMean(std::span<const double> values) {
  if (values.empty()) return 0;
  const double n = static_cast<double>(values.size());
  const double shift = values.front();
  const double mean = shift + shiftedSum(values, shift) / n;
  const double refined = mean + residualSum(values, mean) / n;
  return std::isfinite(refined) ? refined : mean;
}

// The mean of the values and the sums of their centred powers, from two passes in the shifted
// space: y = x − x₀ (exact, see above), its compensated mean ȳ, then the deviations y − ȳ. The
// mean x₀ + ȳ may not be representable (123456789 plus two ninths of a unit in the last place),
// but ȳ is, so the deviations, unlike x − mean, keep the data's spread.
struct CentredSums {
  double n = 0;
  double mean = 0;
  double squares = 0;   // Σ (x − mean)², corrected by the deviations' sum
  double cubes = 0;     // Σ (x − mean)³
  double fourths = 0;   // Σ (x − mean)⁴
  double absolute = 0;  // Σ |x − mean|
};

// The centred sums of the values; every field 0 when empty.
inline CentredSums centredSums(std::span<const double> values) {
  CentredSums c;
  if (values.empty()) return c;
  c.n = static_cast<double>(values.size());
  const double shift = values.front();
  const double shifted = shiftedSum(values, shift) / c.n;
  c.mean = shift + shifted;
  CompensatedSum dev, sq, cu, fo, ab;
  for (double v : values) {
    const double d = (v - shift) - shifted;
    const double d2 = d * d;
    dev.add(d);
    sq.add(d2);
    cu.add(d2 * d);
    fo.add(d2 * d2);
    ab.add(std::fabs(d));
  }
  const double e = dev.value();
  c.squares = sq.value() - e * e / c.n;
  if (c.squares < 0) c.squares = 0;
  c.cubes = cu.value();
  c.fourths = fo.value();
  c.absolute = ab.value();
  return c;
}

}  // namespace tabulix
