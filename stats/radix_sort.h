#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tabulix {

// Sorts doubles ascending, NaN last, in linear time (LSD radix on their
// order-preserving bit patterns); -0 comes back as +0.
void radixSort(std::vector<double>& values);

// The positions of values in ascending order, NaN last; equal values keep
// their order (a stable sort), so that sorting by a second key first and
// then by this one orders by both.
std::vector<uint32_t> radixOrder(std::span<const double> values);

// The same, ordering the given positions (a permutation of some positions
// of values) stably by their values.
std::vector<uint32_t> radixOrder(std::span<const double> values, std::vector<uint32_t> positions);

}  // namespace tabulix
