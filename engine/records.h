// The six kinds of stored records of a workspace, as plain structs.
//
// Every attribute is optional: an absent value is distinct from 0 and from "".
// Relationships between records are pointers to records owned by the same
// Context; they stay valid until the context is reset or the record deleted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

// A key/value setting of the workspace.
struct Metadata : Record {
  OptText key;
  OptText value;
  bool operator==(const Metadata&) const = default;
};

// One variable; the attributes from obs down cache its summary statistics.
struct Column : Record {
  OptText name;
  OptInt num;
  OptInt order;
  OptInt type;
  OptInt obs, obsNumeric, obsDate, levels, levelsDate;
  OptReal min, max, mean, sd, pc25, pc50, pc75;
  OptReal minDate, maxDate, meanDate, sdDate, pc25Date, pc50Date, pc75Date;
  bool operator==(const Column& o) const {
    const OptReal Column::*reals[] = {&Column::min,      &Column::max,      &Column::mean,     &Column::sd,
                                      &Column::pc25,     &Column::pc50,     &Column::pc75,     &Column::minDate,
                                      &Column::maxDate,  &Column::meanDate, &Column::sdDate,   &Column::pc25Date,
                                      &Column::pc50Date, &Column::pc75Date};
    for (auto r : reals)
      if (!sameReal(this->*r, o.*r)) return false;
    return objectID == o.objectID && name == o.name && num == o.num && order == o.order && type == o.type &&
           obs == o.obs && obsNumeric == o.obsNumeric && obsDate == o.obsDate && levels == o.levels &&
           levelsDate == o.levelsDate;
  }
};

// One observation.
struct Row : Record {
  OptInt num;
  bool operator==(const Row&) const = default;
};

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
  std::optional<bool> isPaired;
  OptReal expected;
  OptText leftLevel1;
  OptText rightLevel1;
  std::optional<bool> includeMissing;
  OptInt twoWayPercAgg, twoWayPercDisplay;
  bool operator==(const Analysis& o) const {
    return objectID == o.objectID && name == o.name && type == o.type && sameReal(lastOpened, o.lastOpened) &&
           left == o.left && right == o.right && columns == o.columns && wheres == o.wheres && wheres2 == o.wheres2 &&
           distribution == o.distribution && test == o.test && tails == o.tails && samples == o.samples &&
           isPaired == o.isPaired && sameReal(expected, o.expected) && leftLevel1 == o.leftLevel1 &&
           rightLevel1 == o.rightLevel1 && includeMissing == o.includeMissing && twoWayPercAgg == o.twoWayPercAgg &&
           twoWayPercDisplay == o.twoWayPercDisplay;
  }
};

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

}  // namespace tabulix
