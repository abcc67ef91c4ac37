// The bivariate analysis as an analysis kind: x (left) and y (right), a
// filter, no settings.
#include "analyses/analysis_kind.h"
#include "analyses/correlation/correlation_report.h"
#include "analyses/definitions.h"
#include "engine/workspace_data.h"

namespace tabulix {

AnalysisOutput runCorrelation(Model& model, const AnalysisRequest& request) {
  if (!request.left || !request.right) throw AnalysisRequestError(correlationValidityMessage());
  if (!request.columns.empty())
    throw AnalysisRequestError("the bivariate analysis takes --left and --right only");
  if (!request.wheres2.empty())
    throw AnalysisRequestError("the bivariate analysis has no second-sample filter");
  if (!request.settings.empty())
    throw AnalysisRequestError("the bivariate analysis has no setting \"" + request.settings.begin()->first +
                               "\"");
  Column* x = columnNumber(model, static_cast<uint32_t>(*request.left));
  Column* y = columnNumber(model, static_cast<uint32_t>(*request.right));
  if (!x || !y) throw AnalysisRequestError("no such variable");
  auto rows = rowsWhere(model, request.wheres);
  auto result = std::make_shared<CorrelationResult>(
      correlationResultsForColumn(model, *x, *y, rows ? &*rows : nullptr));
  const std::string filterText = stringForWhereSet(model, request.wheres);
  AnalysisOutput out;
  out.result = toJson(*result, request.vectors);
  out.result["filters"] = filterText;
  out.csvLines = [result, filterText](CsvWriter& w) { writeCSVLines(*result, filterText, w); };
  out.screen = correlationLayout(*result, filterText, false);
  out.print = correlationLayout(*result, filterText, true);
  out.baseName = correlationFileName(result->nameY, result->nameX);
  return out;
}

AnalysisKind correlationKind() {
  AnalysisKind k;
  k.name = "correlation";
  k.type = Correlation;
  k.run = runCorrelation;
  k.title = "Bivariate Analysis";
  k.noun = "the bivariate analysis";
  k.positions = {{"left", "X Variable", typesAt(Correlation, 1)},
                 {"right", "Y Variable", typesAt(Correlation, 2)}};
  return k;
}

}  // namespace tabulix
