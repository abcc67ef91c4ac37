#include "analyses/filters.h"

#include <unicode/unistr.h>

#include <algorithm>
#include <cassert>

#include "engine/cell_access.h"
#include "engine/level_order.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "engine/values.h"
#include "engine/workspace_data.h"

namespace tabulix {

namespace {

VariableType typeOf(const Column* column) {
  int t = column && column->type ? *column->type : 0;
  return t >= 1 && t <= 4 ? static_cast<VariableType>(t) : static_cast<VariableType>(0);
}

bool isChronoOrNumeric(VariableType type) {
  return type == VariableType::Numeric || type == VariableType::DateTime;
}

// Reads a text as the value a column of this type compares by.
std::optional<double> valueOf(Model& model, VariableType type, std::string_view text) {
  if (type == VariableType::DateTime) return dateForString(model, text);
  return decimalNumberForString(model, text);
}

bool compareNumbers(uint64_t op, double cell, double constant) {
  switch (op) {
    case kOpLess:
      return cell < constant;
    case kOpLessEqual:
      return cell <= constant;
    case kOpGreater:
      return cell > constant;
    case kOpGreaterEqual:
      return cell >= constant;
    case kOpEqual:
      return cell == constant;
    case kOpNotEqual:
      return cell != constant;
    default:
      return false;
  }
}

bool compareTexts(uint64_t op, const std::string& cell, const std::string& constant) {
  // Both sides are case-folded UTF-8; byte order is code-point order.
  switch (op) {
    case kOpLess:
      return cell < constant;
    case kOpLessEqual:
      return cell <= constant;
    case kOpGreater:
      return cell > constant;
    case kOpGreaterEqual:
      return cell >= constant;
    case kOpEqual:
      return cell == constant;
    case kOpNotEqual:
      return cell != constant;
    case kOpContains:
      return cell.find(constant) != std::string::npos;
    default:
      return false;
  }
}

// The rows of one column's cells (restricted to `within` when given) that
// meet one condition, ascending.
std::vector<int32_t> rowsMeeting(Model& model, const Column& column, const WhereClauseObj& where,
                                 const std::vector<int32_t>* within) {
  std::vector<int32_t> out;
  const VariableType type = typeOf(&column);
  if (opTakesNoConstant(where.op)) {
    // Missing as every statistic sees it: no text, or a declared code.
    const bool wantMissing = where.op == kOpIsMissing;
    forEachValueOfColumn(model, column, within, [&](int32_t row, std::optional<std::string_view> data) {
      if ((!data || data->empty()) == wantMissing) out.push_back(row);
    });
  } else if (isChronoOrNumeric(type)) {
    // Missing and unreadable cells fail every condition. A constant or level
    // that no longer reads (the type changed after the condition was made)
    // matches nothing, or is left out of the IN set.
    std::vector<double> targets;
    if (where.op == kOpIn) {
      for (const auto& level : where.levels.value_or(std::set<std::string>{}))
        if (auto v = valueOf(model, type, level)) targets.push_back(*v);
      std::sort(targets.begin(), targets.end());
    } else if (auto v = valueOf(model, type, where.constant.value_or(""))) {
      targets.push_back(*v);
    }
    if (targets.empty()) return out;
    forEachValueOfColumn(model, column, within, [&](int32_t row, std::optional<std::string_view> data) {
      if (!data || data->empty()) return;
      auto v = valueOf(model, type, *data);
      if (!v) return;
      bool hit = where.op == kOpIn ? std::binary_search(targets.begin(), targets.end(), *v)
                                   : compareNumbers(where.op, *v, targets.front());
      if (hit) out.push_back(row);
    });
  } else {
    std::set<std::string> levels;
    if (where.op == kOpIn)
      for (const auto& level : where.levels.value_or(std::set<std::string>{})) levels.insert(foldCase(level));
    const std::string constant = foldCase(where.constant.value_or(""));
    std::string folded;
    forEachValueOfColumn(model, column, within, [&](int32_t row, std::optional<std::string_view> data) {
      folded = foldCase(data.value_or(std::string_view{}));
      bool hit = where.op == kOpIn ? levels.count(folded) > 0 : compareTexts(where.op, folded, constant);
      if (hit) out.push_back(row);
    });
  }
  return out;
}

}  // namespace

std::string foldCase(std::string_view text) {
  // Plain ASCII, the common case, folds byte by byte.
  bool ascii =
      std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    std::string s(text);
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
  }
  icu::UnicodeString u =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  u.foldCase();
  std::string out;
  u.toUTF8String(out);
  return out;
}

