#include "engine/cell_access.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/missing_codes.h"
#include "engine/number_reading.h"
#include "engine/translate.h"
#include "engine/values.h"
#include "stats/radix_sort.h"
#include "stats/statistics.h"

namespace tabulix {

namespace {

// A set of 64-bit values by open addressing (0 is kept aside).
class HashSet64 {
 public:
  void insert(uint64_t v) {
    if (v == 0) {
      hasZero_ = true;
      return;
    }
    if ((count_ + 1) * 2 > slots_.size()) grow();
    size_t mask = slots_.size() - 1;
    for (size_t i = mix(v) & mask;; i = (i + 1) & mask) {
      if (slots_[i] == v) return;
      if (slots_[i] == 0) {
        slots_[i] = v;
        ++count_;
        return;
      }
    }
  }
  size_t size() const { return count_ + (hasZero_ ? 1 : 0); }

 private:
  static uint64_t mix(uint64_t v) { return v ^ (v >> 29); }
  void grow() {
    std::vector<uint64_t> old(std::max<size_t>(256, slots_.size() * 2), 0);
    old.swap(slots_);
    size_t mask = slots_.size() - 1;
    for (uint64_t v : old) {
      if (!v) continue;
      size_t i = mix(v) & mask;
      while (slots_[i]) i = (i + 1) & mask;
      slots_[i] = v;
    }
  }
  std::vector<uint64_t> slots_;
  size_t count_ = 0;
  bool hasZero_ = false;
};

// The numbers (or dates) of a column in cell order, with their running
// extremes, and the figures the cache keeps of them.
struct Series {
  std::vector<double> values;
  double min = 0, max = 0;

  void add(double v) {
    if (values.empty()) {
      min = max = v;
    } else {
      if (v < min) min = v;
      if (v > max) max = v;
    }
    values.push_back(v);
  }

  // Fills the figures when there is any value, leaves them absent otherwise.
  void figures(OptInt& levels, OptReal& lo, OptReal& hi, OptReal& mean, OptReal& sd, OptReal& pc25,
               OptReal& pc50, OptReal& pc75) const {
    if (values.empty()) return;
    static const double kQuartiles[] = {25, 50, 75};
    std::vector<double> sorted = values;
    radixSort(sorted);
    int32_t distinct = 0;
    for (size_t i = 0; i < sorted.size(); ++i) distinct += i == 0 || sorted[i] != sorted[i - 1];
    levels = distinct;
    lo = min;
    hi = max;
    // Shifted and compensated (Statistics::mean): a running sum of values with
    // common leading digits rounds their differences away.
    mean = Statistics::mean(values);
    sd = Statistics::sdNormal(values);
    auto pc = Statistics::percentiles(kQuartiles, sorted);
    pc25 = pc[25];
    pc50 = pc[50];
    pc75 = pc[75];
  }
};

// One pass over a column's texts, in cell order. Each distinct text is read
// once: a repeated text (the usual case in categorical columns) reuses the
// first reading, which keeps the date detector off most cells.
class StatsAccumulator {
 public:
  explicit StatsAccumulator(Model& model) : model_(model), readers_(model.numberReaders()) {}

  void add(std::optional<std::string_view> text) {
    if (!text || text->empty()) return;  // missing
    ++N_;
    double plain;
    if (readers_.fastNumberForString(*text, plain) == FastReading::Number) {
      // Plain numbers are mostly distinct: their texts are only counted, by
      // a 64-bit hash (a collision among 100,000 texts has odds near 1e-10).
      numericTexts_.insert(std::hash<std::string_view>{}(*text));
      numbers_.add(plain);
      return;
    }
    const Reading& r = texts_.findOrAdd(*text, [&] { return read(*text); });
    if (r.kind == Kind::Number) {
      numbers_.add(r.value);
    } else if (r.kind == Kind::Date) {
      dates_.add(r.value);
    }
  }

