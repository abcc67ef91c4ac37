// The six kinds of stored records of a workspace, as plain structs.
//
// Every attribute is optional: an absent value is distinct from 0 and from "".
// Relationships between records are pointers to records owned by the same
// Context; they stay valid until the context is reset or the record deleted.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace tabulix {

// The kinds of stored records.
enum class Entity : uint8_t { Metadata = 1, Column, Row, Analysis, WhereClause };

// Identity of a stored record, valid across contexts on the same store once
// the record has been saved (a record not yet saved has a temporary identity).
struct ObjectId {
  Entity entity = Entity::Metadata;
  int64_t rowid = 0;  // 0 until the record is first saved
  bool isTemporary() const { return rowid == 0; }
  bool operator==(const ObjectId&) const = default;
};

using OptInt = std::optional<int32_t>;
using OptReal = std::optional<double>;
using OptText = std::optional<std::string>;
using OptFlag = std::optional<bool>;

// One stored attribute of a record: its name (in the store, the JSON and
// the command-line output) and where the record holds it. Each record's
// table below is the one list of its attributes; the store's SQL, the
// change tracking, the JSON writers and the statistics cache are driven
// from it. Relationships are not attributes: the store maps them itself.
template <class R>
struct Field {
  const char* name;
  std::variant<OptText R::*, OptInt R::*, OptReal R::*, OptFlag R::*> member;
};

// Calls fn(value) with the attribute of a record a field names.
template <class R, class F>
decltype(auto) visitField(const Field<R>& field, R& record, F&& fn) {
  return std::visit([&](auto m) -> decltype(auto) { return fn(record.*m); }, field.member);
}
template <class R, class F>
decltype(auto) visitField(const Field<R>& field, const R& record, F&& fn) {
  return std::visit([&](auto m) -> decltype(auto) { return fn(record.*m); }, field.member);
}

// Equality of optional reals that holds NaN equal to NaN, so that a record
// holding NaN does not look changed forever.
inline bool sameReal(const OptReal& a, const OptReal& b) {
  if (!a || !b) return a.has_value() == b.has_value();
  return *a == *b || (*a != *a && *b != *b);
}

// Common part of every stored record: its identity.
struct Record {
  ObjectId objectID;
  bool operator==(const Record&) const = default;
};

// Equality of the attributes a field table lists (reals by sameReal).
template <class R, size_t N>
bool sameFields(const std::array<Field<R>, N>& fields, const R& a, const R& b) {
  for (const auto& f : fields) {
    bool same = std::visit(
        [&](auto m) {
          if constexpr (std::is_same_v<std::remove_cvref_t<decltype(a.*m)>, OptReal>)
            return sameReal(a.*m, b.*m);
          else
            return a.*m == b.*m;
        },
        f.member);
    if (!same) return false;
  }
  return true;
}

// A key/value setting of the workspace.
struct Metadata : Record {
  OptText key;
  OptText value;
  bool operator==(const Metadata&) const = default;
};

// The attributes of Metadata.
inline const std::array<Field<Metadata>, 2> kMetadataFields = {
    {{"key", &Metadata::key}, {"value", &Metadata::value}}};

// One variable; the attributes from obs down cache its summary statistics.
// `label` is the variable label a statistical file (SPSS, Stata, SAS) gave it;
// `levelOrder` the order the user gave its levels, as a JSON list of texts;
// `missingCodes` the texts that mean "missing" in it, as a JSON list.
struct Column : Record {
  OptText name;
  OptInt num;
  OptInt order;
  OptInt type;
  OptText label;
  OptText levelOrder;
  OptText missingCodes;
  OptInt obs, obsNumeric, obsDate, levels, levelsDate;
  OptReal min, max, mean, sd, pc25, pc50, pc75;
  OptReal minDate, maxDate, meanDate, sdDate, pc25Date, pc50Date, pc75Date;
  bool operator==(const Column& o) const;
};

