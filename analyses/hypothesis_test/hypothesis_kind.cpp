// The hypothesis tests as analysis kinds: "means" (distribution 0, or 1
// which is computed the same way) and "proportions" (distribution 2). The
// settings arrive as texts; `wheres` filters sample 1 (and a paired test's
// rows), `wheres2` sample 2.
#include <algorithm>
#include <cmath>
#include <ctime>
#include <set>

#include "analyses/analysis_kind.h"
#include "analyses/definitions.h"
#include "analyses/hypothesis_test/hypothesis_report.h"
#include "analyses/sample_groups.h"
#include "engine/cell_access.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "engine/values.h"
#include "engine/workspace_data.h"
#include "textio/plain_number.h"

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
  c.tails = intSetting(request, "tails", 0, {0, 1, 2});
  const std::optional<int> storedTest =
      request.settings.count("test") ? std::optional<int>(intSetting(request, "test", 0, {0, 1, 2, 3, 4}))
                                     : std::nullopt;
  // The proportions' test list sets the samples with the test, as the screen
  // does: the binomial test takes one sample, the chi-square test two
  // independent samples, McNemar's test paired samples. Samples given as
  // settings are kept as given.
  int impliedSamples = 1, impliedPaired = 0;
  if (const auto implied = ofProportions && storedTest ? samplesForTest(*storedTest) : std::nullopt) {
    impliedSamples = implied->first;
    impliedPaired = implied->second ? 1 : 0;
  }
  c.samples = intSetting(request, "samples", impliedSamples, {1, 2});
  c.paired = c.samples == 2 && intSetting(request, "isPaired",
                                          request.settings.count("samples") ? 0 : impliedPaired, {0, 1}) == 1;
  c.test = storedTest.value_or(testForDistribution(c.distribution, c.samples, c.paired, 30));
  {
    // A test the setting does not allow would compute nothing and still decide.
    const std::vector<int> allowed =
        validTestsForDistribution(c.distribution == 1 ? 0 : c.distribution, c.samples, c.paired);
    if (std::find(allowed.begin(), allowed.end(), c.test) == allowed.end()) {
      std::string list;
      for (int a : allowed)
        list += (list.empty() ? "" : ", ") + std::to_string(a) + " (" +
                nameForTest(a, c.tails, c.samples, c.paired).value_or("") + ")";
      throw AnalysisRequestError(fillPlaceholders(
          tr("This setting does not allow test %@. Allowed tests: %@."), {std::to_string(c.test), list}));
    }
  }

  // The validity check, in the order the screen reports it.
  if (!request.left) throw AnalysisRequestError(tr("Choose a variable to sample."));
  Column* left = columnNumber(model, static_cast<uint32_t>(*request.left));
  if (!left) throw AnalysisRequestError("no such variable");
  c.leftName = left->name.value_or("");
  c.leftType = typeOf(*left);
  Column* right = nullptr;
  if (c.samples != 2) {
    const std::string text = textSetting(request, "expected");
    if (text.empty()) throw AnalysisRequestError(tr("Enter an expected value."));
    std::optional<double> value;
    if (c.leftType == VariableType::DateTime) {
      value = dateForString(model, text);
      if (!value) throw AnalysisRequestError(tr("Sample is a date variable. Expected value must be a date."));
    } else if (c.leftType == VariableType::Numeric) {
      value = decimalNumberForString(model, text);
      if (!value)
        throw AnalysisRequestError(tr("Sample is a numeric variable. Expected value must be numeric."));
    } else {
      value = decimalNumberForString(model, text);
      if (!value || !(*value >= 0 && *value <= 1))
        throw AnalysisRequestError(
            tr("Sample is a categorical variable. Expected value must be a proportion between 0 and 1."));
    }
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
    if (!ofProportions && !c.paired)
      if (const auto groups = sampleGroupsOf(model, request)) {
        c.grouped = true;
        c.leftName = groups->first;
        c.rightName = groups->second;
        c.leftLegend = groups->firstLevel;
        c.rightLegend = groups->secondLevel;
      }
  }
  // A second variable or filter left over from another setting (one sample,
  // paired) is kept with the analysis but not used.

  // No filter reads every row: no row list to build or look cells up by.
  const auto filtered = rowsWhere(model, request.wheres);
  const std::vector<int32_t>* rowsX = filtered ? &*filtered : nullptr;
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

  const auto* levelsX = ofProportions ? &codingX.levels : nullptr;
  const auto* levelsY = ofProportions ? &codingY.levels : nullptr;
  HypothesisResult result;
  if (c.samples != 2) {
    result =
        hypothesisTestForColumn(model, *left, c.expected, rowsX, c.distribution, c.tails, c.test, levelsX);
  } else if (c.paired) {
    result = hypothesisTestForColumnWithPairedColumn(model, *left, *right, rowsX, c.distribution, c.tails,
                                                     c.test, levelsX, levelsY);
  } else {
    const auto filtered2 = rowsWhere(model, request.wheres2);
    result = hypothesisTestForColumn(model, *left, *right, rowsX, filtered2 ? &*filtered2 : nullptr,
                                     c.distribution, c.tails, c.test, levelsX, levelsY);
  }
  // A filter (or missing values) that leaves a sample empty leaves nothing to test.
  if (!result.obsX.value_or(0) || (c.samples == 2 && !c.paired && !result.obsY.value_or(0)))
    throw AnalysisRequestError(tr("No observations are left after the filter."));
  result.statName = statForTest(c.test);
  result.testName = nameForTest(c.test, c.tails, c.samples, c.paired).value_or("");

  AnalysisOutput out;
  out.result = toJson(result, request.vectors);
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

