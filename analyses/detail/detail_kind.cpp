// The variable detail as an analysis kind: one variable (left), an
// in-memory filter, no settings, never saved.
#include "analyses/analysis_kind.h"
#include "analyses/definitions.h"
#include "analyses/detail/detail_report.h"
#include "engine/workspace_data.h"

namespace tabulix {

AnalysisOutput runVariableDetail(Model& model, const AnalysisRequest& request) {
  if (!request.left) throw AnalysisRequestError("the variable detail needs a variable (--left)");
  if (request.right || !request.columns.empty())
    throw AnalysisRequestError("the variable detail takes one variable (--left) only");
  if (!request.wheres2.empty()) throw AnalysisRequestError("the variable detail has no second-sample filter");
  if (!request.settings.empty())
    throw AnalysisRequestError("the variable detail has no setting \"" + request.settings.begin()->first +
                               "\"");
  Column* column = columnNumber(model, static_cast<uint32_t>(*request.left));
  if (!column) throw AnalysisRequestError("no such variable");
  auto rows = rowsWhere(model, request.wheres);
  VariableDetailResult result = varDetailForColumn(model, *column, rows ? &*rows : nullptr);
  DetailContext context;
  context.name = column->name.value_or("");
  int t = column->type.value_or(0);
  context.columnType = t >= 1 && t <= 4 ? static_cast<VariableType>(t) : VariableType::Unknown;
  context.cachedObs = column->obs.value_or(0);
  context.cachedLevels = column->levels.value_or(0);
  context.filterText = stringForWhereSet(model, request.wheres);
  AnalysisOutput out;
  out.result = toJson(result, request.vectors);
  out.result["filters"] = context.filterText;
  out.result["name"] = context.name;
  out.csvLines = [result, context](CsvWriter& w) { writeCSVLines(result, context, w); };
  out.screen = detailLayout(result, context, false);
  out.print = detailLayout(result, context, true);
  out.baseName = fileNameOutput(context);
  return out;
}

AnalysisKind variableDetailKind() {
  AnalysisKind k;
  k.name = "detail";
  k.type = std::nullopt;
  k.run = runVariableDetail;
  k.title = "Variable Detail";
  k.noun = "the variable detail";
  k.positions = {
      {"left",
       "Variable",
       {VariableType::Categorical, VariableType::Binary, VariableType::Numeric, VariableType::DateTime}}};
  return k;
}

}  // namespace tabulix
