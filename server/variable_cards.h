// The cards of the Variables screen: each variable's type line and summary
// lines, first from the cached statistics, then from a fresh computation.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "engine/cell_access.h"
#include "engine/model.h"

namespace tabulix::server {

// One summary line of a card. A frequency line also carries its value, count
// and share so that the page can lay them out in columns.
struct CardLine {
  std::string text;
  bool heading = false;
  std::string value, count, percent;  // frequency lines only
};

// What a card shows for one variable.
struct VariableCard {
  int64_t id = 0;  // the column's stored identity
  int32_t num = 0;
  std::string name;
  std::string label;                      // the variable label of a statistical file; empty for none
  std::vector<std::string> missingCodes;  // the texts declared missing in it
  int32_t type = 0;
  std::string typeLine;
  std::vector<CardLine> lines;
  bool cached = false;  // filled from complete cached statistics
};

nlohmann::json toJson(const CardLine& line);
nlohmann::json toJson(const VariableCard& card);

// The card as drawn at once: from the cache when the cached statistics are
// complete, else with "Calculating..." and placeholder figures.
VariableCard cardFromCache(const Column& column);

// A card computed afresh, and the statistics the shared model is to cache
// when the column's cache was incomplete.
struct ComputedCard {
  std::vector<CardLine> lines;
  std::optional<BasicStats> stats;
};

// The card's lines computed afresh on a worker, with its own Model whose
// context holds `column`. The worker only reads: a column whose cache lacks
// figures has them computed into a copy, and the figures come back in
// `stats` for the shared model to apply (applyComputedStats) under its lock.
// Categorical and binary variables list their two most frequent values.
ComputedCard computeCard(Model& worker, const Column& column);

// Caches statistics a worker computed on the shared model's column and
// saves, unless the column has complete figures by now. Call it inside
// SharedModel::run.
void applyComputedStats(Model& shared, int64_t columnId, const BasicStats& stats);

// The type line of a type code: "Type: Categorical" … "Type: Unknown".
std::string typeLine(int32_t type);

}  // namespace tabulix::server
