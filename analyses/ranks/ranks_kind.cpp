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
  for (const auto& [key, value] : request.settings) {
    if (key == "samples") {
      if (value != "1" && value != "2" && value != "related")
        throw AnalysisRequestError("setting samples: expected 1, 2 or related, not \"" + value + "\"");
      samples = value;
    } else if (key == "isPaired") {
      if (value != "0" && value != "1") throw AnalysisRequestError("setting isPaired: expected 0 or 1, not \"" + value + "\"");
      paired = value == "1";
    } else if (key == "tails") {
      if (value != "0" && value != "1" && value != "2")
        throw AnalysisRequestError("setting tails: expected 0, 1 or 2, not \"" + value + "\"");
      c.tails = value[0] - '0';
    } else if (key == "expected") {
      expectedText = value;
    } else {
      throw AnalysisRequestError("the tests on ranks have no setting \"" + key + "\"");
    }
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

}  // namespace tabulix
