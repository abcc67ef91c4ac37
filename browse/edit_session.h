// The editing cycle of the Browse grid: cell edits held by one editing
// session until it ends, renames and additions stored at once, and leaving
// edit mode: store the edits, recompute the statistics and type of every
// edited variable off the caller's thread, apply them, save.
//
// One writer: the session never writes the store itself. `applyTo`,
// `renameVariable`, `addVariable`, `addRows` and `applyColumnStatistics` are
// called with the model that owns the workspace (under its lock in the
// server); `statisticsForColumns` only reads, through a worker Model.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/cell_access.h"
#include "engine/model.h"

namespace tabulix {

// An edit that names a row or variable the workspace does not have, or a
// refused rename or addition; the message names it.
struct EditError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The cell edits of one editing session, not yet stored.
class EditSession {
 public:
  // Records the text typed into a cell, as typed. Returns false (and records
  // nothing) when it equals the cell's current text, pending edits included.
  // Throws EditError when the workspace has no such row or variable.
  bool editCell(Model& model, int32_t colNum, int32_t rowNum, std::string text);
  // The pending text of a cell, or nullptr when it was not edited.
  const std::string* pendingText(int32_t colNum, int32_t rowNum) const;
  // The variables (by number) whose cells were edited.
  const std::set<int32_t>& changedColumns() const { return changed_; }
  // The number of pending cell edits.
  size_t size() const { return edits_.size(); }
  // Stores every pending edit in the model's context (not saved) and empties the session.
  void applyTo(Model& model);
  // The name of the history step the pending edits make ("edit 3 cells of Ozone").
  std::string stepName(Model& model) const;

 private:
  std::map<std::pair<int32_t, int32_t>, std::string> edits_;  // (colNum, rowNum) -> text
  std::set<int32_t> changed_;
};

// Stores the session's edits and saves, as one step of the workspace's
// history; nothing when none are pending.
void storeEdits(Model& model, EditSession& session);

// Renames a variable and saves; refused (false, nothing changed) when the
// name is empty or another variable has it.
bool renameVariable(Model& model, int32_t colNum, const std::string& name);
// Appends an empty variable and saves; throws EditError at the variable limit.
Column* addVariable(Model& model);
// Appends `count` empty rows and saves; throws EditError (nothing added)
// when the workspace would hold more than kMaxWorkspaceRows.
void addRows(Model& model, uint32_t count);
// What refusing rows beyond the limit says.
std::string rowLimitMessage();
// What refusing a variable beyond the limit says (its title and message).
std::string variableLimitMessage();

// A variable's freshly computed statistics, to be applied by the owning model.
struct ColumnStatistics {
  int32_t colNum = 0;
  std::string name;
  BasicStats stats;
};
// Computes the statistics of the given variables with a worker Model on the
// workspace's coordinator (it only reads). `progress` hears each variable's
// name as it is done and may return false to stop.
std::vector<ColumnStatistics> statisticsForColumns(
    Model& worker, const std::set<int32_t>& colNums,
    const std::function<bool(const std::string&)>& progress = {});
// Applies one variable's statistics and guessed type (replacing a type set
// by hand), unless its figures are known again (an undo or redo since).
// Does not save.
void applyColumnStatistics(Model& model, const ColumnStatistics& result);

// Leaving edit mode in one thread (the command line): stores the edits,
// saves, computes and applies the statistics of the edited variables, saves
// again. Returns the variables that were processed, in number order.
std::vector<int32_t> endEditing(Model& model, EditSession& session,
                                const std::function<void(const std::string&)>& progress = {});

// Throws EditError when a save failed (the store reported it already).
void saveOrThrow(Model& model);

}  // namespace tabulix
