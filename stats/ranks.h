// Average ranks with their ties, the building block of the tests on ranks and the rank
// correlations.
#pragma once

#include <span>
#include <vector>

namespace tabulix {

// Ranks 1..n of the values (ties get their average rank, as R's rank()) and the sizes of the
// groups of tied values (only groups of two or more).
struct Ranking {
  std::vector<double> ranks;  // in the values' order
  std::vector<double> ties;   // t for each group of t > 1 equal values
  // Σ (t³ − t) over the tie groups, the usual tie correction.
  double tieCubes() const;
};

// The ranking of the values; NaN values must have been removed.
Ranking rankValues(std::span<const double> values);

// Holm's step-down adjustment of p-values (as R's p.adjust(p, "holm")), in the input order.
std::vector<double> holmAdjust(std::span<const double> p);

}  // namespace tabulix
