#include "server/variable_cards.h"

#include <cmath>

#include "engine/cell_access.h"
#include "engine/missing_codes.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "engine/variable_type.h"

namespace tabulix::server {

namespace {

CardLine plain(std::string text) {
  CardLine l;
  l.text = std::move(text);
  return l;
}

CardLine heading(std::string text) {
  CardLine l = plain(std::move(text));
  l.heading = true;
  return l;
}

CardLine line(const char* format, const std::string& value) {
  return plain(fillPlaceholders(tr(format), {value}));
}

// Counts are whole numbers: written in full with the locale's grouping
// rather than rounded to four digits.
std::string countText(double n) { return stringFromNumber(n, 15); }

std::string percentText(double share) { return stringFromPercent(share, 1); }

VariableType typeOf(const Column& c) {
  int32_t t = c.type.value_or(0);
  return t >= 1 && t <= 4 ? static_cast<VariableType>(t) : VariableType::Unknown;
}

const char* frequencyHeading(VariableType t) {
  return t == VariableType::Binary ? " Values" : " Frequent Values";
}

}  // namespace

std::string typeLine(int32_t type) {
  switch (type) {
    case 1:
      return tr("Type: Categorical");
    case 2:
      return tr("Type: Binary");
    case 3:
      return tr("Type: Numeric");
    case 4:
      return tr("Type: Date / Time");
    default:
      return tr("Type: Unknown");
  }
}

nlohmann::json toJson(const CardLine& l) {
  nlohmann::json j = {{"text", l.text}};
  if (l.heading) j["heading"] = true;
  if (!l.value.empty() || !l.count.empty()) {
    j["value"] = l.value;
    j["count"] = l.count;
    j["percent"] = l.percent;
  }
  return j;
}

nlohmann::json toJson(const VariableCard& c) {
  nlohmann::json lines = nlohmann::json::array();
  for (const auto& l : c.lines) lines.push_back(toJson(l));
  nlohmann::json j = {{"id", c.id},
                      {"num", c.num},
                      {"name", c.name},
                      {"type", variableTypeKey(c.type)},
                      {"typeLine", c.typeLine},
                      {"lines", lines},
                      {"cached", c.cached}};
  if (!c.label.empty()) j["label"] = c.label;
  if (!c.missingCodes.empty()) j["missingCodes"] = c.missingCodes;
  return j;
}

VariableCard cardFromCache(const Column& c) {
  VariableCard card;
  card.id = c.objectID.rowid;
  card.num = c.num.value_or(0);
  card.name = c.name.value_or("");
  card.label = c.label.value_or("");
  card.missingCodes = storedMissingCodes(c);
  card.type = c.type.value_or(0);
  card.typeLine = typeLine(card.type);
  VariableType type = typeOf(c);
  if (type == VariableType::Unknown) return card;
  card.cached = !needCalcBasicStatsForColumn(c);
  auto opt = [](const auto& v) { return v ? static_cast<double>(*v) : 0.0; };
  if (!card.cached) {
    card.lines.push_back(plain(tr("Calculating...")));
    if (type == VariableType::Numeric || type == VariableType::DateTime) {
      for (const char* t : {"Min: ...", "Max: ...", "Median: ...", "Mean: ..."})
        card.lines.push_back(plain(tr(t)));
    }
    return card;
  }
  switch (type) {
    case VariableType::Categorical:
    case VariableType::Binary:
      card.lines.push_back(line("Observations: %@", countText(opt(c.obs))));
      card.lines.push_back(line("Unique Values: %@", countText(opt(c.levels))));
      card.lines.push_back(heading(tr(frequencyHeading(type))));
      // The frequent values are not cached: the computation fills them in.
      card.lines.push_back(plain(""));
      card.lines.push_back(plain(""));
      break;
    case VariableType::Numeric:
      card.lines.push_back(line("Observations: %@", countText(opt(c.obsNumeric))));
      card.lines.push_back(line("Unique Values: %@", countText(opt(c.levels))));
      card.lines.push_back(line("Min: %@", stringFromNumber(opt(c.min), type)));
      card.lines.push_back(line("Max: %@", stringFromNumber(opt(c.max), type)));
      card.lines.push_back(line("Median: %@", stringFromNumber(opt(c.pc50), type)));
      card.lines.push_back(line("Mean: %@", stringFromNumber(opt(c.mean), type)));
      break;
    case VariableType::DateTime: {
      double range = opt(c.maxDate) - opt(c.minDate);
      card.lines.push_back(line("Observations: %@", countText(opt(c.obsDate))));
      card.lines.push_back(line("Unique Values: %@", countText(opt(c.levelsDate))));
      card.lines.push_back(line("Min: %@", stringFromNumber(opt(c.minDate), type, 4, range)));
      card.lines.push_back(line("Max: %@", stringFromNumber(opt(c.maxDate), type, 4, range)));
      card.lines.push_back(line("Median: %@", stringFromNumber(opt(c.pc50Date), type, 4, range)));
      card.lines.push_back(line("Mean: %@", stringFromNumber(opt(c.meanDate), type, 4, range)));
      break;
    }
    case VariableType::Unknown:
      break;
  }
  return card;
}

ComputedCard computeCard(Model& worker, const Column& column) {
  ComputedCard out;
  std::vector<CardLine>& lines = out.lines;
  VariableType type = typeOf(column);
  if (type == VariableType::Unknown) return out;
  // Figures are computed into a copy: the worker's context never changes,
  // so it never writes, and the shared model applies them.
  Column c = column;
  if (needCalcBasicStatsForColumn(c)) {
    out.stats = dictBasicStatsForColumn(worker, c);
    applyBasicStats(*out.stats, c);
  }
  if (type == VariableType::Categorical || type == VariableType::Binary) {
    double obs = c.obs.value_or(0);
    lines.push_back(line("Observations: %@", countText(obs)));
    lines.push_back(line("Unique Values: %@", countText(c.levels.value_or(0))));
    lines.push_back(heading(tr(frequencyHeading(type))));
    TopFrequencies top = frequenciesOfColumn(worker, c, 3);
    for (size_t i = 0; i < 2; ++i) {
      // A variable with fewer distinct values than the position leaves the line empty.
      if (i >= top.levels.size() || static_cast<int64_t>(i) >= c.levels.value_or(0)) {
        lines.push_back(plain(""));
        continue;
      }
      CardLine l;
      l.value = top.levels[i];
      l.count = countText(static_cast<double>(top.counts[i]));
      l.percent = obs > 0 ? percentText(static_cast<double>(top.counts[i]) / obs) : "";
      l.text = l.value + ": " + l.count + (l.percent.empty() ? "" : " (" + l.percent + ")");
      lines.push_back(std::move(l));
    }
    return out;
  }
  StatList stats = cachedStatsForColumn(c);
  auto get = [&](const char* key) {
    for (const auto& [k, v] : stats)
      if (k == key) return v;
    return 0.0;
  };
  auto value = [&](const char* key) {
    return type == VariableType::DateTime ? stringFromNumber(get(key), VariableType::DateTime)
                                          : stringFromNumber(get(key));
  };
  lines.push_back(
      line("Observations: %@", countText(get(type == VariableType::DateTime ? "obsDate" : "obsNumeric"))));
  lines.push_back(line("Unique Values: %@", countText(get("levels"))));
  lines.push_back(line("Min: %@", value("min")));
  lines.push_back(line("Max: %@", value("max")));
  lines.push_back(line("Median: %@", value("pc50")));
  lines.push_back(line("Mean: %@", value("mean")));
  return out;
}

void applyComputedStats(Model& shared, int64_t columnId, const BasicStats& stats) {
  Column* c = shared.context().existingColumn({Entity::Column, columnId});
  if (!c || !needCalcBasicStatsForColumn(*c)) return;
  applyBasicStats(stats, *c);
  shared.saveContext();
}

}  // namespace tabulix::server
