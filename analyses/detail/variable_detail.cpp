#include "analyses/detail/variable_detail.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analyses/fit.h"
#include "engine/level_order.h"
#include "engine/values.h"
#include "engine/workspace_data.h"
#include "stats/statistics.h"
#include "stats/sums.h"

namespace tabulix {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

VariableType typeOf(const Column& c) {
  int t = c.type.value_or(0);
  return t >= 1 && t <= 4 ? static_cast<VariableType>(t) : VariableType::Unknown;
}

// The one-pass figures of step 2: counts, distinct texts, the values read
// and their extremes (the sums come from a second pass over the values).
struct Pass {
  int64_t obs = 0, n = 0, levels = 0;
  double min = kNaN, max = kNaN;
  std::vector<double> values;  // in cell order
  std::vector<double> sorted;  // the same, ascending
};

Pass onePass(Model& model, const std::vector<Cell>& cells, const TextCounts& counts, VariableType type) {
  Pass p;
  // Levels are the distinct texts counted: all of them for a category,
  // those that read as values otherwise.
  std::vector<bool> level(counts.texts.size(), false);
  p.values.reserve(cells.size());
  const bool textual = type == VariableType::Categorical || type == VariableType::Binary;
  for (size_t k = 0; k < cells.size(); ++k) {
    const int32_t text = counts.ofCell[k];
    if (text < 0) continue;
    ++p.obs;
    if (textual) level[static_cast<size_t>(text)] = true;
    const std::string_view data = counts.texts[static_cast<size_t>(text)];
    std::optional<double> v =
        type == VariableType::DateTime ? dateForString(model, data) : decimalNumberForString(model, data);
    if (!v) continue;
    ++p.n;
    level[static_cast<size_t>(text)] = true;
    p.values.push_back(*v);
    if (p.n == 1) {
      p.min = p.max = *v;
    } else {
      p.min = std::min(p.min, *v);
      p.max = std::max(p.max, *v);
    }
  }
  p.levels = std::count(level.begin(), level.end(), true);
  return p;
}

}  // namespace

