#include "derive/derive.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <random>

#include "engine/cell_access.h"
#include "engine/number_format.h"
#include "engine/number_reading.h"
#include "engine/translate.h"
#include "engine/values.h"
#include "engine/workspace_data.h"
#include "stats/statistics.h"
#include "textio/plain_number.h"

namespace tabulix {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool isDigit(char ch) { return ch >= '0' && ch <= '9'; }

// The decimal separator cell texts of this workspace are read with: the one
// recorded for the workspace, else the device's.
char workspaceDecimalSeparator(Model& model) {
  // Only this Model's own context is asked: a worker must not look at the
  // coordinator, which the shared Model may be re-attaching meanwhile.
  OptText sep = model.context().isAttached() ? model.metadataValueForKey("decimalSeparator") : std::nullopt;
  return (sep ? *sep : deviceDecimalSeparator()) == "," ? ',' : '.';
}

}  // namespace

const std::vector<Transformation>& transformations() {
  static const std::vector<Transformation> all = {
      {300, 0, "log(x)", true, false, false, "%@ = log(%@)",
       "Note: log(x) produces missing values for x <= 0"},
      {301, 0, "log(x+1)", true, false, false, "%@ = log(%@+1)",
       "Note: log(x+1) produces missing values for x <= -1"},
      {306, 0, "ln(x)", true, false, false, "%@ = ln(%@)", "Note: ln(x) produces missing values for x <= 0"},
      {307, 0, "ln(x+1)", true, false, false, "%@ = ln(%@+1)",
       "Note: ln(x+1) produces missing values for x <= -1"},
      {338, 0, "|x|", true, false, false, "%@ = |x|", ""},
      {308, 0, "xⁿ", true, false, true, "%@ = %@^%@", ""},
      {303, 0, "sqrt(x)", true, false, false, "%@ = sqrt(%@)",
       "Note: sqrt(x) produces missing values for x < 0"},
      {304, 0, "arcsin(x)", true, false, false, "%@ = arcsin(%@)",
       "Note: arcsin(x) produces missing values for x < -1 and x > 1"},
      {309, 1, "x+c", true, false, true, "%@ = %@ + %@", ""},
      {310, 1, "x-c", true, false, true, "%@ = %@ - %@", ""},
      {311, 1, "x/c", true, false, true, "%@ = %@ / %@", "Constant must not be zero"},
      {312, 1, "x*c", true, false, true, "%@ = %@ * %@", ""},
      {313, 1, "(x+c)/2", true, false, true, "%@ = (%@ + %@) / 2", ""},
      {314, 1, "min(x,c)", true, false, true, "%@ = min(%@,%@)", ""},
      {315, 1, "max(x,c)", true, false, true, "%@ = max(%@,%@)", ""},
      {316, 2, "x+y", true, true, false, "%@ = %@ + %@", ""},
      {317, 2, "x-y", true, true, false, "%@ = %@ - %@", ""},
      {318, 2, "x/y", true, true, false, "%@ = %@ / %@", ""},
      {319, 2, "x*y", true, true, false, "%@ = %@ * %@", ""},
      {320, 2, "(x+y)/2", true, true, false, "%@ = (%@ + %@) / 2", ""},
      {321, 2, "min(x,y)", true, true, false, "%@ = min(%@,%@)", ""},
      {322, 2, "max(x,y)", true, true, false, "%@ = max(%@,%@)", ""},
      {339, 3, "rescale(x)", true, false, false, "%@ = (%@ - min)/(max - min)",
       "Scales variable to the unit vector [0,1]"},
      {327, 3, "Z(x)", true, false, false, "%@ = (%@ - mean) / std dev",
       "Centers distribution on mean and scales by standard deviation"},
      {329, 4, "x==c", true, false, true, "%@ = (%@==%@)", ""},
      {330, 4, "x>=c", true, false, true, "%@ = %@>=%@", ""},
      {331, 4, "x>c", true, false, true, "%@ = %@>%@", ""},
      {332, 4, "x<=c", true, false, true, "%@ = %@<=%@", ""},
      {333, 4, "x<c", true, false, true, "%@ = %@<%@", ""},
      {340, 4, "x≠c", true, false, true, "%@ = (%@≠%@)", ""},
      {334, 5, "c", false, false, true, "%@ = %@", ""},
      {335, 5, "rand(0,1)", false, false, false, "%@ = rand(0,1)",
       "Gives random values between zero and one"},
      {336, 5, "rand(0,c)", false, false, true, "%@ = rand(0,%@)", "Gives random values between zero and c"},
      {337, 5, "norm(0,1)", false, false, false, "%@ = norm(0,1)",
       "Gives normally distributed random values with mean zero and standard deviation one"},
  };
  return all;
}

