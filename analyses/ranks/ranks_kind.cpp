// Tests on ranks as an analysis kind: sample 1 (left) against an expected
// value, paired with sample 2 (right), or against sample 2 over its own
// filter (wheres2); or three or more related variables (columns) for
// Friedman's test. Settings: samples (1, 2 or related), isPaired, tails,
// expected.
#include "analyses/analysis_kind.h"
#include "analyses/ranks/ranks.h"
#include "engine/cell_access.h"
#include "engine/translate.h"
#include "engine/values.h"
#include "engine/workspace_data.h"

namespace tabulix {

namespace {

Column& numericVariable(Model& model, int32_t num) {
  Column* c = columnNumber(model, static_cast<uint32_t>(num));
  if (!c) throw AnalysisRequestError("no variable numbered " + std::to_string(num));
  if (c->type.value_or(0) != static_cast<int32_t>(VariableType::Numeric))
    throw AnalysisRequestError(
        fillPlaceholders(tr("Tests on ranks need Numeric variables; %@ is not one."), {c->name.value_or("")}));
  return *c;
}

std::vector<double> valuesOf(Model& model, const Column& column, const std::vector<int32_t>* rows) {
  std::vector<double> v = numericOfCells(model, cellsForColumn(model, column, {}, rows), VariableType::Numeric);
  std::erase_if(v, [](double x) { return std::isnan(x); });
  return v;
}

}  // namespace

AnalysisOutput runRanks(Model& model, const AnalysisRequest& request) {
  RanksContext c;
  std::string samples = "1";
  bool paired = false;
  std::string expectedText;
  // The description has checked each setting's value.
  for (const auto& [key, value] : request.settings) {
    if (key == "samples")
      samples = value;
    else if (key == "isPaired")
      paired = value == "1" || value == "true";
    else if (key == "tails")
      c.tails = value[0] - '0';
    else if (key == "expected")
      expectedText = value;
  }
  auto rows = rowsWhere(model, request.wheres);
  const std::vector<int32_t>* rows1 = rows ? &*rows : nullptr;
  c.filterText1 = stringForWhereSet(model, request.wheres);
  std::vector<std::vector<double>> values;
  if (samples == "related") {
    c.test = RankTest::Friedman;
    if (request.columns.size() < 3) throw AnalysisRequestError(tr("Choose three or more related variables."));
    std::vector<Column*> cols;
    for (int32_t num : request.columns) {
      cols.push_back(&numericVariable(model, num));
      c.names.push_back(cols.back()->name.value_or(""));
    }
    values = numericOfColumns(model, cols, rows1).Xmat;
  } else {
    if (!request.columns.empty()) throw AnalysisRequestError("only related samples take --columns");
    if (!request.left) throw AnalysisRequestError(tr("Choose a variable to sample."));
    Column& left = numericVariable(model, *request.left);
    c.names.push_back(left.name.value_or(""));
    if (samples == "1") {
      c.test = RankTest::SignedRank;
      if (expectedText.empty()) throw AnalysisRequestError(tr("Enter an expected value."));
      auto v = decimalNumberForString(model, expectedText);
      if (!v || !std::isfinite(*v))
        throw AnalysisRequestError(tr("Sample is a numeric variable. Expected value must be numeric."));
      c.expected = *v;
      values.push_back(valuesOf(model, left, rows1));
    } else {
      if (!request.right)
        throw AnalysisRequestError(tr("Please define a second sample to perform a two sample test."));
      Column& right = numericVariable(model, *request.right);
      c.names.push_back(right.name.value_or(""));
      if (paired) {
        c.test = RankTest::PairedSignedRank;
        values = numericOfColumns(model, {&left, &right}, rows1).Xmat;
      } else {
        c.test = RankTest::RankSum;
        auto rows2 = rowsWhere(model, request.wheres2);
        c.filterText2 = stringForWhereSet(model, request.wheres2);
        values.push_back(valuesOf(model, left, rows1));
        values.push_back(valuesOf(model, right, rows2 ? &*rows2 : nullptr));
      }
    }
  }
  RanksResult result = rankTests(c, values);
  AnalysisOutput out;
  out.result = toJson(result, c);
  out.result["filters"] = c.filterText1;
  if (c.test == RankTest::RankSum) out.result["filters2"] = c.filterText2;
  out.result["hypothesis"] = ranksHypothesisStatement(c);
  out.result["interpretation"] = ranksInterpretation(result, c);
  out.csvLines = [result, c](CsvWriter& w) { writeCSVLines(result, c, w); };
  out.screen = ranksLayout(result, c, false);
  out.print = ranksLayout(result, c, true);
  out.baseName = ranksBaseName(c);
  return out;
}

AnalysisKind ranksKind() {
  AnalysisKind k;
  k.name = "ranks";
  k.run = runRanks;
  k.title = "Tests on Ranks";
  k.noun = "the tests on ranks";
  k.secondFilter = true;
  const std::vector<VariableType> numeric = {VariableType::Numeric};
  k.positions = {{"left", "Sample 1", numeric, 0, 1},
                 {"right", "Sample 2", numeric, 0, 1},
                 {"columns", "Related variables", numeric, 0, kMaxAnalysisVariables}};
  SettingDescription samples{"samples",
                             SettingKind::Choice,
                             {"1", "2", "related"},
                             "1",
                             "",
                             "Samples",
                             "One sample against an expected value, two samples, or three or more related "
                             "variables (Friedman)."};
  samples.valueLabels = {"One sample", "Two samples", "Related samples"};
  SettingDescription tails{"tails",
                           SettingKind::Choice,
                           {"0", "1", "2"},
                           "0",
                           "",
                           "Alternative hypothesis is",
                           "Two-sided (0), less than (1) or greater than (2)."};
  tails.valueLabels = {"Two tails", "One tail less", "One tail greater"};
  k.settings = {samples,
                {"isPaired", SettingKind::Flag, {}, "0", "", "Paired", "Whether two samples are paired."},
                tails,
                {"expected", SettingKind::Text, {}, "", "", "to value", "The median a single sample is tested against."}};
  return k;
}

}  // namespace tabulix