namespace {

// A stored date (seconds since 1970 UTC) as text that reads back to the same second.
std::string isoDateText(double seconds) {
  const std::time_t t = static_cast<std::time_t>(std::floor(seconds));
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

AnalysisKind hypothesisKind(const char* name, bool ofProportions) {
  AnalysisKind k;
  k.name = name;
  k.type = HypothesisTest;
  k.distribution = ofProportions ? 2 : 0;
  k.run = ofProportions ? runHypothesisTestOfProportions : runHypothesisTestOfMeans;
  k.title = ofProportions ? "Hypothesis test of proportions" : "Hypothesis test of means";
  k.noun = "the hypothesis test";
  k.secondFilter = true;
  const std::vector<VariableType> types = {VariableType::Categorical, VariableType::Binary,
                                           VariableType::Numeric, VariableType::DateTime};
  k.positions = {{"left", "Sample 1", types}, {"right", "Sample 2", types, 0, 1}};
  SettingDescription distribution{
      "distribution",
      SettingKind::Choice,
      ofProportions ? std::vector<std::string>{"2"} : std::vector<std::string>{"0", "1"},
      ofProportions ? "2" : "0",
      "distribution",
      "Test of",
      "Means (0; 1 by the z-test) or proportions (2)."};
  distribution.valueLabels =
      ofProportions ? std::vector<std::string>{"Proportions"} : std::vector<std::string>{"Means", "Means"};
  SettingDescription samples{"samples",
                             SettingKind::Choice,
                             {"1", "2"},
                             "1",
                             "samples",
                             "Samples",
                             "One sample against an expected value, or two samples."};
  samples.valueLabels = {"One sample", "Two samples"};
  SettingDescription paired{
      "isPaired", SettingKind::Flag, {}, "0", "isPaired", "Paired", "Whether two samples are paired."};
  SettingDescription tails{"tails",
                           SettingKind::Choice,
                           {"0", "1", "2"},
                           "0",
                           "tails",
                           "Alternative hypothesis is",
                           "Two-sided (0), less than (1) or greater than (2)."};
  tails.valueLabels = {"Two tails", "One tail less", "One tail greater"};
  SettingDescription test{"test",
                          SettingKind::Choice,
                          {"0", "1", "2", "3", "4"},
                          "",
                          "test",
                          "Test:",
                          "The test computed; determined by the data when none is chosen."};
  test.clearable = true;
  SettingDescription expected{"expected",
                              SettingKind::Text,
                              {},
                              "",
                              "expected",
                              "to value",
                              "The value a single sample is tested against."};
  // Saved as the number the test uses (a date in seconds), handed back in
  // the decimal separator the workspace reads or as an ISO date.
  expected.load = [](const Analysis& a, char separator) -> std::optional<std::string> {
    if (!a.expected || !std::isfinite(*a.expected)) return std::nullopt;
    const bool date = a.left && a.left->type == static_cast<int32_t>(VariableType::DateTime);
    return date ? isoDateText(*a.expected) : plainDecimalText(*a.expected, separator);
  };
  // A text that does not read leaves the saved value as it was.
  expected.store = [](Model& model, Analysis& a, const std::string& v) {
    const VariableType type = a.left && a.left->type == static_cast<int32_t>(VariableType::DateTime)
                                  ? VariableType::DateTime
                                  : VariableType::Numeric;
    if (const auto value = expectedValueForText(model, type, v)) a.expected = *value;
  };
  SettingDescription level1{"leftLevel1",
                            SettingKind::Text,
                            {},
                            "",
                            "leftLevel1",
                            "proportion of:",
                            "The level counted as a success in sample 1."};
  level1.clearable = true;
  SettingDescription level2{"rightLevel1",
                            SettingKind::Text,
                            {},
                            "",
                            "rightLevel1",
                            "proportion of:",
                            "The level counted as a success in sample 2."};
  level2.clearable = true;
  k.settings = {distribution, samples, paired, tails, test, expected, level1, level2};
  // A test chosen from the list brings the samples it is made for, unless
  // they were given too; samples or a distribution changed drop a test they
  // no longer allow (a distribution may make the kind the other one).
  k.settle = [](Analysis& a, const std::map<std::string, std::string>& given) {
    auto has = [&](const char* key) { return given.count(key) > 0; };
    if (has("samples") && a.samples.value_or(1) != 2) a.isPaired = false;
    if (has("test") && !has("samples") && a.test && a.distribution.value_or(0) == 2)
      if (const auto implied = samplesForTest(*a.test)) {
        a.samples = implied->first;
        a.isPaired = implied->second;
      }
    if (!has("test") && (has("samples") || has("isPaired") || has("distribution")))
      clearInvalidHypothesisTest(&a);
  };
  return k;
}

}  // namespace

AnalysisKind hypothesisTestOfMeansKind() { return hypothesisKind("means", false); }

AnalysisKind hypothesisTestOfProportionsKind() { return hypothesisKind("proportions", true); }

}  // namespace tabulix