const Transformation* transformationForCode(uint32_t code) {
  for (const auto& t : transformations())
    if (t.code == code) return &t;
  return nullptr;
}

const Transformation* transformationForLabel(std::string_view label) {
  for (const auto& t : transformations())
    if (label == t.label) return &t;
  return nullptr;
}

const std::array<const char*, 6>& categoryTitles() {
  static const std::array<const char*, 6> titles = {"Derive from one variable",
                                                    "Derive from variable and constant",
                                                    "Derive from two variables",
                                                    "Recode variable's distribution",
                                                    "Logical",
                                                    "Generate"};
  return titles;
}

double normalFromUniform(double u) {
  constexpr double a = 0.140012;
  const double sign = u < 0.5 ? -std::sqrt(2.0) : std::sqrt(2.0);
  const double v = 2 * u - 1;
  const double L = std::log(1 - v * v);
  const double t = 4.54689435453805 + L / 2;  // 2 / (pi a) + L / 2
  return sign * std::sqrt(std::sqrt(t * t - L / a) - t);
}

double randomNormal() { return normalFromUniform(Statistics::randomUniform()); }

ValueFunction valueFunctionForCode(uint32_t code, const XFigures& f) {
  // IEEE arithmetic gives the missing-value rules: NaN operands propagate,
  // fmin/fmax return the other operand, and every comparison with NaN is
  // false (so x != c, written as the negation of x == c, is 1).
  switch (code) {
    case 300:
      return [](double x, double, double) { return std::log10(x); };
    case 301:
      return [](double x, double, double) { return std::log10(x + 1); };
    case 306:
      return [](double x, double, double) { return std::log(x); };
    case 307:
      return [](double x, double, double) { return std::log(x + 1); };
    case 338:
      return [](double x, double, double) { return std::fabs(x); };
    case 308:
      return [](double x, double, double c) { return std::pow(x, c); };
    case 303:
      return [](double x, double, double) { return std::sqrt(x); };
    case 304:
      return [](double x, double, double) { return std::asin(x); };
    case 309:
      return [](double x, double, double c) { return x + c; };
    case 310:
      return [](double x, double, double c) { return x - c; };
    case 311:
      return [](double x, double, double c) { return x / c; };
    case 312:
      return [](double x, double, double c) { return x * c; };
    case 313:
      return [](double x, double, double c) { return (x + c) * 0.5; };
    case 314:
      return [](double x, double, double c) { return std::fmin(x, c); };
    case 315:
      return [](double x, double, double c) { return std::fmax(x, c); };
    case 316:
      return [](double x, double y, double) { return x + y; };
    case 317:
      return [](double x, double y, double) { return x - y; };
    case 318:
      return [](double x, double y, double) { return x / y; };
    case 319:
      return [](double x, double y, double) { return x * y; };
    case 320:
      return [](double x, double y, double) { return (x + y) * 0.5; };
    case 321:
      return [](double x, double y, double) { return std::fmin(x, y); };
    case 322:
      return [](double x, double y, double) { return std::fmax(x, y); };
    case 339: {
      double lo = f.min, range = f.max - f.min;
      return [lo, range](double x, double, double) { return (x - lo) / range; };
    }
    case 327: {
      double mean = f.mean, sd = f.sd;
      return [mean, sd](double x, double, double) { return (x - mean) / sd; };
    }
    case 329:
      return [](double x, double, double c) { return x == c ? 1.0 : 0.0; };
    case 330:
      return [](double x, double, double c) { return x >= c ? 1.0 : 0.0; };
    case 331:
      return [](double x, double, double c) { return x > c ? 1.0 : 0.0; };
    case 332:
      return [](double x, double, double c) { return x <= c ? 1.0 : 0.0; };
    case 333:
      return [](double x, double, double c) { return x < c ? 1.0 : 0.0; };
    case 340:
      return [](double x, double, double c) { return x == c ? 0.0 : 1.0; };
    case 334:
      return [](double, double, double c) { return c; };
    case 335:
    case 336:
    case 337:
      return valueFunctionForCode(code, f, freshRandomSeed());
    default:
      return [](double, double, double) { return kNaN; };
  }
}

