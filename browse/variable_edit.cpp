#include "browse/variable_edit.h"

#include <algorithm>
#include <charconv>
#include <set>

#include "analyses/definitions.h"
#include "browse/edit_session.h"
#include "engine/cell_access.h"
#include "engine/missing_codes.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"

namespace tabulix {
namespace {

Column* variableOrThrow(Model& model, int32_t colNum) {
  Column* c = colNum >= 0 ? columnNumber(model, static_cast<uint32_t>(colNum)) : nullptr;
  if (!c) throw EditError("no variable numbered " + std::to_string(colNum));
  return c;
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

VariableType variableTypeNamed(const std::string& name) {
  const std::string n = lower(name);
  for (VariableType t :
       {VariableType::Categorical, VariableType::Binary, VariableType::Numeric, VariableType::DateTime})
    if (n == lower(variableTypeName(t)) || n == lower(variableTypeKey(static_cast<int32_t>(t)))) return t;
  return VariableType::Unknown;
}

std::optional<std::string> typeRefusedFor(Model& model, Column& column, VariableType type) {
  // The offer rests on the cached counts: bring them up to date first.
  if (needCalcBasicStatsForColumn(column)) basicStatsForColumn(model, column);
  auto allowed = variableTypesForColumn(column);
  if (std::find(allowed.begin(), allowed.end(), type) != allowed.end()) return std::nullopt;
  std::string names;
  for (VariableType t : allowed) names += (names.empty() ? "" : ", ") + variableTypeName(t);
  return names;
}

void changeVariableType(Model& model, int32_t colNum, VariableType type) {
  Column* c = variableOrThrow(model, colNum);
  if (auto allowed = typeRefusedFor(model, *c, type))
    throw EditError("\"" + c->name.value_or("") + "\" cannot be " + variableTypeName(type) +
                    ": its types are " + *allowed);
  StepScope step(model.context(),
                 fillPlaceholders(tr("make %@ %@"), {c->name.value_or(""), variableTypeName(type)}));
  changeColumn(model, c, type);
  saveOrThrow(model);
}

void setMissingCodes(Model& model, int32_t colNum, const std::vector<std::string>& codes) {
  Column* c = variableOrThrow(model, colNum);
  if (codes.size() > kMaxMissingCodes)
    throw EditError("\"" + c->name.value_or("") + "\": at most " + std::to_string(kMaxMissingCodes) +
                    " missing-value codes");
  StepScope step(model.context(),
                 fillPlaceholders(tr("set the missing-value codes of %@"), {c->name.value_or("")}));
  setStoredMissingCodes(*c, codes);
  basicStatsForColumn(model, *c);
  c->type = static_cast<int32_t>(guessTypeOfColumn(*c));
  saveOrThrow(model);
}

std::vector<Analysis*> analysesUsingVariable(Model& model, const Column& column) {
  std::vector<Analysis*> out;
  auto uses = [&](const Analysis& a) {
    if (a.left == &column || a.right == &column) return true;
    if (std::find(a.columns.begin(), a.columns.end(), &column) != a.columns.end()) return true;
    for (const auto* list : {&a.wheres, &a.wheres2})
      for (const WhereClause* w : *list)
        if (w && w->x == &column) return true;
    return false;
  };
  for (Analysis* a : analyses(model))
    if (uses(*a)) out.push_back(a);
  return out;
}

std::string analysisNames(Model& model, const std::vector<Analysis*>& list) {
  std::string out;
  for (const Analysis* a : list) {
    std::string title = summaryForAnalysis(model, *a).title;
    out += (out.empty() ? "" : ", ") + ("\"" + title + "\" (id " + std::to_string(a->objectID.rowid) + ")");
  }
  return out;
}

void deleteVariable(Model& model, int32_t colNum) {
  Column* c = variableOrThrow(model, colNum);
  StepScope step(model.context(), fillPlaceholders(tr("delete variable %@"), {c->name.value_or("")}));
  removeColumn(model, c);
  saveOrThrow(model);
}

std::vector<int32_t> parseRowList(const std::string& text) {
  std::set<int32_t> rows;
  auto number = [&](std::string_view s) {
    int32_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v < 1)
      throw EditError("\"" + std::string(s) + "\" is not a row number");
    return v;
  };
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    std::string_view part =
        std::string_view(text).substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
    size_t dash = part.find('-');
    if (dash == std::string_view::npos) {
      rows.insert(number(part));
    } else {
      int32_t a = number(part.substr(0, dash)), b = number(part.substr(dash + 1));
      if (b < a) throw EditError("\"" + std::string(part) + "\" is not a range of rows");
      if (b - a >= 100000)
        throw EditError("\"" + std::string(part) + "\" is more rows than a workspace holds");
      for (int32_t r = a; r <= b; ++r) rows.insert(r);
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return {rows.begin(), rows.end()};
}

void deleteRows(Model& model, const std::vector<int32_t>& rowNums, EditSession* pending) {
  std::set<int32_t> present;
  for (Row* r : rows(model))
    if (r->num) present.insert(*r->num);
  for (int32_t r : rowNums)
    if (!present.count(r)) throw EditError("no row " + std::to_string(r));
  StepScope step(model.context(),
                 rowNums.size() == 1
                     ? fillPlaceholders(tr("delete row %d"), {std::to_string(rowNums[0])})
                     : fillPlaceholders(tr("delete %d rows"), {std::to_string(rowNums.size())}));
  std::set<int32_t> edited;
  if (pending) {
    edited = pending->changedColumns();
    pending->applyTo(model);
  }
  model.context().deleteRows(rowNums);
  // Every variable lost values: its figures change, its type (chosen or
  // guessed) stays, unless its cells were edited.
  for (Column* c : columns(model)) {
    basicStatsForColumn(model, *c);
    if (c->num && edited.count(*c->num)) c->type = static_cast<int32_t>(guessTypeOfColumn(*c));
  }
  saveOrThrow(model);
}

}  // namespace tabulix