// The attributes of Column, in store order; the statistics cache is the
// part from kColumnFirstStatField on.
inline const std::array<Field<Column>, 26> kColumnFields = {{
    {"name", &Column::name},
    {"num", &Column::num},
    {"order", &Column::order},
    {"type", &Column::type},
    {"label", &Column::label},
    {"levelOrder", &Column::levelOrder},
    {"missingCodes", &Column::missingCodes},
    {"obs", &Column::obs},
    {"obsNumeric", &Column::obsNumeric},
    {"obsDate", &Column::obsDate},
    {"levels", &Column::levels},
    {"levelsDate", &Column::levelsDate},
    {"min", &Column::min},
    {"max", &Column::max},
    {"mean", &Column::mean},
    {"sd", &Column::sd},
    {"pc25", &Column::pc25},
    {"pc50", &Column::pc50},
    {"pc75", &Column::pc75},
    {"minDate", &Column::minDate},
    {"maxDate", &Column::maxDate},
    {"meanDate", &Column::meanDate},
    {"sdDate", &Column::sdDate},
    {"pc25Date", &Column::pc25Date},
    {"pc50Date", &Column::pc50Date},
    {"pc75Date", &Column::pc75Date},
}};
inline constexpr size_t kColumnFirstStatField = 7;

inline bool Column::operator==(const Column& o) const {
  return objectID == o.objectID && sameFields(kColumnFields, *this, o);
}

// One observation.
struct Row : Record {
  OptInt num;
  bool operator==(const Row&) const = default;
};

// The attributes of Row.
inline const std::array<Field<Row>, 1> kRowFields = {{{"num", &Row::num}}};

// The text of one variable in one observation. Cells are values, not owned
// records: they are found and changed by (colNum, rowNum) through the Context.
struct Cell {
  OptText data;
  OptInt colNum;
  OptInt rowNum;
  bool operator==(const Cell&) const = default;
};

struct WhereClause;

// A saved analysis definition.
struct Analysis : Record {
  OptText name;
  OptInt type;
  OptReal lastOpened;  // seconds since 1970-01-01 00:00 UTC
  Column* left = nullptr;
  Column* right = nullptr;
  std::vector<Column*> columns;
  std::vector<WhereClause*> wheres;
  std::vector<WhereClause*> wheres2;
  OptInt distribution, test, tails, samples;
  OptFlag isPaired;
  OptReal expected;
  OptText leftLevel1;
  OptText rightLevel1;
  OptFlag includeMissing;
  OptInt twoWayPercAgg, twoWayPercDisplay;
  bool operator==(const Analysis& o) const;
};

// The attributes of Analysis (its relationships left, right, columns,
// wheres and wheres2 are mapped by the store).
inline const std::array<Field<Analysis>, 14> kAnalysisFields = {{
    {"name", &Analysis::name},
    {"type", &Analysis::type},
    {"lastOpened", &Analysis::lastOpened},
    {"distribution", &Analysis::distribution},
    {"test", &Analysis::test},
    {"tails", &Analysis::tails},
    {"samples", &Analysis::samples},
    {"isPaired", &Analysis::isPaired},
    {"expected", &Analysis::expected},
    {"leftLevel1", &Analysis::leftLevel1},
    {"rightLevel1", &Analysis::rightLevel1},
    {"includeMissing", &Analysis::includeMissing},
    {"twoWayPercAgg", &Analysis::twoWayPercAgg},
    {"twoWayPercDisplay", &Analysis::twoWayPercDisplay},
}};

inline bool Analysis::operator==(const Analysis& o) const {
  return objectID == o.objectID && left == o.left && right == o.right && columns == o.columns &&
         wheres == o.wheres && wheres2 == o.wheres2 && sameFields(kAnalysisFields, *this, o);
}

// One filter condition of an analysis.
struct WhereClause : Record {
  Column* x = nullptr;
  OptInt op;
  OptText c;
  std::optional<std::vector<std::string>> levels;
  Analysis* whereOfAnalysis = nullptr;
  Analysis* where2OfAnalysis = nullptr;
  bool operator==(const WhereClause&) const = default;
};

// The plain attributes of WhereClause (x, levels and the two analyses are
// mapped by the store).
inline const std::array<Field<WhereClause>, 2> kWhereClauseFields = {
    {{"op", &WhereClause::op}, {"c", &WhereClause::c}}};

}  // namespace tabulix