bool drawsRandomNumbers(uint32_t code) { return code >= 335 && code <= 337; }

uint64_t freshRandomSeed() {
  std::random_device device;
  return (static_cast<uint64_t>(device()) << 32) ^ device();
}

ValueFunction valueFunctionForCode(uint32_t code, const XFigures& f, uint64_t seed) {
  if (!drawsRandomNumbers(code)) return valueFunctionForCode(code, f);
  // One 64-bit Mersenne Twister per derivation; a uniform draw takes the top
  // 53 bits, strictly inside (0, 1) so that the normal's inverse stays finite.
  auto engine = std::make_shared<std::mt19937_64>(seed);
  auto uniform = [engine] { return (static_cast<double>((*engine)() >> 11) + 0.5) * 0x1p-53; };
  switch (code) {
    case 335:
      return [uniform](double, double, double) { return uniform(); };
    case 336:
      return [uniform](double, double, double c) { return uniform() * c; };
    default:
      return [uniform](double, double, double) { return normalFromUniform(uniform()); };
  }
}

std::string deriveStatus(Model& model, const DeriveRequest& r) {
  if (r.nameNewVar.empty()) return tr("Please provide a name for the new variable");
  if (!nameIsValid(model, r.nameNewVar))
    return fillPlaceholders(tr("Another variable already exists with the name %@"), {r.nameNewVar});
  const Transformation* t = transformationForCode(r.equation);
  bool usesX = t && t->usesX, usesY = t && t->usesY, usesC = t && t->usesC;
  if ((usesX && !r.column) || (usesY && !r.columnY)) return tr("Please select a variable to transform");
  if (r.equation == 311 && r.scalarC && *r.scalarC == 0) return tr("Make constant non-zero for division");
  if (usesC && !r.scalarC) return tr("Please enter a numerical constant");
  return "";
}

std::string proposedName(Model& model) {
  for (unsigned i = 1; i < 500; ++i) {
    std::string name = "Var" + std::to_string(i);
    if (nameIsValid(model, name)) return name;
  }
  return "Var500";
}

std::string previewLine(const DeriveRequest& r) {
  const Transformation* t = transformationForCode(r.equation);
  if (!t) return "";
  std::vector<std::string> args = {r.nameNewVar.empty() ? std::string("x") : r.nameNewVar};
  if (t->usesX) args.push_back(r.column && r.column->name ? *r.column->name : "x");
  if (t->usesY) args.push_back(r.columnY && r.columnY->name ? *r.columnY->name : "y");
  if (t->usesC) args.push_back(r.scalarC ? plainDecimalText(*r.scalarC) : "c");
  return fillPlaceholders(tr(t->preview), args);
}

std::optional<double> readConstant(std::string_view text) {
  // [+|-] (digits [. digits] | . digits) [(e|E) [+|-] digits], nothing else.
  size_t i = 0, n = text.size();
  std::string plain;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') plain += '-';
    ++i;
  }
  size_t intDigits = 0, fracDigits = 0;
  for (; i < n && isDigit(text[i]); ++i, ++intDigits) plain += text[i];
  if (i < n && text[i] == '.') {
    plain += '.';
    for (++i; i < n && isDigit(text[i]); ++i, ++fracDigits) plain += text[i];
  }
  if (intDigits + fracDigits == 0) return std::nullopt;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    plain += 'e';
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) plain += text[i++];
    size_t expDigits = 0;
    for (; i < n && isDigit(text[i]); ++i, ++expDigits) plain += text[i];
    if (expDigits == 0) return std::nullopt;
  }
  if (i != n) return std::nullopt;
  double v = 0;
  auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), v);
  if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