VariableDetailResult varDetailForColumn(Model& model, Column& column, const std::vector<int32_t>* rows) {
  VariableDetailResult r;
  VariableType type = typeOf(column);
  std::vector<Cell> cells = cellsForColumn(model, column, {}, rows);
  const TextCounts counts = countTexts(cells);
  TopFrequencies top = topFrequencies(counts, 20);

  // Step 2: the basic figures, from the cache for the whole column when it
  // had to be computed anyway, else from one pass over these cells.
  std::optional<Pass> pass;  // kept: its values are the x of step 4
  int64_t obs = 0, n = 0, levels = 0;
  double mean = kNaN, sd = kNaN, min = kNaN, max = kNaN, pc25 = kNaN, pc50 = kNaN, pc75 = kNaN;
  if (!rows && needCalcBasicStatsForColumn(column)) {
    // Computed into this (worker) Model's record only: workers never write
    // the workspace; the shared model caches figures it computes itself.
    basicStatsForColumn(model, column);
    const bool date = type == VariableType::DateTime;
    obs = column.obs.value_or(0);
    n = date ? column.obsDate.value_or(0) : column.obsNumeric.value_or(0);
    levels = date ? column.levelsDate.value_or(0) : column.levels.value_or(0);
    auto get = [](const OptReal& v) { return v.value_or(kNaN); };
    min = get(date ? column.minDate : column.min);
    max = get(date ? column.maxDate : column.max);
    mean = get(date ? column.meanDate : column.mean);
    sd = get(date ? column.sdDate : column.sd);
    pc25 = get(date ? column.pc25Date : column.pc25);
    pc50 = get(date ? column.pc50Date : column.pc50);
    pc75 = get(date ? column.pc75Date : column.pc75);
  } else {
    Pass p = onePass(model, cells, counts, type);
    pass = std::move(p);
    Pass& q = *pass;
    obs = q.obs;
    n = q.n;
    levels = q.levels;
    min = q.min;
    max = q.max;
    // Two passes, mean first and then the deviations: the one-pass form
    // Σx² − (Σx)²/n cancels catastrophically on values with common leading digits.
    mean = n > 0 ? Statistics::mean(q.values) : kNaN;
    sd = Statistics::sdNormal(q.values);
    static const double quartiles[] = {25, 50, 75};
    q.sorted = q.values;
    std::sort(q.sorted.begin(), q.sorted.end());
    auto pc = Statistics::percentiles(quartiles, q.sorted);
    pc25 = pc[25];
    pc50 = pc[50];
    pc75 = pc[75];
  }
  r.obs = obs;
  r.levels = levels;
  r.top = top;
  if (column.name)
    if (OptText seed = model.metadataValueForKey(randomSeedKey(*column.name))) r.seed = *seed;

  // Step 3: categories, and numbers that never read as numbers.
  if (type == VariableType::Numeric && n == 0) type = VariableType::Categorical;
  if (type != VariableType::Numeric && type != VariableType::DateTime) {
    r.type = type;
    // The charts show the levels in the variable's order.
    r.graphLevels = orderedLevels(model, column, frequenciesOfCells(cells), 10);
    if (type == VariableType::Binary) {
      double share = top.cumulative.empty() ? kNaN : top.cumulative.front();
      r.mean = share;
      r.sd = Statistics::sdBinomial(share);
    }
    return r;
  }
  r.type = type;
  if (type == VariableType::Numeric)
    r.obsNumeric = n;
  else
    r.obsDate = n;

  // Step 4.
  // The values the pass read are x (same cells, same reading); from the
  // cache they are read again.
  std::vector<double> x = pass ? std::move(pass->values) : numericOfCells(model, cells, type);
  HistogramResult hist = histogramOfVector(x, 10, std::array<double, 2>{min, max}, false, true);
  r.graph = std::array<std::vector<double>, 2>{hist.edges, hist.counts};
  std::vector<double> sorted;
  if (pass) {
    sorted = std::move(pass->sorted);
  } else {
    sorted = x;
    std::sort(sorted.begin(), sorted.end());
  }
  const size_t len = sorted.size();
  const double dn = static_cast<double>(len);
  // Filliben's plotting positions.
  std::vector<double> qnorm(len);
  for (size_t i = 0; i < len; ++i)
    qnorm[i] = Statistics::normZForConfidence((static_cast<double>(i + 1) - 0.3175) / (dn + 0.365));
  double slope = 0, intercept = 0;
  if (len > 0) {
    FitResult fit = olsY(sorted, {qnorm}, false);
    const auto& b = fit.coeffs();
    if (b.size() >= 2) {
      slope = std::isnan(b[0]) ? 0 : b[0];
      intercept = b[1];
    }
  }
  if (len > 0) {
    double s = qnorm.back() - qnorm.front();
    double x0 = qnorm.front() - 1.5 * s, x1 = qnorm.back() + 1.5 * s;
    r.qqline = std::array<std::array<double, 2>, 2>{
        std::array<double, 2>{x0, x1}, std::array<double, 2>{slope * x0 + intercept, slope * x1 + intercept}};
  } else {
    r.qqline = std::array<std::array<double, 2>, 2>{};
  }

  const double m = mean;
  // The moments from the deviations of the (shifted, compensated) mean; the
  // mean square as mean² + biased variance, so that it keeps its digits too.
  const CentredSums cs = centredSums(x);
  const double var0 = cs.squares / dn;
  // Identical values have no shape and no spread: the moments' ratio would
  // only measure rounding in the mean.
  const bool constant = len > 0 && sorted.front() == sorted.back();
  r.skew = constant ? kNaN : (cs.cubes / dn) / std::pow(var0, 1.5);
  r.kurtosis = constant ? kNaN : (cs.fourths / dn) / (var0 * var0) - 3;
  r.rms = std::sqrt(m * m + var0);
  r.variance = constant ? 0 : sd * sd;
  r.meanAbsDev = cs.absolute / dn;
  r.range = max - min;
  r.coeffVar = sd / m;
  r.sum = compensatedSum(x);
  r.midrange = min + (max - min) * 0.5;

  const double df = dn - 1;
  const double t = Statistics::tForConfidence(0.025, df);
  const double se = Statistics::se(sd, dn);
  r.ciMean = std::array<double, 2>{m - t * se, m + t * se};
  if (type == VariableType::Numeric) {
    const double cLo = Statistics::chiXForConfidence(0.025, df),
                 cHi = Statistics::chiXForConfidence(0.975, df);
    const double ss = df * sd * sd;
    r.ciVariance = std::array<double, 2>{ss / cHi, ss / cLo};
    r.ciStd = std::array<double, 2>{std::sqrt(ss / cHi), std::sqrt(ss / cLo)};
  }
  r.mode = kNaN;
  if (!top.levels.empty() && top.levels.front() != "Others") {
    auto v = type == VariableType::DateTime ? dateForString(model, top.levels.front())
                                            : decimalNumberForString(model, top.levels.front());
    if (v) r.mode = *v;
  }

  // Box plot: whisker ends at the most extreme values within 1.5 IQR of the quartiles.
  const double iqr = pc75 - pc25, lo = pc25 - 1.5 * iqr, hi = pc75 + 1.5 * iqr;
  double lowerFence = kNaN, upperFence = kNaN;
  for (double v : x)
    if (v >= lo && v <= hi) {
      if (std::isnan(lowerFence) || v < lowerFence) lowerFence = v;
      if (std::isnan(upperFence) || v > upperFence) upperFence = v;
    }
  std::vector<double> outliers;
  for (double v : x)
    if (v < lowerFence || v > upperFence) outliers.push_back(v);
  if (type == VariableType::Numeric) {
    r.shapiro = shapiroWilk(x);
    r.shapiroN = static_cast<int64_t>(x.size());
  }
  r.lower_fence = lowerFence;
  r.upper_fence = upperFence;
  r.outliers = std::move(outliers);

  r.sorted = std::move(sorted);
  r.qnorm = std::move(qnorm);
  r.min = min;
  r.pc25 = pc25;
  r.pc50 = pc50;
  r.pc75 = pc75;
  r.max = max;
  r.mean = m;
  r.sd = sd;
  return r;
}

