#include "derive/recode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "engine/cell_access.h"
#include "engine/level_order.h"
#include "engine/number_format.h"
#include "engine/number_reading.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"
#include "textio/plain_number.h"

namespace tabulix {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const char* methodName(RecodeMethod m) {
  switch (m) {
    case RecodeMethod::Breaks:
      return "breaks";
    case RecodeMethod::Bins:
      return "bins";
    case RecodeMethod::Quantiles:
      return "quantiles";
    case RecodeMethod::Map:
      return "map";
  }
  return "";
}

// x rounded to `digits` significant digits, as R's signif(): through the
// shortest correctly rounded decimal text.
double significant(double x, int digits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", digits, x);
  return std::strtod(buf, nullptr);
}

bool isNumericMethod(RecodeMethod m) { return m != RecodeMethod::Map; }

}  // namespace

nlohmann::json toJson(const RecodeDefinition& d) {
  nlohmann::json j = {{"method", methodName(d.method)}};
  if (d.method == RecodeMethod::Breaks) j["breaks"] = d.breaks;
  if (d.method == RecodeMethod::Bins || d.method == RecodeMethod::Quantiles) j["groups"] = d.groups;
  if (d.method == RecodeMethod::Map) {
    nlohmann::json m = nlohmann::json::array();
    for (const auto& [from, to] : d.mapping) m.push_back({from, to});
    j["map"] = m;
  }
  if (!d.labels.empty()) j["labels"] = d.labels;
  return j;
}

RecodeDefinition recodeDefinitionFromJson(const nlohmann::json& j) {
  RecodeDefinition d;
  try {
    const std::string method = j.at("method").get<std::string>();
    if (method == "breaks") {
      d.method = RecodeMethod::Breaks;
      d.breaks = j.at("breaks").get<std::vector<double>>();
    } else if (method == "bins" || method == "quantiles") {
      d.method = method == "bins" ? RecodeMethod::Bins : RecodeMethod::Quantiles;
      d.groups = j.at("groups").get<uint32_t>();
    } else if (method == "map") {
      d.method = RecodeMethod::Map;
      for (const auto& pair : j.at("map"))
        d.mapping.push_back({pair.at(0).get<std::string>(), pair.at(1).get<std::string>()});
    } else {
      throw RecodeError("method: unknown method \"" + method + "\" (breaks, bins, quantiles or map)");
    }
    if (j.contains("labels")) d.labels = j.at("labels").get<std::vector<std::string>>();
  } catch (const nlohmann::json::exception& e) {
    throw RecodeError(std::string("the recoding is not readable: ") + e.what());
  }
  return d;
}

std::string recodeDefinitionKey(std::string_view variableName) {
  return "recode:" + std::string(variableName);
}

double quantileType7(const std::vector<double>& sorted, double p) {
  const size_t n = sorted.size();
  if (n == 0) return kNaN;
  const double h = static_cast<double>(n - 1) * p;
  const size_t lo = static_cast<size_t>(std::floor(h));
  if (lo + 1 >= n) return sorted[n - 1];
  return sorted[lo] + (h - static_cast<double>(lo)) * (sorted[lo + 1] - sorted[lo]);
}

std::vector<double> recodeCutPoints(const RecodeDefinition& d, const std::vector<double>& sorted) {
  if (d.method == RecodeMethod::Breaks) {
    if (d.breaks.empty()) throw RecodeError("--breaks: give at least one break");
    for (size_t i = 0; i < d.breaks.size(); ++i) {
      if (!std::isfinite(d.breaks[i])) throw RecodeError("--breaks: every break must be a finite number");
      if (i > 0 && !(d.breaks[i - 1] < d.breaks[i]))
        throw RecodeError("--breaks: the breaks must increase (" + plainDecimalText(d.breaks[i - 1]) +
                          " then " + plainDecimalText(d.breaks[i]) + ")");
    }
    return d.breaks;
  }
  const char* option = d.method == RecodeMethod::Bins ? "--bins" : "--quantiles";
  if (d.groups < 2 || d.groups > kMaxRecodeGroups)
    throw RecodeError(std::string(option) + ": give a number of groups from 2 to " +
                      std::to_string(kMaxRecodeGroups));
  if (sorted.empty()) throw RecodeError(std::string(option) + ": the variable has no numeric values");
  const double lo = sorted.front(), hi = sorted.back();
  if (!(lo < hi)) throw RecodeError(std::string(option) + ": every value is " + plainDecimalText(lo));
  std::vector<double> cuts;
  const double k = d.groups;
  if (d.method == RecodeMethod::Bins) {
    // Readable edges: the fewest significant digits, from 3, that keep the
    // edges distinct and inside (min, max].
    for (int digits = 3; digits <= 17; ++digits) {
      cuts.clear();
      for (uint32_t i = 1; i < d.groups; ++i) cuts.push_back(significant(lo + (hi - lo) * (i / k), digits));
      bool ok = cuts.front() > lo && cuts.back() <= hi;
      for (size_t i = 1; ok && i < cuts.size(); ++i) ok = cuts[i - 1] < cuts[i];
      if (ok) break;
    }
  } else {
    for (uint32_t i = 1; i < d.groups; ++i) {
      double q = quantileType7(sorted, i / k);
      // Tied quantiles make one cut, and a cut at the minimum would leave
      // the first group empty: heavily tied data gives fewer groups.
      if (q > lo && (cuts.empty() || q > cuts.back())) cuts.push_back(q);
    }
    if (cuts.empty()) throw RecodeError(std::string(option) + ": the values are too tied to form groups");
  }
  return cuts;
}