XFigures xFiguresForColumn(Model& model, const Column* x) {
  if (!x) return {};
  if (x->min && x->max && x->mean && x->sd) return {*x->min, *x->max, *x->mean, *x->sd};
  // Without cached figures (a variable never summarised) they are computed
  // here, read-only: the cache belongs to the Model that owns the workspace.
  BasicStats s = dictBasicStatsForColumn(model, *x);
  return {s.min.value_or(kNaN), s.max.value_or(kNaN), s.mean.value_or(kNaN), s.sd.value_or(kNaN)};
}

DerivedColumn deriveColumnValues(Model& model, const Column* x, const Column* y, double c,
                                 const ValueFunction& function) {
  DerivedColumn out;
  Context& ctx = model.context();
  const NumberReaders& readers = model.numberReaders();
  auto read = [&](std::optional<std::string_view> text) {
    if (!text || text->empty()) return kNaN;
    auto v = readers.decimalNumberForString(*text);
    return v ? *v : kNaN;
  };
  // The rows are those of x's cells (one per row), visited in row order;
  // without x they are numbered 1 to the row count. y is paired with x by
  // row number.
  std::vector<double> xs;
  if (x && x->num) {
    forEachValueOfColumn(model, *x, nullptr, [&](int32_t rowNum, std::optional<std::string_view> text) {
      out.rowNums.push_back(rowNum);
      xs.push_back(read(text));
    });
  } else {
    size_t count = ctx.countRows();
    out.rowNums.resize(count);
    for (size_t i = 0; i < count; ++i) out.rowNums[i] = static_cast<int32_t>(i + 1);
    xs.assign(count, kNaN);
  }
  const size_t n = out.rowNums.size();
  std::vector<double> ys(n, kNaN);
  if (y && y->num) {
    size_t j = 0;
    forEachValueOfColumn(model, *y, nullptr, [&](int32_t rowNum, std::optional<std::string_view> text) {
      while (j < n && out.rowNums[j] < rowNum) ++j;
      if (j < n && out.rowNums[j] == rowNum) ys[j] = read(text);
    });
  }
  ctx.releaseCellMemory();

  const char separator = workspaceDecimalSeparator(model);
  std::vector<Cell> cells(n);
  for (size_t i = 0; i < n; ++i) {
    double v = function(xs[i], ys[i], c);
    cells[i].data = std::isfinite(v) ? plainDecimalText(v, separator) : std::string();
  }
  // The statistics read the texts as an import's would; the texts then move
  // out of the cells rather than being copied.
  out.stats = basicStatsForCells(model, cells);
  out.texts.resize(n);
  for (size_t i = 0; i < n; ++i) out.texts[i] = std::move(*cells[i].data);
  return out;
}

Column* applyDerivedColumn(Model& model, std::string_view name, const DerivedColumn& values) {
  Context& ctx = model.context();
  StepScope step(ctx, fillPlaceholders(tr("derive %@"), {std::string(name)}));
  std::vector<Column*> existing = ctx.allColumns();
  int32_t num = 0;
  for (Column* c : existing)
    if (c->num) num = std::max(num, *c->num + 1);
  Column* column = ctx.insertColumn();
  column->name = std::string(name);
  column->num = num;
  column->order = static_cast<int32_t>(existing.size());
  for (size_t i = 0; i < values.rowNums.size(); ++i) ctx.setCellText(num, values.rowNums[i], values.texts[i]);
  // Rows are only ever added: when the count differs, rows were added since
  // the values were computed, and each gets a missing cell so that the column
  // still has one cell per row.
  if (ctx.countRows() != values.rowNums.size()) {
    for (Row* r : ctx.allRows())
      if (r->num && !std::binary_search(values.rowNums.begin(), values.rowNums.end(), *r->num))
        ctx.setCellText(num, *r->num, "");
  }
  applyBasicStats(values.stats, *column);
  column->type = static_cast<int32_t>(guessTypeOfColumn(*column));
  model.saveContext();
  return column;
}

Column* addColumnNamed(Model& model, std::string_view name, const Column* x, const Column* y,
                       std::optional<double> c, const ValueFunction& function) {
  return applyDerivedColumn(model, name, deriveColumnValues(model, x, y, c.value_or(0), function));
}

}  // namespace tabulix
