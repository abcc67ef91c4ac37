// Recoding into categories: a new Categorical variable whose groups come
// from a Numeric variable's values cut at breaks (given, equal-width bins or
// quantile groups) or from any variable's texts mapped to new labels.
//
// Like a derived variable the cells are computed on a worker Model
// (recodeColumnValues only reads) and added by the Model that owns the
// workspace (applyRecodedColumn), which also keeps the definition so that
// the variable can be recomputed the same way.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "derive/derive.h"

namespace tabulix {

// A definition that cannot be applied: the message names the option or value.
struct RecodeError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// How the groups are formed.
enum class RecodeMethod { Breaks, Bins, Quantiles, Map };

// What the user asked for.
struct RecodeDefinition {
  RecodeMethod method = RecodeMethod::Breaks;
  std::vector<double> breaks;                                // Breaks: ascending, distinct
  uint32_t groups = 0;                                       // Bins, Quantiles: 2 or more
  std::vector<std::pair<std::string, std::string>> mapping;  // Map: old text -> new label
  std::vector<std::string> labels;                           // optional names of the groups
};

// The most groups bins and quantiles make.
inline constexpr uint32_t kMaxRecodeGroups = 100;

// The definition as stored with the variable, and back (throws RecodeError
// on a damaged value).
nlohmann::json toJson(const RecodeDefinition& d);
RecodeDefinition recodeDefinitionFromJson(const nlohmann::json& j);
// The metadata key under which a recoded variable's definition is kept.
std::string recodeDefinitionKey(std::string_view variableName);

// The sample quantile of sorted values at probability p, Hyndman and Fan's
// type 7 (R's default): linear between the order statistics at (n-1)p.
double quantileType7(const std::vector<double>& sorted, double p);

// The cut points of a numeric definition for these finite values: the
// breaks as given; for K bins the K-1 inner edges of equal-width bins over
// [min, max], rounded to the fewest significant digits (3 at least) that
// keep them distinct; for K quantile groups the type 7 quantiles at i/K
// exactly (rounding them would move values across a cut), ties merged. Throws RecodeError when there are
// no values or they are all equal.
std::vector<double> recodeCutPoints(const RecodeDefinition& d, const std::vector<double>& sortedValues);

// The group names for cut points b1 < ... < bk: "< b1", "[b1, b2)", ...,
// "≥ bk", the numbers in plain decimal with a point.
std::vector<std::string> intervalLabels(const std::vector<double>& cuts);

// The group of x among the cut points, as R's cut(x, c(-Inf, cuts, Inf),
// right = FALSE): the number of cut points at or below x.
size_t groupOfValue(const std::vector<double>& cuts, double x);

// The new variable's cells with its groups in order and their counts.
struct RecodedColumn {
  DerivedColumn values;
  std::vector<std::string> levels;  // in the new variable's order
  std::vector<int64_t> counts;      // per level
  int64_t missing = 0;              // rows without a group
};

// Computes the recoded cells for every row of x; only reads the store.
// Throws RecodeError when the definition does not fit x (a numeric method
// on a variable that is not Numeric, labels that do not match the groups).
RecodedColumn recodeColumnValues(Model& model, const Column& x, const RecodeDefinition& d);

// Adds the recoded column as a derived one, Categorical, with its groups'
// order and the definition kept under recodeDefinitionKey, and saves.
Column* applyRecodedColumn(Model& model, std::string_view name, const RecodedColumn& values,
                           const RecodeDefinition& d, std::string_view sourceName);

}  // namespace tabulix
