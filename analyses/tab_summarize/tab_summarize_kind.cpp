// The one-way analysis of variance as an analysis kind: the summarized
// variable (left), the grouping variable (right), the filter, and the
// view shown ("view": box or density).
#include "analyses/analysis_kind.h"
#include "analyses/definitions.h"
#include "analyses/tab_summarize/tab_summarize.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"

namespace tabulix {

namespace {

Column& variableAt(Model& model, int32_t num, int position) {
  return tabulix::variableAt(model, num, TabSummarize, position, [](const Column& c) {
    const int t = c.type.value_or(0);
    return "variable \"" + c.name.value_or("") + "\" has a type (" +
           variableTypeName(static_cast<VariableType>(t >= 0 && t <= 4 ? t : 0)) +
           ") this position does not accept";
  });
}

}  // namespace

AnalysisOutput runTabSummarize(Model& model, const AnalysisRequest& request) {
  if (!request.left || !request.right)
    throw AnalysisRequestError(tr("Please choose two variables to analyze."));
  TabSummarizeContext context;
  // The description has checked the view (box or density).
  if (auto view = request.settings.find("view"); view != request.settings.end())
    context.boxPlot = view->second != "density";
  // The description has checked the post-hoc choice too.
  PostHoc postHoc = PostHoc::None;
  if (auto chosen = request.settings.find("postHoc"); chosen != request.settings.end())
    postHoc = postHocFromText(chosen->second).value_or(PostHoc::None);
  Column& left = variableAt(model, *request.left, 1);
  Column& right = variableAt(model, *request.right, 2);
  auto rows = rowsWhere(model, request.wheres);
  TabSummarizeResult result = tabColumnSummarizing(model, right, left, 20, rows ? &*rows : nullptr, postHoc);
  context.leftName = left.name.value_or("");
  context.rightName = right.name.value_or("");
  context.filterText = stringForWhereSet(model, request.wheres);
  AnalysisOutput out;
  out.result = toJson(result);
  out.result["filters"] = context.filterText;
  out.result["interpretation"] = tabSummarizeInterpretation(result, context);
  out.csvLines = [result, context](CsvWriter& w) { writeCSVLines(result, context, w); };
  out.screen = tabSummarizeLayout(result, context, false);
  out.print = tabSummarizeLayout(result, context, true);
  out.baseName = tabSummarizeBaseName(context);
  return out;
}

AnalysisKind tabSummarizeKind() {
  AnalysisKind k;
  k.name = "summarize";
  k.type = TabSummarize;
  k.run = runTabSummarize;
  k.title = "One-way ANOVA";
  k.noun = "the one-way ANOVA";
  k.positions = {{"left", "Choose Numeric Variable", typesAt(TabSummarize, 1)},
                 {"right", "Choose Categorical Variable", typesAt(TabSummarize, 2)}};
  SettingDescription view{"view",
                          SettingKind::Choice,
                          {"box", "density"},
                          "box",
                          "",
                          "View",
                          "Box plots or density curves of the groups."};
  view.valueLabels = {"Box Plot", "Density Plot"};
  SettingDescription postHoc{"postHoc",
                             SettingKind::Choice,
                             {"none", "tukey", "gamesHowell"},
                             "none",
                             "",
                             "Post-hoc comparisons",
                             "Compare every pair of groups: Tukey's HSD (equal variances) or Games–Howell."};
  postHoc.valueLabels = {"None", "Tukey", "Games–Howell"};
  k.settings = {view, postHoc};
  return k;
}

}  // namespace tabulix
