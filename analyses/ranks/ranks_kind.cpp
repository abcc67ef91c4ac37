// Tests on ranks as an analysis kind: sample 1 (left) against an expected
// value, paired with sample 2 (right), or against sample 2 over its own
// filter (wheres2); or three or more related variables (columns) for
// Friedman's test. Settings: samples (1, 2 or related), isPaired, tails,
// expected.
#include <cmath>

#include "analyses/analysis_kind.h"
#include "analyses/definitions.h"
#include "analyses/ranks/ranks.h"
#include "analyses/sample_groups.h"
#include "engine/cell_access.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "engine/values.h"
#include "engine/workspace_data.h"
#include "textio/plain_number.h"

namespace tabulix {

namespace {

Column& numericVariable(Model& model, int32_t num) {
  Column* c = columnNumber(model, static_cast<uint32_t>(num));
  if (!c) throw AnalysisRequestError("no variable numbered " + std::to_string(num));
  if (c->type.value_or(0) != static_cast<int32_t>(VariableType::Numeric))
    throw AnalysisRequestError(fillPlaceholders(tr("Tests on ranks need Numeric variables; %@ is not one."),
                                                {c->name.value_or("")}));
  return *c;
}

std::vector<double> valuesOf(Model& model, const Column& column, const std::vector<int32_t>* rows) {
  std::vector<double> v =
      numericOfCells(model, cellsForColumn(model, column, {}, rows), VariableType::Numeric);
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
    // Related variables left from another setting are kept with a saved analysis but not used.
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
        if (const auto groups = sampleGroupsOf(model, request)) {
          c.grouped = true;
          c.groupedName =
              fillPlaceholders(tr("%@ by %@"), {left.name.value_or(""), groups->group->name.value_or("")});
          c.names = {groups->first, groups->second};
        }
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
  k.type = Ranks;
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
                             "samples",
                             "Samples",
                             "One sample against an expected value, two samples, or three or more related "
                             "variables (Friedman)."};
  samples.valueLabels = {"One sample", "Two samples", "Related samples"};
  // Related samples are stored as 3 in the samples field the hypothesis tests use for 1 and 2.
  samples.load = [](const Analysis& a, char) -> std::optional<std::string> {
    if (!a.samples) return std::nullopt;
    return *a.samples == 3 ? std::string("related") : std::to_string(*a.samples);
  };
  samples.store = [](Model&, Analysis& a, const std::string& v) {
    a.samples = v == "related" ? 3 : v == "2" ? 2 : 1;
  };
  SettingDescription tails{"tails",
                           SettingKind::Choice,
                           {"0", "1", "2"},
                           "0",
                           "tails",
                           "Alternative hypothesis is",
                           "Two-sided (0), less than (1) or greater than (2)."};
  tails.valueLabels = {"Two tails", "One tail less", "One tail greater"};
  SettingDescription expected{"expected",
                              SettingKind::Text,
                              {},
                              "",
                              "expected",
                              "to value",
                              "The median a single sample is tested against."};
  // Saved as the number it reads as, handed back in the workspace's decimal separator.
  expected.load = [](const Analysis& a, char separator) -> std::optional<std::string> {
    if (!a.expected || !std::isfinite(*a.expected)) return std::nullopt;
    return plainDecimalText(*a.expected, separator);
  };
  // A text that does not read leaves the saved value as it was (the compute says why).
  expected.store = [](Model& model, Analysis& a, const std::string& v) {
    if (const auto value = decimalNumberForString(model, v); value && std::isfinite(*value))
      a.expected = *value;
  };
  k.settings = {
      samples,
      {"isPaired", SettingKind::Flag, {}, "0", "isPaired", "Paired", "Whether two samples are paired."},
      tails,
      expected};
  // Pairing belongs to two samples only.
  k.settle = [](Analysis& a, const std::map<std::string, std::string>& given) {
    if (given.count("samples") && a.samples.value_or(1) != 2) a.isPaired = false;
  };
  return k;
}

}  // namespace tabulix