  BasicStats result() const {
    BasicStats s;
    s.obs = N_;
    s.obsNumeric = static_cast<int32_t>(numbers_.values.size());
    s.obsDate = static_cast<int32_t>(dates_.values.size());
    s.levels = static_cast<int32_t>(texts_.size() + numericTexts_.size());
    numbers_.figures(s.levelsNumeric, s.min, s.max, s.mean, s.sd, s.pc25, s.pc50, s.pc75);
    dates_.figures(s.levelsDate, s.minDate, s.maxDate, s.meanDate, s.sdDate, s.pc25Date, s.pc50Date,
                   s.pc75Date);
    return s;
  }

 private:
  enum class Kind : uint8_t { Number, Date, Text };
  struct Reading {
    Kind kind;
    double value;
  };

  // Distinct texts with their readings: open addressing over one byte arena,
  // so that a column of 100,000 distinct numbers costs no allocation per text.
  class TextTable {
   public:
    size_t size() const { return count_; }
    template <class Make>
    const Reading& findOrAdd(std::string_view text, Make make) {
      if ((count_ + 1) * 4 > slots_.size() * 3) grow();
      uint64_t h = std::hash<std::string_view>{}(text);
      size_t mask = slots_.size() - 1;
      for (size_t i = h & mask;; i = (i + 1) & mask) {
        Slot& s = slots_[i];
        if (s.len == kEmpty) {
          s = Slot{h, static_cast<uint32_t>(arena_.size()), static_cast<uint32_t>(text.size()), make()};
          arena_.append(text);
          ++count_;
          return s.reading;
        }
        if (s.hash == h && s.len == text.size() && std::string_view(arena_).substr(s.offset, s.len) == text)
          return s.reading;
      }
    }

   private:
    static constexpr uint32_t kEmpty = UINT32_MAX;
    struct Slot {
      uint64_t hash = 0;
      uint32_t offset = 0, len = kEmpty;
      Reading reading{Kind::Text, 0};
    };
    void grow() {
      std::vector<Slot> old(std::max<size_t>(64, slots_.size() * 2));
      old.swap(slots_);
      size_t mask = slots_.size() - 1;
      for (const Slot& s : old) {
        if (s.len == kEmpty) continue;
        size_t i = s.hash & mask;
        while (slots_[i].len != kEmpty) i = (i + 1) & mask;
        slots_[i] = s;
      }
    }
    std::vector<Slot> slots_;
    std::string arena_;
    size_t count_ = 0;
  };
  Reading read(std::string_view text) {
    if (auto v = decimalNumberForString(model_, text)) return {Kind::Number, *v};
    if (auto t = dateForString(model_, text)) return {Kind::Date, *t};
    return {Kind::Text, 0};
  }

