#include "browse/level_edit.h"

#include <set>

#include "browse/edit_session.h"
#include "engine/cell_access.h"
#include "engine/level_order.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"

namespace tabulix {

void setLevelOrder(Model& model, int32_t colNum, const std::vector<std::string>& levels, bool check) {
  Column* column = colNum >= 0 ? columnNumber(model, static_cast<uint32_t>(colNum)) : nullptr;
  if (!column) throw EditError("no variable numbered " + std::to_string(colNum));
  // A misspelt level would silently do nothing: refuse it instead.
  std::set<std::string, std::less<>> known;
  if (check)
    for (auto& [text, count] : frequenciesOfColumn(model, *column)) known.insert(text);
  for (const std::string& l : levels)
    if (check && !known.count(l))
      throw EditError("\"" + l + "\" is not a level of \"" + column->name.value_or("") + "\"");
  StepScope step(model.context(),
                 fillPlaceholders(tr("order the levels of %@"), {column->name.value_or("")}));
  setStoredLevelOrder(*column, levels);
  saveOrThrow(model);
}

std::vector<std::string> splitCommaList(const std::string& text) {
  std::vector<std::string> out;
  if (text.empty()) return out;
  std::string item;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == ',' || text[i + 1] == '\\')) {
      item += text[++i];
    } else if (text[i] == ',') {
      out.push_back(std::move(item));
      item.clear();
    } else {
      item += text[i];
    }
  }
  out.push_back(std::move(item));
  return out;
}

}  // namespace tabulix
