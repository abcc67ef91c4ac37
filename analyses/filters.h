// Row filters: conditions on one variable each, all of which must hold, the
// rows they select, the texts they are shown as, and the condition editor's
// rules (operators per type, placeholders, when a condition may be applied).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model.h"
#include "engine/variable_type.h"

namespace tabulix {

// Operator codes of a condition, as stored in `WhereClause.op`.
enum WhereOp : uint64_t {
  kOpLess = 0,
  kOpLessEqual = 1,
  kOpGreater = 2,
  kOpGreaterEqual = 3,
  kOpEqual = 4,
  kOpNotEqual = 5,
  kOpIn = 10,
  kOpIsMissing = 20,     // no constant: the cell is empty or holds a missing-value code
  kOpIsNotMissing = 21,  // no constant: the cell has a value
  kOpContains = 99,
};

// One condition held in memory: the tested column by number, the operator,
// the constant as typed and, for IN, the chosen levels.
struct WhereClauseObj {
  int64_t colNum = 0;
  uint64_t op = kOpEqual;
  std::optional<std::string> constant;
  std::optional<std::set<std::string>> levels;

  // A copy of a stored condition (its column's num, op, constant and levels).
  static WhereClauseObj initWithWhereClause(const WhereClause& clause);
  bool operator==(const WhereClauseObj&) const = default;
};

// The in-memory forms of stored conditions, one each.
std::vector<WhereClauseObj> wheresFromWheres(const std::vector<WhereClause*>& clauses);

// The rows (row numbers, ascending) meeting every condition, or none when
// there is no condition: no list means every row. Conditions are evaluated
// in the given order; once no row is left the rest are skipped.
std::optional<std::vector<int32_t>> rowsWhere(Model& model, const std::vector<WhereClauseObj>& wheres);
// rowsWhere of stored conditions.
std::optional<std::vector<int32_t>> rowsWhereClauses(Model& model, const std::vector<WhereClause*>& clauses);
// rowsWhere of an analysis's ordinary filter (`wheres`, never `wheres2`).
std::optional<std::vector<int32_t>> rowsWhereAnalysis(Model& model, const Analysis& analysis);

// One condition as "name op constant" (IN: the levels joined by ", ").
std::string stringForWhere(Model& model, const WhereClauseObj& where);
// Conditions joined by " & " in the given order; "" for none.
std::string stringForWheres(Model& model, const std::vector<WhereClauseObj>& wheres);
// Conditions sorted by column number, operator and constant, then joined.
std::string stringForWhereSet(Model& model, std::vector<WhereClauseObj> wheres);
// stringForWhereSet of stored conditions.
std::string stringForWhereClauses(Model& model, const std::vector<WhereClause*>& clauses);
// The filter text of an analysis (its `wheres`).
std::string stringForWhereAnalysis(Model& model, const Analysis& analysis);

// --- the condition editor ---
// The operators offered for a variable type, in the order of the editor's buttons.
std::vector<uint64_t> operatorsForType(VariableType type);
// The constant field's placeholder for a variable type.
std::string placeholderForType(VariableType type);
// True when the condition has what it needs: IN with a level, "is (not)
// missing" as it is, any other operator a non-empty constant.
bool whereIsComplete(const WhereClauseObj& where);
// True when the editor may apply the condition to a column of this type: the
// constant (or every IN level) reads as the type's value, or the type is textual.
bool whereCanBeApplied(Model& model, const WhereClauseObj& where, VariableType type);
// The editor's summary: "Browse filter: name op constant", or "No filter"
// while the condition is incomplete.
std::string summaryForWhere(Model& model, const WhereClauseObj& where);
// The distinct values of a column containing the typed text (ignoring case),
// in the variable's level order: the editor's suggestions and its level chooser.
std::vector<std::string> suggestionsForColumn(Model& model, const Column& column, std::string_view typed);

// The browse grid's filter: at most one condition per column, keyed by its number.
class BrowseFilter {
 public:
  // Applies the editor's condition for its column: a complete one replaces the
  // column's condition (nothing changes when it equals it), an incomplete one
  // removes it. Returns whether the filter changed.
  bool apply(const WhereClauseObj& where);
  // Removes the column's condition; returns whether there was one.
  bool clear(int64_t colNum);
  // The conditions in column-number order.
  std::vector<WhereClauseObj> wheres() const;
  // The column's condition, if it has one.
  std::optional<WhereClauseObj> whereForColumn(int64_t colNum) const;
  // True when no column has a condition.
  bool empty() const { return byColumn_.empty(); }
  // The grid's status text: the hint when empty, else "Filters: " and the conditions.
  std::string statusText(Model& model) const;

 private:
  std::map<int64_t, WhereClauseObj> byColumn_;
};

// True for the operators that take no constant ("is missing", "is not missing").
inline bool opTakesNoConstant(uint64_t op) { return op == kOpIsMissing || op == kOpIsNotMissing; }

// Folds a text's case for comparisons that ignore it (full Unicode case folding).
std::string foldCase(std::string_view text);

}  // namespace tabulix
