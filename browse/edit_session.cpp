#include "browse/edit_session.h"

#include "engine/cell_access.h"
#include "engine/log.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"

namespace tabulix {

namespace {

bool rowExists(Model& model, int32_t rowNum) {
  // The context keeps the rows it loaded: later lookups only scan them.
  for (Row* r : model.context().allRows())
    if (r->num && *r->num == rowNum) return true;
  return false;
}

}  // namespace

void saveOrThrow(Model& model) {
  try {
    model.saveContext();
  } catch (const StoreError& e) {
    reportStoreError(e);
    throw EditError(tr("The workspace could not be saved."));
  }
}

bool EditSession::editCell(Model& model, int32_t colNum, int32_t rowNum, std::string text) {
  if (colNum < 0 || !columnNumber(model, static_cast<uint32_t>(colNum)))
    throw EditError("no variable numbered " + std::to_string(colNum));
  auto key = std::make_pair(colNum, rowNum);
  auto pending = edits_.find(key);
  std::string current;
  if (pending != edits_.end()) {
    current = pending->second;
  } else {
    auto cell = model.context().cellAt(colNum, rowNum);
    if (!cell && !rowExists(model, rowNum)) throw EditError("no row " + std::to_string(rowNum));
    current = cell && cell->data ? *cell->data : std::string();
  }
  if (text == current) return false;
  edits_[key] = std::move(text);
  changed_.insert(colNum);
  return true;
}

const std::string* EditSession::pendingText(int32_t colNum, int32_t rowNum) const {
  auto it = edits_.find({colNum, rowNum});
  return it == edits_.end() ? nullptr : &it->second;
}

void EditSession::applyTo(Model& model) {
  for (auto& [key, text] : edits_) model.context().setCell(key.first, key.second, text);
  // The edited variables' figures are computed again after the session;
  // until then they are unknown, not the old ones.
  for (int32_t colNum : changedColumns())
    if (Column* c = colNum >= 0 ? columnNumber(model, static_cast<uint32_t>(colNum)) : nullptr)
      clearBasicStats(*c);
  edits_.clear();
}

std::string EditSession::stepName(Model& model) const {
  if (changed_.size() == 1) {
    Column* c = columnNumber(model, static_cast<uint32_t>(*changed_.begin()));
    std::string name = c ? c->name.value_or("") : std::string();
    if (edits_.size() == 1) return fillPlaceholders(tr("edit a cell of %@"), {name});
    return fillPlaceholders(tr("edit %d cells of %@"), {std::to_string(edits_.size()), name});
  }
  return fillPlaceholders(tr("edit %d cells of %d variables"),
                          {std::to_string(edits_.size()), std::to_string(changed_.size())});
}

void storeEdits(Model& model, EditSession& session) {
  if (session.size() == 0) return;
  StepScope step(model.context(), session.stepName(model));
  session.applyTo(model);
  saveOrThrow(model);
}

bool renameVariable(Model& model, int32_t colNum, const std::string& name) {
  Column* column = colNum >= 0 ? columnNumber(model, static_cast<uint32_t>(colNum)) : nullptr;
  if (!column) throw EditError("no variable numbered " + std::to_string(colNum));
  if (name.empty()) return false;
  for (Column* c : columns(model))
    if (c != column && c->name && *c->name == name) return false;
  StepScope step(model.context(), fillPlaceholders(tr("rename %@ to %@"), {column->name.value_or(""), name}));
  column->name = name;
  saveOrThrow(model);
  return true;
}

Column* addVariable(Model& model) {
  if (countColumns(model) >= kMaxVariables) throw EditError(variableLimitMessage());
  Column* c = addEmptyColumn(model);
  StepScope step(model.context(), fillPlaceholders(tr("add variable %@"), {c->name.value_or("")}));
  saveOrThrow(model);
  return c;
}

std::string rowLimitMessage() { return tr("A workspace holds at most 100,000 observations."); }

void addRows(Model& model, uint32_t count) {
  // A workspace beyond the limit would be refused by every later open.
  if (countRows(model) + count > kMaxWorkspaceRows) throw EditError(rowLimitMessage());
  StepScope step(model.context(),
                 count == 1 ? tr("add a row") : fillPlaceholders(tr("add %d rows"), {std::to_string(count)}));
  for (uint32_t i = 0; i < count; ++i) addEmptyRow(model);
  saveOrThrow(model);
}

std::vector<ColumnStatistics> statisticsForColumns(Model& worker, const std::set<int32_t>& colNums,
                                                   const std::function<bool(const std::string&)>& progress) {
  std::vector<ColumnStatistics> out;
  for (int32_t num : colNums) {
    Column* c = columnNumber(worker, static_cast<uint32_t>(num));
    if (!c) continue;  // deleted meanwhile
    out.push_back({num, c->name.value_or(""), dictBasicStatsForColumn(worker, *c)});
    if (progress && !progress(out.back().name)) break;
  }
  return out;
}

void applyColumnStatistics(Model& model, const ColumnStatistics& result) {
  Column* c = columnNumber(model, static_cast<uint32_t>(result.colNum));
  // Figures that are no longer unknown belong to other cells: an undo or
  // redo since the session stored its edits brought back the cells and
  // figures of another moment.
  if (!c || !needCalcBasicStatsForColumn(*c)) return;
  applyBasicStats(result.stats, *c);
  c->type = static_cast<int32_t>(guessTypeOfColumn(*c));
}

std::vector<int32_t> endEditing(Model& model, EditSession& session,
                                const std::function<void(const std::string&)>& progress) {
  const std::set<int32_t> changed = session.changedColumns();
  storeEdits(model, session);
  std::vector<int32_t> done;
  Model worker(model.coordinator());
  for (const ColumnStatistics& r : statisticsForColumns(worker, changed)) {
    if (progress) progress(r.name);
    applyColumnStatistics(model, r);
    done.push_back(r.colNum);
  }
  saveOrThrow(model);
  return done;
}

}  // namespace tabulix
