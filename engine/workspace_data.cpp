#include "engine/workspace_data.h"

#include <algorithm>

#include "engine/log.h"
#include "engine/translate.h"

namespace tabulix {

std::vector<Column*> columns(Model& model) {
  return model.context().fetch(FetchRequest<Column>{{}, {sortBy(&Column::order)}});
}

std::vector<Row*> rows(Model& model) {
  return model.context().fetch(FetchRequest<Row>{{}, {sortBy(&Row::num)}});
}

std::vector<Analysis*> analyses(Model& model) {
  return model.context().fetch(FetchRequest<Analysis>{{}, {sortBy(&Analysis::lastOpened, false)}});
}

std::pair<std::string, std::string> variableLimitTexts() {
  return {fillPlaceholders(tr("%d Variable Limit Reached"), {std::to_string(kMaxVariables)}),
          tr("To make room for a new variable please delete an existing one.")};
}

std::string randomSeedKey(std::string_view variableName) { return "randomSeed:" + std::string(variableName); }

std::string variableLimitMessage() {
  auto [title, text] = variableLimitTexts();
  return title + ": " + text;
}

size_t countColumns(Model& model) { return model.context().count(FetchRequest<Column>{}); }

size_t countRows(Model& model) { return model.context().countRows(); }

std::vector<Column*> columnsOfTypes(Model& model, const std::set<VariableType>& types) {
  FetchRequest<Column> req;
  req.predicate = [&](const Column& c) { return c.type && types.count(static_cast<VariableType>(*c.type)); };
  req.sortDescriptors = {sortBy(&Column::order)};
  return model.context().fetch(req);
}

Column* columnNumber(Model& model, uint32_t n) {
  FetchRequest<Column> req;
  req.predicate = [n](const Column& c) {
    return c.num && static_cast<int64_t>(*c.num) == static_cast<int64_t>(n);
  };
  auto found = model.context().fetch(req);
  if (found.size() > 1) logLine("More than one column found with same number.");
  return found.empty() ? nullptr : found.front();
}

std::vector<VariableType> variableTypesForColumn(const Column& column) {
  std::vector<VariableType> types;
  if (column.obsNumeric.value_or(0) >= 1) types.push_back(VariableType::Numeric);
  if (column.obsDate.value_or(0) >= 1) types.push_back(VariableType::DateTime);
  if (column.levels.value_or(0) == 2) types.push_back(VariableType::Binary);
  types.push_back(VariableType::Categorical);
  return types;
}

VariableType guessTypeOfColumn(const Column& column) {
  int64_t N = column.obs.value_or(0), n = column.obsNumeric.value_or(0), d = column.obsDate.value_or(0);
  int64_t t = N - n - d;
  if (n >= t && n >= d) return VariableType::Numeric;
  if (d < t) return column.levels.value_or(0) == 2 ? VariableType::Binary : VariableType::Categorical;
  return VariableType::DateTime;
}

bool nameIsValid(Model& model, std::string_view name) {
  if (name.empty()) return false;
  for (Column* c : model.context().allColumns())
    if (c->name && *c->name == name) return false;
  return true;
}

void addColumns(Model& model, const std::vector<std::string>& names) {
  for (size_t i = 0; i < names.size(); ++i) {
    Column* c = model.context().insertColumn();
    c->name = names[i];
    c->num = static_cast<int32_t>(i);
    c->order = static_cast<int32_t>(i);
    c->type = static_cast<int32_t>(VariableType::Unknown);
  }
  model.saveContext();
}

void addRow(Model& model, uint32_t num, std::span<const std::string> data, const std::vector<Column*>& cols) {
  Context& ctx = model.context();
  auto rowNum = static_cast<int32_t>(num);
  ctx.insertRow(rowNum);
  for (Column* c : cols) {
    if (!c->num) continue;
    auto idx = static_cast<size_t>(*c->num);
    ctx.setCellText(*c->num, rowNum, *c->num >= 0 && idx < data.size() ? std::string_view(data[idx]) : "");
  }
}

void addEmptyRow(Model& model) {
  auto cols = columns(model);
  std::vector<std::string> empty(cols.size());
  addRow(model, static_cast<uint32_t>(countRows(model) + 1), empty, cols);
}

Column* addEmptyColumn(Model& model) {
  Context& ctx = model.context();
  auto existing = ctx.allColumns();
  int32_t num = 0;
  for (Column* c : existing)
    if (c->num) num = std::max(num, *c->num + 1);
  Column* c = ctx.insertColumn();
  c->num = num;
  c->name = "Var" + std::to_string(static_cast<uint32_t>(num) + 1);
  c->order = static_cast<int32_t>(existing.size());
  for (Row* r : ctx.allRows())
    if (r->num) ctx.setCellText(num, *r->num, "");
  return c;
}

void removeColumn(Model& model, Column* column) {
  if (!column) return;
  int32_t order = column->order.value_or(INT32_MAX);
  for (Column* c : model.context().allColumns())
    if (c != column && c->order && *c->order > order) *c->order -= 1;
  model.context().deleteObject(column);
  model.saveContext();
}

void changeColumn(Model& model, Column* column, VariableType type) {
  column->type = static_cast<int32_t>(type);
  model.saveContext();
}

}  // namespace tabulix
