// The two-way table as an analysis kind: rows (left), columns (right), the
// filter, and the settings twoWayPercAgg, twoWayPercDisplay, includeMissing.
#include "analyses/analysis_kind.h"
#include "analyses/definitions.h"
#include "analyses/two_way/two_way.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"

namespace tabulix {

namespace {

Column& variableAt(Model& model, int32_t num, int position) {
  return tabulix::variableAt(model, num, TwoWayTab, position, [](const Column& c) {
    return "variable \"" + c.name.value_or("") +
           "\" is not Categorical or Binary, which a two way table needs";
  });
}

// A setting's text, checked against the description already: a digit, or true/false for a flag.
int settingCode(const std::string& value) {
  return value == "true" ? 1 : value.empty() || value == "false" ? 0 : value[0] - '0';
}

}  // namespace

AnalysisOutput runTwoWayTab(Model& model, const AnalysisRequest& request) {
  if (!request.left || !request.right)
    throw AnalysisRequestError(tr("Please choose two variables to analyze."));
  int percAgg = 0;
  TwoWayContext context;
  for (const auto& [key, value] : request.settings) {
    if (key == "twoWayPercAgg")
      percAgg = settingCode(value);
    else if (key == "twoWayPercDisplay")
      context.showPercents = settingCode(value) == 1;
    else if (key == "includeMissing")
      context.includeMissing = settingCode(value) == 1;
    else if (key == "residuals")
      context.showResiduals = settingCode(value) == 1;
  }
  Column& left = variableAt(model, *request.left, 1);
  Column& right = variableAt(model, *request.right, 2);
  auto rows = rowsWhere(model, request.wheres);
  TwoWayResult result =
      twoWayTabOfColumn(model, left, right, 10, percAgg, context.includeMissing, rows ? &*rows : nullptr);
  context.leftName = left.name.value_or("");
  context.rightName = right.name.value_or("");
  context.filterText = stringForWhereSet(model, request.wheres);
  AnalysisOutput out;
  out.result = toJson(result);
  out.result["filters"] = context.filterText;
  out.result["interpretation"] = twoWayInterpretation(result, context);
  if (std::string warning = twoWayExpectedWarning(result); !warning.empty()) out.result["warning"] = warning;
  out.csvLines = [result, context](CsvWriter& w) { writeCSVLines(result, context, w); };
  out.screen = twoWayLayout(result, context, false);
  out.print = twoWayLayout(result, context, true);
  out.baseName = twoWayBaseName(context);
  return out;
}

AnalysisKind twoWayTabKind() {
  AnalysisKind k;
  k.name = "twoway";
  k.type = TwoWayTab;
  k.run = runTwoWayTab;
  k.title = "Two way table of frequencies";
  k.noun = "the two way table";
  k.positions = {{"left", "Rows", typesAt(TwoWayTab, 1)}, {"right", "Columns", typesAt(TwoWayTab, 2)}};
  SettingDescription percentOf{
      "twoWayPercAgg",
      SettingKind::Choice,
      {"0", "1", "2"},
      "0",
      "twoWayPercAgg",
      "Calculate percentages by ",
      "Percentages of the cell's share of the total (0), of its row (1) or column (2)."};
  percentOf.valueLabels = {"Cell", "Row", "Column"};
  k.settings = {percentOf,
                {"twoWayPercDisplay",
                 SettingKind::Flag,
                 {},
                 "1",
                 "twoWayPercDisplay",
                 "Show percents",
                 "Show the percentages in the table's cells."},
                {"includeMissing",
                 SettingKind::Flag,
                 {},
                 "0",
                 "includeMissing",
                 "Include missing values:",
                 "Count missing values as a level of their own."},
                {"residuals",
                 SettingKind::Flag,
                 {},
                 "0",
                 "",
                 "Show residuals",
                 "Add each cell's adjusted standardized residual (observed minus expected, over its standard error)."}};
  return k;
}

}  // namespace tabulix
