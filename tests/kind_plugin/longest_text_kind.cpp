// A kind that lives in this one file and registers itself: the longest
// text of a variable, counted in bytes or in characters. Nothing else of
// the program names it; the CLI's options, the request checks, /api/kinds
// and /api/analyze all come from its description.
#include <algorithm>

#include "analyses/analysis_kind.h"
#include "engine/cell_access.h"
#include "engine/workspace_data.h"

namespace tabulix {
namespace {

size_t characters(const std::string& text) {
  // UTF-8: every byte but the continuation bytes starts a character.
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

AnalysisOutput runLongestText(Model& model, const AnalysisRequest& request) {
  if (!request.left) throw AnalysisRequestError("Choose a variable.");
  Column* column = columnNumber(model, static_cast<uint32_t>(*request.left));
  if (!column) throw AnalysisRequestError("no such variable");
  const bool bytes = request.settings.count("unit") && request.settings.at("unit") == "bytes";
  auto rows = rowsWhere(model, request.wheres);
  std::string longest;
  size_t length = 0;
  for (const Cell& c : cellsForColumn(model, *column, {}, rows ? &*rows : nullptr)) {
    const std::string text = c.data.value_or("");
    const size_t n = bytes ? text.size() : characters(text);
    if (n > length) length = n, longest = text;
  }
  const std::string name = column->name.value_or("");
  AnalysisOutput out;
  out.result = {{"name", name}, {"longest", longest}, {"length", length}};
  out.result["filters"] = stringForWhereSet(model, request.wheres);
  out.csvLines = [name, longest, length](CsvWriter& w) {
    w.writeField(name);
    w.writeField(longest);
    w.writeField(static_cast<double>(length));
    w.finishLine();
  };
  out.screen = reports::container({0, 0, 320, 40}, {reports::label(longest, {0, 0, 320, 20})});
  out.print = out.screen;
  out.baseName = "Longest text of " + name;
  return out;
}

AnalysisKind longestTextKind() {
  AnalysisKind k;
  k.name = "longest";
  k.run = runLongestText;
  k.title = "Longest text";
  k.noun = "the longest text";
  k.positions = {{"left", "Variable", {VariableType::Categorical, VariableType::Binary}}};
  SettingDescription unit{"unit", SettingKind::Choice, {"characters", "bytes"}, "characters", "", "Count",
                          "Whether the length counts characters or bytes."};
  k.settings = {unit};
  return k;
}

const bool registered = (registerAnalysisKind(longestTextKind()), true);

}  // namespace
}  // namespace tabulix