WhereClauseObj WhereClauseObj::initWithWhereClause(const WhereClause& clause) {
  WhereClauseObj w;
  w.colNum = clause.x && clause.x->num ? *clause.x->num : -1;
  w.op = static_cast<uint64_t>(clause.op.value_or(kOpEqual));
  w.constant = clause.c;
  if (clause.levels) w.levels = std::set<std::string>(clause.levels->begin(), clause.levels->end());
  return w;
}

std::vector<WhereClauseObj> wheresFromWheres(const std::vector<WhereClause*>& clauses) {
  std::vector<WhereClauseObj> out;
  out.reserve(clauses.size());
  for (const WhereClause* c : clauses)
    if (c) out.push_back(WhereClauseObj::initWithWhereClause(*c));
  return out;
}

std::optional<std::vector<int32_t>> rowsWhere(Model& model, const std::vector<WhereClauseObj>& wheres) {
  if (wheres.empty()) return std::nullopt;
  std::optional<std::vector<int32_t>> result;
  for (const WhereClauseObj& where : wheres) {
    const Column* column = where.colNum >= 0 && where.colNum <= INT32_MAX
                               ? columnNumber(model, static_cast<uint32_t>(where.colNum))
                               : nullptr;
    // A condition on a variable that is gone selects nothing.
    std::vector<int32_t> hits;
    if (column && column->num) hits = rowsMeeting(model, *column, where, result ? &*result : nullptr);
    // Candidates were restricted to the current set, so `hits` is the intersection.
    result = std::move(hits);
    assert(std::is_sorted(result->begin(), result->end()));
    if (result->empty()) break;
  }
  return result;
}

std::optional<std::vector<int32_t>> rowsWhereClauses(Model& model, const std::vector<WhereClause*>& clauses) {
  return rowsWhere(model, wheresFromWheres(clauses));
}

std::optional<std::vector<int32_t>> rowsWhereAnalysis(Model& model, const Analysis& analysis) {
  return rowsWhereClauses(model, analysis.wheres);
}

namespace {
std::string joinLevels(const std::optional<std::set<std::string>>& levels) {
  std::string out;
  for (const auto& level : levels.value_or(std::set<std::string>{})) {
    if (!out.empty()) out += ", ";
    out += level;
  }
  return out;
}

std::string columnName(Model& model, int64_t colNum) {
  const Column* c =
      colNum >= 0 && colNum <= INT32_MAX ? columnNumber(model, static_cast<uint32_t>(colNum)) : nullptr;
  return c && c->name ? *c->name : std::string();
}

// The engine's operator texts; a code beyond any known one reads as unknown.
std::string operatorText(uint64_t op) {
  return stringForOperatorType(op <= kOpContains ? static_cast<unsigned>(op) : 6u);
}

std::string conditionText(Model& model, const WhereClauseObj& where) {
  if (opTakesNoConstant(where.op)) return columnName(model, where.colNum) + " " + operatorText(where.op);
  return columnName(model, where.colNum) + " " + operatorText(where.op) + " " +
         (where.op == kOpIn ? joinLevels(where.levels) : where.constant.value_or(""));
}
}  // namespace

std::string stringForWhere(Model& model, const WhereClauseObj& where) { return conditionText(model, where); }

std::string stringForWheres(Model& model, const std::vector<WhereClauseObj>& wheres) {
  std::string out;
  for (const auto& w : wheres) {
    if (!out.empty()) out += " & ";
    out += stringForWhere(model, w);
  }
  return out;
}

std::string stringForWhereSet(Model& model, std::vector<WhereClauseObj> wheres) {
  std::stable_sort(wheres.begin(), wheres.end(), [](const WhereClauseObj& a, const WhereClauseObj& b) {
    if (a.colNum != b.colNum) return a.colNum < b.colNum;
    if (a.op != b.op) return a.op < b.op;
    return a.constant < b.constant;
  });
  return stringForWheres(model, wheres);
}