std::vector<std::string> intervalLabels(const std::vector<double>& cuts) {
  std::vector<std::string> out;
  if (cuts.empty()) return out;
  out.push_back("< " + plainDecimalText(cuts.front()));
  for (size_t i = 1; i < cuts.size(); ++i)
    out.push_back("[" + plainDecimalText(cuts[i - 1]) + ", " + plainDecimalText(cuts[i]) + ")");
  out.push_back("\u2265 " + plainDecimalText(cuts.back()));
  return out;
}

size_t groupOfValue(const std::vector<double>& cuts, double x) {
  return static_cast<size_t>(std::upper_bound(cuts.begin(), cuts.end(), x) - cuts.begin());
}

RecodedColumn recodeColumnValues(Model& model, const Column& x, const RecodeDefinition& d) {
  RecodedColumn out;
  Context& ctx = model.context();
  std::vector<std::string> texts;
  if (x.num)
    forEachValueOfColumn(model, x, nullptr, [&](int32_t rowNum, std::optional<std::string_view> text) {
      out.values.rowNums.push_back(rowNum);
      texts.emplace_back(text.value_or(std::string_view()));
    });
  ctx.releaseCellMemory();
  const size_t n = texts.size();
  std::vector<Cell> cells(n);

  if (isNumericMethod(d.method)) {
    if (x.type != static_cast<int32_t>(VariableType::Numeric))
      throw RecodeError("--x: \"" + x.name.value_or("") + "\" is not Numeric: breaks, bins and quantiles " +
                        "need numbers (map its values instead)");
    const NumberReaders& readers = model.numberReaders();
    std::vector<double> xs(n, kNaN);
    for (size_t i = 0; i < n; ++i)
      if (!texts[i].empty())
        if (auto v = readers.decimalNumberForString(texts[i]); v && std::isfinite(*v)) xs[i] = *v;
    std::vector<double> sorted;
    for (double v : xs)
      if (!std::isnan(v)) sorted.push_back(v);
    std::sort(sorted.begin(), sorted.end());
    std::vector<double> cuts = recodeCutPoints(d, sorted);
    out.levels = intervalLabels(cuts);
    if (!d.labels.empty()) {
      if (d.labels.size() != out.levels.size())
        throw RecodeError("--labels: " + std::to_string(d.labels.size()) + " labels for " +
                          std::to_string(out.levels.size()) + " groups");
      std::unordered_set<std::string> seen;
      for (const std::string& l : d.labels)
        if (l.empty() || !seen.insert(l).second)
          throw RecodeError("--labels: each label must be given once and not be empty (\"" + l + "\")");
      out.levels = d.labels;
    }
    out.counts.assign(out.levels.size(), 0);
    for (size_t i = 0; i < n; ++i) {
      if (std::isnan(xs[i])) {
        cells[i].data = std::string();
        ++out.missing;
        continue;
      }
      size_t g = groupOfValue(cuts, xs[i]);
      cells[i].data = out.levels[g];
      ++out.counts[g];
    }
  } else {
    if (d.mapping.empty()) throw RecodeError("--map: give at least one OLD=NEW");
    if (!d.labels.empty()) throw RecodeError("--labels: a mapping names its labels itself");
    std::unordered_map<std::string, std::string> to;
    std::vector<std::string> order;
    for (const auto& [from, label] : d.mapping) {
      if (from.empty()) throw RecodeError("--map: an old value cannot be empty");
      if (!to.emplace(from, label).second) throw RecodeError("--map: \"" + from + "\" is mapped twice");
      if (!label.empty() && std::find(order.begin(), order.end(), label) == order.end())
        order.push_back(label);
    }
    std::map<std::string, int64_t> counts;
    for (size_t i = 0; i < n; ++i) {
      // Values not mapped keep their text; a value mapped to "" is missing.
      auto it = to.find(texts[i]);
      std::string text = it != to.end() ? it->second : texts[i];
      if (text.empty())
        ++out.missing;
      else
        ++counts[text];
      cells[i].data = std::move(text);
    }
    // The new labels in the mapping's order, the other texts after them in
    // the default order of a Categorical variable.
    Column shape;
    shape.type = static_cast<int32_t>(VariableType::Categorical);
    setStoredLevelOrder(shape, order);
    for (auto& [text, count] : counts) out.levels.push_back(text);
    sortLevels(model, shape, out.levels);
    for (const std::string& l : out.levels) out.counts.push_back(counts[l]);
  }
  out.values.stats = basicStatsForCells(model, cells);
  out.values.texts.resize(n);
  for (size_t i = 0; i < n; ++i) out.values.texts[i] = std::move(*cells[i].data);
  return out;
}

Column* applyRecodedColumn(Model& model, std::string_view name, const RecodedColumn& values,
                           const RecodeDefinition& d, std::string_view sourceName) {
  // The derived column, its type, levels and definition are one step.
  StepScope step(model.context(),
                 fillPlaceholders(tr("recode %@ into %@"), {std::string(sourceName), std::string(name)}));
  Column* column = applyDerivedColumn(model, name, values.values);
  // Groups are categories whatever their texts look like, in their order.
  column->type = static_cast<int32_t>(VariableType::Categorical);
  setStoredLevelOrder(*column, values.levels);
  nlohmann::json kept = toJson(d);
  kept["x"] = std::string(sourceName);
  model.setMetadataValue(kept.dump(), recodeDefinitionKey(name));
  model.saveContext();
  return column;
}

}  // namespace tabulix
