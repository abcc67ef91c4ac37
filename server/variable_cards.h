// The cards of the Variables screen: each variable's type line and summary
// lines, first from the cached statistics, then from a fresh computation.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

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

// The card's lines computed afresh (on a worker, with its own Model whose
// context holds `column`): categorical and binary variables refresh the cache
// when needed and list their two most frequent values; numeric and date
// variables always go through retrieveBasicStatsForColumn.
std::vector<CardLine> computedCardLines(Model& model, Column& column);

// The type line of a type code: "Type: Categorical" … "Type: Unknown".
std::string typeLine(int32_t type);

}  // namespace tabulix::server