std::string stringForWhereClauses(Model& model, const std::vector<WhereClause*>& clauses) {
  return stringForWhereSet(model, wheresFromWheres(clauses));
}

std::string stringForWhereAnalysis(Model& model, const Analysis& analysis) {
  return stringForWhereClauses(model, analysis.wheres);
}

std::vector<uint64_t> operatorsForType(VariableType type) {
  switch (type) {
    case VariableType::Numeric:
    case VariableType::DateTime:
      return {kOpEqual,    kOpGreater, kOpGreaterEqual, kOpLess,        kOpLessEqual,
              kOpNotEqual, kOpIn,      kOpIsMissing,    kOpIsNotMissing};
    case VariableType::Categorical:
      return {kOpEqual, kOpContains, kOpNotEqual, kOpIn, kOpIsMissing, kOpIsNotMissing};
    case VariableType::Binary:
      return {kOpEqual, kOpNotEqual, kOpIn, kOpIsMissing, kOpIsNotMissing};
    default:
      return {};
  }
}

std::string placeholderForType(VariableType type) {
  if (type == VariableType::Numeric) return tr("Please enter a number");
  if (type == VariableType::DateTime) return tr("Please enter a date");
  return tr("Please enter text to match");
}

bool whereIsComplete(const WhereClauseObj& where) {
  if (opTakesNoConstant(where.op)) return true;
  if (where.op == kOpIn) return where.levels && !where.levels->empty();
  return where.constant && !where.constant->empty();
}

bool whereCanBeApplied(Model& model, const WhereClauseObj& where, VariableType type) {
  if (!isChronoOrNumeric(type) || opTakesNoConstant(where.op)) return true;
  if (where.op == kOpIn) {
    for (const auto& level : where.levels.value_or(std::set<std::string>{}))
      if (!valueOf(model, type, level)) return false;
    return true;
  }
  const std::string c = where.constant.value_or("");
  return c.empty() || valueOf(model, type, c).has_value();
}

std::string summaryForWhere(Model& model, const WhereClauseObj& where) {
  if (!whereIsComplete(where)) return tr("No filter");
  if (opTakesNoConstant(where.op))
    return fillPlaceholders(tr("Browse filter: %@ %@"),
                            {columnName(model, where.colNum), operatorText(where.op)});
  return fillPlaceholders(tr("Browse filter: %@ %@ %@"),
                          {columnName(model, where.colNum), operatorText(where.op),
                           where.op == kOpIn ? joinLevels(where.levels) : where.constant.value_or("")});
}

std::vector<std::string> suggestionsForColumn(Model& model, const Column& column, std::string_view typed) {
  const std::string needle = foldCase(typed);
  std::vector<std::string> out;
  for (auto& [text, count] : frequenciesOfColumn(model, column))
    if (needle.empty() || foldCase(text).find(needle) != std::string::npos) out.push_back(text);
  sortLevels(model, column, out);
  return out;
}

bool BrowseFilter::apply(const WhereClauseObj& where) {
  if (!whereIsComplete(where)) return clear(where.colNum);
  auto it = byColumn_.find(where.colNum);
  if (it != byColumn_.end()) {
    const WhereClauseObj& old = it->second;
    bool same = old.op == where.op &&
                (opTakesNoConstant(where.op) ||
                 (where.op == kOpIn ? old.levels == where.levels : old.constant == where.constant));
    if (same) return false;
  }
  byColumn_[where.colNum] = where;
  return true;
}

bool BrowseFilter::clear(int64_t colNum) { return byColumn_.erase(colNum) > 0; }

std::vector<WhereClauseObj> BrowseFilter::wheres() const {
  std::vector<WhereClauseObj> out;
  for (const auto& [num, w] : byColumn_) out.push_back(w);
  return out;
}

std::optional<WhereClauseObj> BrowseFilter::whereForColumn(int64_t colNum) const {
  auto it = byColumn_.find(colNum);
  if (it == byColumn_.end()) return std::nullopt;
  return it->second;
}

std::string BrowseFilter::statusText(Model& model) const {
  if (byColumn_.empty()) return tr("No filter. Tap filter icons in column headers");
  return tr("Filters: ") + stringForWheres(model, wheres());
}

}  // namespace tabulix