nlohmann::json toJson(const VariableDetailResult& r, bool vectors) {
  nlohmann::json j = nlohmann::json::object();
  // NaN and infinities have no JSON form: they are written as null.
  auto num = [](double v) { return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(); };
  auto put = [&](const char* key, const std::optional<double>& v) {
    if (v) j[key] = num(*v);
  };
  auto putInt = [&](const char* key, const std::optional<int64_t>& v) {
    if (v) j[key] = *v;
  };
  auto list = [&](const std::vector<double>& v) {
    nlohmann::json a = nlohmann::json::array();
    for (double d : v) a.push_back(num(d));
    return a;
  };
  auto pair = [&](const char* key, const std::optional<std::array<double, 2>>& v) {
    if (v) j[key] = {num((*v)[0]), num((*v)[1])};
  };
  auto freq = [&](const TopFrequencies& f) {
    std::vector<double> counts(f.counts.begin(), f.counts.end());
    return nlohmann::json::array({f.levels, list(counts), list(f.cumulative)});
  };
  j["type"] = static_cast<int>(r.type);
  if (r.top) j["top"] = freq(*r.top);
  if (r.graphLevels) j["graph"] = freq(*r.graphLevels);
  if (r.graph) j["graph"] = {list((*r.graph)[0]), list((*r.graph)[1])};
  if (vectors && r.sorted) j["sorted"] = list(*r.sorted);
  if (vectors && r.qnorm) j["qnorm"] = list(*r.qnorm);
  if (r.qqline)
    j["qqline"] = {{num((*r.qqline)[0][0]), num((*r.qqline)[0][1])},
                   {num((*r.qqline)[1][0]), num((*r.qqline)[1][1])}};
  putInt("obs", r.obs);
  putInt("obsNumeric", r.obsNumeric);
  putInt("obsDate", r.obsDate);
  putInt("levels", r.levels);
  put("min", r.min);
  put("pc25", r.pc25);
  put("pc50", r.pc50);
  put("pc75", r.pc75);
  put("max", r.max);
  put("mean", r.mean);
  put("sd", r.sd);
  put("rms", r.rms);
  put("mode", r.mode);
  put("variance", r.variance);
  put("meanAbsDev", r.meanAbsDev);
  put("range", r.range);
  put("midrange", r.midrange);
  put("coeffVar", r.coeffVar);
  put("skew", r.skew);
  put("kurtosis", r.kurtosis);
  put("sum", r.sum);
  pair("ciMean", r.ciMean);
  pair("ciStd", r.ciStd);
  pair("ciVariance", r.ciVariance);
  put("lower_fence", r.lower_fence);
  put("upper_fence", r.upper_fence);
  if (r.outliers) j["outliers"] = list(*r.outliers);
  if (r.seed) j["seed"] = *r.seed;
  if (r.shapiro) j["shapiro"] = {{"W", num(r.shapiro->W)}, {"p", num(r.shapiro->p)}};
  return j;
}

}  // namespace tabulix
