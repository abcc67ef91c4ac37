// The hypothesis tests as analysis kinds: "means" (distribution 0, or 1
// which is computed the same way) and "proportions" (distribution 2). The
// settings arrive as texts; `wheres` filters sample 1 (and a paired test's
// rows), `wheres2` sample 2.
#include <algorithm>
#include <set>

#include "analyses/analysis_kind.h"
#include "analyses/hypothesis_test/hypothesis_report.h"
#include "engine/cell_access.h"
#include "engine/translate.h"
#include "engine/values.h"
#include "engine/workspace_data.h"

namespace tabulix {

namespace {

int intSetting(const AnalysisRequest& request, const char* key, int fallback,
               std::initializer_list<int> allowed) {
  auto it = request.settings.find(key);
  if (it == request.settings.end()) return fallback;
  for (int a : allowed)
    if (it->second == std::to_string(a)) return a;
  std::string list;
  for (int a : allowed) list += (list.empty() ? "" : ", ") + std::to_string(a);
  throw AnalysisRequestError("the setting " + std::string(key) + " must be one of " + list + ", not \"" +
                             it->second + "\"");
}

std::string textSetting(const AnalysisRequest& request, const char* key) {
  auto it = request.settings.find(key);
  return it == request.settings.end() ? std::string() : it->second;
}

VariableType typeOf(const Column& column) {
  const int t = column.type.value_or(0);
  return t >= 1 && t <= 4 ? static_cast<VariableType>(t) : VariableType::Unknown;
}

std::vector<int32_t> allRowNumbers(Model& model) {
  std::vector<int32_t> out;
  for (Row* row : rows(model))
    if (row->num) out.push_back(static_cast<int32_t>(*row->num));
  std::sort(out.begin(), out.end());
  return out;
}

// Sample values: numbers (means) or the 0/1 success codes (proportions);
// cells that are not numbers, or empty, count nowhere.
std::vector<double> sampleOf(Model& model, const Column& column, const std::vector<int32_t>& rowNums,
                             const LevelCoding* coding) {
  std::vector<Cell> cells = cellsForColumn(model, column, {}, &rowNums);
  if (!coding) return numericOfCells(model, cells, typeOf(column));
  std::vector<double> out;
  for (int32_t code : factorOfCategorical(cells, &coding->levels).data)
    if (code == 0 || code == 1) out.push_back(code);
  return out;
}

AnalysisOutput runHypothesisTest(Model& model, const AnalysisRequest& request, bool ofProportions) {
  static const std::set<std::string> known = {"samples",  "isPaired",     "tails",      "test",
                                              "expected", "distribution", "leftLevel1", "rightLevel1"};
  for (const auto& [key, value] : request.settings)
    if (!known.count(key)) throw AnalysisRequestError("the hypothesis test has no setting \"" + key + "\"");
  if (!request.columns.empty())
    throw AnalysisRequestError("the hypothesis test takes --left and --right only");
  HypothesisContext c;
  c.distribution = ofProportions ? intSetting(request, "distribution", 2, {2})
                                 : intSetting(request, "distribution", 0, {0, 1});
  c.samples = intSetting(request, "samples", 1, {1, 2});
  c.paired = c.samples == 2 && intSetting(request, "isPaired", 0, {0, 1}) == 1;
  c.tails = intSetting(request, "tails", 0, {0, 1, 2});
  const std::optional<int> storedTest =
      request.settings.count("test") ? std::optional<int>(intSetting(request, "test", 0, {0, 1, 2, 3, 4}))
                                     : std::nullopt;
  c.test = storedTest.value_or(testForDistribution(c.distribution, c.samples, c.paired, 30));

  // The validity check, in the order the screen reports it.
  if (!request.left) throw AnalysisRequestError(tr("Choose a variable to sample."));
  Column* left = columnNumber(model, static_cast<uint32_t>(*request.left));
  if (!left) throw AnalysisRequestError("no such variable");
  c.leftName = left->name.value_or("");
  c.leftType = typeOf(*left);
  Column* right = nullptr;
  if (c.samples != 2) {
    // A typed text is read by the sample's type; a saved value is taken as it is.
    std::optional<double> value = request.expected;
    if (request.settings.count("expected")) {
      const std::string text = textSetting(request, "expected");
      if (text.empty()) throw AnalysisRequestError(tr("Enter an expected value."));
      value = expectedValueForText(model, c.leftType, text);
    } else if (!value) {
      throw AnalysisRequestError(tr("Enter an expected value."));
    }
    if (auto message = expectedValueMessage(c.leftType, value)) throw AnalysisRequestError(*message);
    c.expected = *value;
  } else {
    if (!request.right)
      throw AnalysisRequestError(tr("Please define a second sample to perform a two sample test."));
    right = columnNumber(model, static_cast<uint32_t>(*request.right));
    if (!right) throw AnalysisRequestError("no such variable");
    c.rightName = right->name.value_or("");
    c.rightType = typeOf(*right);
    if (!ofProportions && c.leftType != c.rightType)
      throw AnalysisRequestError(tr("Samples must be of same variable type."));
  }
  // A second variable or filter left over from another setting (one sample,
  // paired) is kept with the analysis but not used.

  auto filtered = rowsWhere(model, request.wheres);
  const std::vector<int32_t> rowsX = filtered ? *filtered : allRowNumbers(model);
  c.filterText1 = stringForWhereSet(model, request.wheres);
  if (c.samples == 2) c.filterText2 = stringForWhereSet(model, request.wheres2);
  LevelCoding codingX, codingY;
  if (ofProportions) {
    codingX = levelCodingForColumn(model, *left, textSetting(request, "leftLevel1"));
    c.leftLevel1 = codingX.success;
    if (right) {
      codingY = levelCodingForColumn(model, *right, textSetting(request, "rightLevel1"));
      c.rightLevel1 = codingY.success;
    }
  }

  HypothesisResult result;
  if (c.samples != 2) {
    result = hypothesisForSample(sampleOf(model, *left, rowsX, ofProportions ? &codingX : nullptr),
                                 c.expected, c.distribution, c.tails, c.test, false);
  } else if (c.paired && !ofProportions) {
    // Pairs complete in both variables; the test is on their differences against 0.
    NumericMatrix m = numericOfColumns(model, {left, right}, &rowsX);
    std::vector<double> differences;
    if (m.Xmat.size() == 2)
      for (size_t i = 0; i < m.Xmat[0].size(); ++i) differences.push_back(m.Xmat[0][i] - m.Xmat[1][i]);
    result = hypothesisForSample(differences, 0, c.distribution, c.tails, c.test, true);
  } else if (c.paired) {
    PairedFactors f = twoByTwoPairedFactorX(model, *left, *right, codingX.levels, codingY.levels, rowsX);
    result = hypothesisTestForBinomialSample(f.Xmat[0], f.Xmat[1], c.tails, c.test);
  } else {
    auto filtered2 = rowsWhere(model, request.wheres2);
    const std::vector<int32_t> rowsY = filtered2 ? *filtered2 : allRowNumbers(model);
    result = hypothesisTestForSampleX(sampleOf(model, *left, rowsX, ofProportions ? &codingX : nullptr),
                                      sampleOf(model, *right, rowsY, ofProportions ? &codingY : nullptr),
                                      c.distribution, c.tails, c.test);
  }
  result.statName = statForTest(c.test);
  result.testName = nameForTest(c.test, c.tails, c.samples, c.paired).value_or("");

  AnalysisOutput out;
  out.result = toJson(result);
  out.result["filters"] = c.filterText1;
  if (c.samples == 2) out.result["filters2"] = c.filterText2;
  if (ofProportions) {
    out.result["leftLevel1"] = c.leftLevel1;
    if (right) out.result["rightLevel1"] = c.rightLevel1;
  }
  out.csvLines = [result, c](CsvWriter& w) { writeCSVLines(result, c, w); };
  out.screen = hypothesisLayout(result, c, false);
  out.print = hypothesisLayout(result, c, true);
  out.baseName = fileNameOutput(c);
  return out;
}

}  // namespace

AnalysisOutput runHypothesisTestOfMeans(Model& model, const AnalysisRequest& request) {
  return runHypothesisTest(model, request, false);
}

AnalysisOutput runHypothesisTestOfProportions(Model& model, const AnalysisRequest& request) {
  return runHypothesisTest(model, request, true);
}

}  // namespace tabulix