  Model& model_;
  const NumberReaders& readers_;
  HashSet64 numericTexts_;
  int32_t N_ = 0;
  TextTable texts_;
  Series numbers_, dates_;
};

CellFetch columnFetch(const Column& column, const std::vector<CellSort>& sort,
                      const std::vector<int32_t>* rows) {
  CellFetch f;
  f.colNum = column.num.value_or(INT32_MIN);
  f.sort = sort;
  f.rowNums = rows;
  return f;
}

}  // namespace

nlohmann::json toJson(const BasicStats& s) {
  nlohmann::json j = nlohmann::json::object();
  for (const auto& f : kBasicStatsFields)
    std::visit(
        [&](auto m) {
          if constexpr (std::is_same_v<std::remove_cvref_t<decltype(s.*m)>, int32_t>)
            j[f.name] = s.*m;
          else if (s.*m)
            j[f.name] = *(s.*m);
        },
        f.member);
  return j;
}

std::vector<Cell> cellsForRow(Model& model, const Row& row, const std::vector<CellSort>& sort) {
  CellFetch f;
  f.rowNum = row.num.value_or(INT32_MIN);
  f.sort = sort;
  return model.context().fetchCells(f);
}

std::vector<Cell> cellsForColumn(Model& model, const Column& column, const std::vector<CellSort>& sort,
                                 const std::vector<int32_t>* rows) {
  std::vector<Cell> cells = model.context().fetchCells(columnFetch(column, sort, rows));
  MissingCodes codes(column);
  if (!codes.empty())
    for (Cell& c : cells)
      if (c.data && codes.matches(*c.data)) c.data = std::string();
  return cells;
}

std::vector<std::string> distinctValuesForColumn(Model& model, const Column* column) {
  if (!column || !column->num) return {};
  std::vector<std::string> values = model.context().distinctCellData(*column->num, true);
  MissingCodes codes(*column);
  if (!codes.empty()) std::erase_if(values, [&](const std::string& v) { return codes.matches(v); });
  return values;
}

void forEachValueOfColumn(
    Model& model, const Column& column, const std::vector<int32_t>* rows,
    const std::function<void(int32_t rowNum, std::optional<std::string_view> data)>& fn) {
  if (!column.num) return;
  MissingCodes codes(column);
  if (codes.empty()) {
    model.context().forEachCellOfColumn(*column.num, rows, fn);
    return;
  }
  model.context().forEachCellOfColumn(*column.num, rows, [&](int32_t r, std::optional<std::string_view> d) {
    fn(r, d && codes.matches(*d) ? std::optional<std::string_view>(std::string_view()) : d);
  });
}

BasicStats basicStatsForCells(Model& model, const std::vector<Cell>& cells) {
  StatsAccumulator acc(model);
  for (const Cell& c : cells) acc.add(c.data ? std::optional<std::string_view>(*c.data) : std::nullopt);
  return acc.result();
}

BasicStats dictBasicStatsForColumn(Model& model, const Column& column) {
  StatsAccumulator acc(model);
  if (column.num)
    forEachValueOfColumn(model, column, nullptr,
                         [&](int32_t, std::optional<std::string_view> d) { acc.add(d); });
  return acc.result();
}

void basicStatsForColumn(Model& model, Column& column, const std::vector<Cell>& cells) {
  applyBasicStats(basicStatsForCells(model, cells), column);
}

void basicStatsForColumn(Model& model, Column& column) {
  applyBasicStats(dictBasicStatsForColumn(model, column), column);
}

void applyBasicStats(const BasicStats& stats, Column& c) {
  // Each cached attribute takes the figure of the same name; a figure that
  // came out NaN (the sd of a single value) could not be formed and is
  // cached as absent, as the store would read it back.
  for (size_t k = kColumnFirstStatField; k < kColumnFields.size(); ++k) {
    const Field<Column>& field = kColumnFields[k];
    const StatField* stat = nullptr;
    for (const auto& f : kBasicStatsFields)
      if (std::string_view(f.name) == field.name) stat = &f;
    if (!stat) continue;
    std::visit(
        [&](auto target, auto source) {
          using T = std::remove_cvref_t<decltype(c.*target)>;
          using S = std::remove_cvref_t<decltype(stats.*source)>;
          if constexpr (std::is_same_v<T, OptReal> && std::is_same_v<S, OptReal>) {
            OptReal v = stats.*source;
            if (v && std::isnan(*v)) v.reset();
            c.*target = v;
          } else if constexpr (std::is_same_v<T, OptInt> && !std::is_same_v<S, OptReal>) {
            c.*target = OptInt(stats.*source);
          }
        },
        field.member, stat->member);
  }
}

void clearBasicStats(Column& c) {
  for (size_t k = kColumnFirstStatField; k < kColumnFields.size(); ++k)
    std::visit([&](auto target) { c.*target = {}; }, kColumnFields[k].member);
}

bool needCalcBasicStatsForColumn(const Column& c) {
  auto type = static_cast<VariableType>(c.type.value_or(0));
  if (type == VariableType::DateTime)
    return !c.obs || !c.obsDate || !c.levelsDate || !c.minDate || !c.maxDate || !c.meanDate || !c.pc25Date ||
           !c.pc50Date || !c.pc75Date || !c.sdDate;
  if (type == VariableType::Numeric)
    return !c.obs || !c.obsNumeric || !c.levels || !c.min || !c.max || !c.mean || !c.pc25 || !c.pc50 ||
           !c.pc75 || !c.sd;
  return !c.obs || !c.obsNumeric || !c.levels;
}

StatList retrieveBasicStatsForColumn(Model& model, Column& c) {
  if (needCalcBasicStatsForColumn(c)) {
    basicStatsForColumn(model, c);
    model.saveContext();
  }
  return cachedStatsForColumn(c);
}

StatList cachedStatsForColumn(const Column& c) {
  auto type = static_cast<VariableType>(c.type.value_or(0));
  auto v = [](const auto& o) { return o ? static_cast<double>(*o) : 0.0; };
  if (type == VariableType::Numeric && c.obsNumeric.value_or(0) >= 1)
    return {{"obs", v(c.obs)},       {"obsNumeric", v(c.obsNumeric)},
            {"levels", v(c.levels)}, {"min", v(c.min)},
            {"pc25", v(c.pc25)},     {"pc50", v(c.pc50)},
            {"pc75", v(c.pc75)},     {"max", v(c.max)},
            {"mean", v(c.mean)},     {"sd", v(c.sd)}};
  if (type == VariableType::DateTime && c.obsDate.value_or(0) >= 1)
    return {{"obs", v(c.obs)},       {"obsDate", v(c.obsDate)}, {"levels", v(c.levelsDate)},
            {"min", v(c.minDate)},   {"pc25", v(c.pc25Date)},   {"pc50", v(c.pc50Date)},
            {"pc75", v(c.pc75Date)}, {"max", v(c.maxDate)},     {"mean", v(c.meanDate)},
            {"sd", v(c.sdDate)}};
  return {{"obs", v(c.obs)}, {"obsNumeric", v(c.obsNumeric)}, {"levels", v(c.levels)}};
}

std::vector<double> numericOfCells(Model& model, const std::vector<Cell>& cells) {
  std::vector<double> out;
  for (const Cell& c : cells)
    if (c.data)
      if (auto v = decimalNumberForString(model, *c.data)) out.push_back(*v);
  return out;
}

std::vector<double> numericOfCells(Model& model, const std::vector<Cell>& cells, VariableType type) {
  if (type != VariableType::DateTime) return numericOfCells(model, cells);
  std::vector<double> out;
  for (const Cell& c : cells)
    if (c.data && !c.data->empty())
      if (auto t = dateForString(model, *c.data)) out.push_back(*t);
  return out;
}

std::vector<double> numericOfColumn(Model& model, const Column& column) {
  std::vector<double> out;
  if (!column.num) return out;
  forEachValueOfColumn(model, column, nullptr, [&](int32_t, std::optional<std::string_view> d) {
    if (d)
      if (auto v = decimalNumberForString(model, *d)) out.push_back(*v);
  });
  return out;
}

NumericMatrix numericOfColumns(Model& model, const std::vector<Column*>& cols,
                               const std::vector<int32_t>* rows) {
  NumericMatrix m;
  std::vector<int32_t> sortedRows;
  if (rows && !std::is_sorted(rows->begin(), rows->end())) {
    sortedRows = *rows;
    std::sort(sortedRows.begin(), sortedRows.end());
    rows = &sortedRows;
  }
  std::vector<std::vector<int32_t>> rowNums;
  for (Column* col : cols) {
    auto type = static_cast<VariableType>(col->type.value_or(0));
    std::string name = col->name.value_or("");
    std::vector<double> values;
    std::vector<int32_t> nums;
    std::optional<std::string> reference;
    bool renamed = false;
    if (col->num)
      forEachValueOfColumn(model, *col, rows, [&](int32_t r, std::optional<std::string_view> d) {
        nums.push_back(r);
        std::optional<double> v;
        if (type == VariableType::Binary) {
          if (d && !d->empty()) {
            if (!reference) reference = std::string(*d);
            v = *d == *reference ? 0.0 : 1.0;
            if (*v == 1.0 && !renamed) {
              name = "(" + col->name.value_or("") + "=" + std::string(*d) + ")";
              renamed = true;
            }
          }
        } else if (type == VariableType::DateTime) {
          if (d && !d->empty()) v = dateForString(model, *d);
        } else if (d) {
          v = decimalNumberForString(model, *d);
        }
        values.push_back(v ? *v : std::numeric_limits<double>::quiet_NaN());
      });
    m.Xmat.push_back(std::move(values));
    m.names.push_back(std::move(name));
    rowNums.push_back(std::move(nums));
    model.context().releaseCellMemory();
  }
  // Listwise deletion: keep the rows present and non-missing in every column.
  if (m.Xmat.empty()) return m;
  // Row numbers are positive and bounded by the workspace's row limit: the
  // counts are an array indexed by them.
  int32_t maxRow = 0;
  for (const auto& nums : rowNums)
    if (!nums.empty()) maxRow = std::max(maxRow, *std::max_element(nums.begin(), nums.end()));
  std::vector<int> okCount(static_cast<size_t>(maxRow) + 1, 0);
  for (size_t k = 0; k < m.Xmat.size(); ++k)
    for (size_t i = 0; i < m.Xmat[k].size(); ++i)
      if (!std::isnan(m.Xmat[k][i])) ++okCount[static_cast<size_t>(rowNums[k][i])];
  int need = static_cast<int>(m.Xmat.size());
  for (size_t k = 0; k < m.Xmat.size(); ++k) {
    std::vector<double> kept;
    kept.reserve(m.Xmat[k].size());
    for (size_t i = 0; i < m.Xmat[k].size(); ++i)
      if (okCount[static_cast<size_t>(rowNums[k][i])] == need) kept.push_back(m.Xmat[k][i]);
    m.Xmat[k] = std::move(kept);
  }
  return m;
}

Factor factorOfCategorical(const std::vector<Cell>& cells, const std::map<std::string, int32_t>* levels) {
  Factor f;
  if (levels) f.code = *levels;
  f.data.reserve(cells.size());
  for (const Cell& c : cells) {
    const std::string& text = c.data ? *c.data : std::string();
    auto it = f.code.find(text);
    if (it == f.code.end()) it = f.code.emplace(text, static_cast<int32_t>(f.code.size())).first;
    f.data.push_back(it->second);
  }
  return f;
}

FrequencyDict frequenciesOfCells(const std::vector<Cell>& cells) {
  FrequencyDict f;
  f.reserve(cells.size() / 4);
  for (const Cell& c : cells)
    if (c.data && !c.data->empty()) ++f[*c.data];
  return f;
}

FrequencyDict frequenciesOfColumn(Model& model, const Column& column) {
  FrequencyDict f;
  if (!column.num) return f;
  forEachValueOfColumn(model, column, nullptr, [&](int32_t, std::optional<std::string_view> d) {
    if (d && !d->empty()) ++f[std::string(*d)];
  });
  return f;
}

TextCounts countTexts(const std::vector<Cell>& cells) {
  // Open addressing with linear probing over indices into `texts`: a column
  // of 100,000 distinct numbers would otherwise allocate a node and copy a
  // string per cell.
  TextCounts t;
  t.ofCell.assign(cells.size(), -1);
  size_t capacity = 16;
  while (capacity < 2 * cells.size()) capacity *= 2;
  std::vector<int32_t> slots(capacity, -1);
  std::vector<size_t> hashes;
  const size_t mask = capacity - 1;
  const std::hash<std::string_view> hash;
  for (size_t k = 0; k < cells.size(); ++k) {
    const OptText& data = cells[k].data;
    if (!data || data->empty()) continue;
    const std::string_view text = *data;
    const size_t h = hash(text);
    size_t slot = h & mask;
    // At most cells.size() texts in twice as many slots: a free slot exists.
    while (slots[slot] >= 0 && (hashes[static_cast<size_t>(slots[slot])] != h ||
                                t.texts[static_cast<size_t>(slots[slot])] != text))
      slot = (slot + 1) & mask;
    if (slots[slot] < 0) {
      slots[slot] = static_cast<int32_t>(t.texts.size());
      t.texts.push_back(text);
      t.counts.push_back(0);
      hashes.push_back(h);
    }
    ++t.counts[static_cast<size_t>(slots[slot])];
    t.ofCell[k] = slots[slot];
  }
  return t;
}

namespace {

// The `top` most frequent of n entries (text and count by index), ties by
// text ascending. They are ordered through indices: a variable of 100,000
// distinct values would otherwise copy every text to keep a few of them.
template <class Text, class Count>
TopValues topOf(size_t n, Text text, Count count, uint32_t top) {
  std::vector<size_t> entries(n);
  for (size_t i = 0; i < n; ++i) entries[i] = i;
  auto byCount = [&](size_t a, size_t b) {
    return count(a) != count(b) ? count(a) > count(b) : text(a) < text(b);
  };
  size_t keep = std::min<size_t>(top, n);
  std::partial_sort(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(keep), entries.end(),
                    byCount);
  TopValues t;
  for (size_t i = 0; i < keep; ++i) {
    t.levels.emplace_back(text(entries[i]));
    t.counts.push_back(count(entries[i]));
  }
  return t;
}

// The kept levels with "Others" for the rest of the total, and running shares.
TopFrequencies withOthers(TopValues t, int64_t total) {
  int64_t kept = 0;
  for (int64_t c : t.counts) kept += c;
  TopFrequencies out{std::move(t.levels), std::move(t.counts), {}};
  if (total - kept > 0) {
    out.levels.push_back(tr("Others"));
    out.counts.push_back(total - kept);
  }
  double running = 0;
  for (int64_t c : out.counts) {
    running += static_cast<double>(c) / static_cast<double>(total);
    out.cumulative.push_back(running);
  }
  return out;
}

// The number of levels kept before "Others" when there are more than `top`.
uint32_t keptBeforeOthers(size_t levels, uint32_t top) {
  return levels > top ? (top > 0 ? top - 1 : 0) : top;
}

}  // namespace

TopValues dictionary(const FrequencyDict& frequencies, uint32_t top) {
  std::vector<const FrequencyDict::value_type*> entries;
  entries.reserve(frequencies.size());
  for (const auto& e : frequencies) entries.push_back(&e);
  return topOf(
      entries.size(), [&](size_t i) -> const std::string& { return entries[i]->first; },
      [&](size_t i) { return entries[i]->second; }, top);
}

TopFrequencies topFrequencies(const FrequencyDict& f, uint32_t top) {
  int64_t total = 0;
  for (auto& [level, count] : f) total += count;
  return withOthers(dictionary(f, keptBeforeOthers(f.size(), top)), total);
}

TopFrequencies topFrequencies(const TextCounts& counts, uint32_t top) {
  int64_t total = 0;
  for (int64_t c : counts.counts) total += c;
  TopValues t = topOf(
      counts.texts.size(), [&](size_t i) { return counts.texts[i]; },
      [&](size_t i) { return counts.counts[i]; }, keptBeforeOthers(counts.texts.size(), top));
  return withOthers(std::move(t), total);
}

TopFrequencies frequenciesOfCells(const std::vector<Cell>& cells, uint32_t top) {
  return topFrequencies(countTexts(cells), top);
}

TopFrequencies frequenciesOfColumn(Model& model, const Column& column, uint32_t top) {
  return topFrequencies(frequenciesOfColumn(model, column), top);
}

}  // namespace tabulix
