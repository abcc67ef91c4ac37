// Hypothesis tests of means and proportions: one sample against an expected
// value, two independent samples, or two paired samples. The routines take
// the samples as numbers (means) or 0/1 codes (proportions) and give the
// statistic, its degrees of freedom, the p-value, the sample summaries and
// the curves of the distribution plots.
#pragma once

#include <array>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model.h"
#include "engine/variable_type.h"
#include "stats/normality.h"

namespace tabulix {

// Test codes kept in an analysis's `test` setting.
enum HypothesisTestCode { kTestZ = 0, kTestT = 1, kTestBinomial = 2, kTestChiSquare = 3, kTestMcNemar = 4 };

// A curve sampled for a plot: x values and the density at each.
struct Curve {
  std::vector<double> x, y;
};

// One test's result; a field is absent when the routine does not set it.
struct HypothesisResult {
  std::optional<double> obsX, obsY, meanX, meanY, sdX, sdY, seX, seY, diff, seDiff;
  double t = 0, df = 0, p = 0;
  std::optional<std::array<double, 5>> boxX, boxY;  // percentiles 0, 25, 50, 75, 100
  std::optional<Curve> densityX, densityY;
  std::optional<Curve> pdfSample1, pdfSample2, pdfDiff1, pdfDiff2;
  bool curvesPerCount = false;  // the pdf curves hold a point per count (binomial), about √n of them
  std::optional<double> x0y0, x0y1, x1y0, x1y1;  // paired proportions
  std::string testName, statName;
  std::string note;  // shown instead of the decision when no statistic can be computed
  // The two-sided 95% interval of the mean (one sample), of the mean difference (paired) or of
  // X − Y (two samples; Welch's for the t-test, normal for the z-test); Wilson's interval of a
  // proportion, the normal interval of a difference of proportions.
  std::optional<std::array<double, 2>> ci;
  std::optional<double> cohenD;            // tests of means only
  std::vector<ShapiroWilkResult> shapiro;  // of each sample (of the differences when paired)
  std::vector<double> shapiroN;            // the values each normality test saw
};

// The result under its keys ("obsX", "seDiff", "boxX", "x0y0", "testName", ...);
// curves with a point per count only with vectors.
nlohmann::json toJson(const HypothesisResult& result, bool vectors = false);

// The statistic name of a test: "Z", "t", "χ²", or "!" when none is shown.
std::string statForTest(int test);
// The default test of a setting (observations are not used).
int testForDistribution(int distribution, int samples, bool paired, int observations);
// The tests allowed for a setting.
std::vector<int> validTestsForDistribution(int distribution, int samples, bool paired);
// The display name of a test, or none.
std::optional<std::string> nameForTest(int test, int tails, int samples, bool paired);

// The samples the proportions' test list chooses with a test: {1, false}
// for the binomial test, {2, false} for chi-square, {2, true} for McNemar's
// test; none for the others.
std::optional<std::pair<int, bool>> samplesForTest(int test);

// One sample (or the paired differences) against an expected value.
HypothesisResult hypothesisForSample(const std::vector<double>& sample, double expected, int distribution,
                                     int tails, int test, bool paired);
// Two independent samples.
HypothesisResult hypothesisTestForSampleX(const std::vector<double>& x, const std::vector<double>& y,
                                          int distribution, int tails, int test);
// Paired proportions from the two code lists (1 success, 0 failure).
HypothesisResult hypothesisTestForBinomialSample(const std::vector<int32_t>& x, const std::vector<int32_t>& y,
                                                 int tails, int test);

// The Model's entry points: they read the cells of the rows (none: every
// row) and convert them, numbers for means, or for proportions (a level map
// given) the 0/1 codes of the map (other texts and empty cells count
// nowhere), then call the routines above.
// One sample of `column` against the expected value.
HypothesisResult hypothesisTestForColumn(Model& model, const Column& column, double expected,
                                         const std::vector<int32_t>* rows, int distribution, int tails,
                                         int test, const std::map<std::string, int32_t>* levels);
// Two independent samples: `x` over rowsX and `y` over rowsY.
HypothesisResult hypothesisTestForColumn(Model& model, const Column& x, const Column& y,
                                         const std::vector<int32_t>* rowsX, const std::vector<int32_t>* rowsY,
                                         int distribution, int tails, int test,
                                         const std::map<std::string, int32_t>* levelsX,
                                         const std::map<std::string, int32_t>* levelsY);
// Paired samples on the same rows: means test the differences x - y of the
// rows complete in both against 0; proportions count the 2 x 2 table.
HypothesisResult hypothesisTestForColumnWithPairedColumn(Model& model, Column& x, Column& y,
                                                         const std::vector<int32_t>* rows, int distribution,
                                                         int tails, int test,
                                                         const std::map<std::string, int32_t>* levelsX,
                                                         const std::map<std::string, int32_t>* levelsY);

// The two parallel code lists of two columns over rows (ascending row
// numbers; none for every row), rows without a text in either column
// removed, and the level-to-code maps after use (texts not in a map take the
// next free code).
struct PairedFactors {
  std::array<std::vector<int32_t>, 2> Xmat;
  std::array<std::map<std::string, int32_t>, 2> code;
};
PairedFactors twoByTwoPairedFactorX(Model& model, const Column& x, const Column& y,
                                    const std::map<std::string, int32_t>& levelsX,
                                    const std::map<std::string, int32_t>& levelsY,
                                    const std::vector<int32_t>* rows);

// The level coding of a proportion: the success level (the chosen one when
// the column has it, else the last distinct value in text order) codes 1,
// the others 0.
struct LevelCoding {
  std::string success;
  std::map<std::string, int32_t> levels;
};
LevelCoding levelCodingForColumn(Model& model, const Column& column, const std::string& chosen);

// The expected value a text gives for a sample of the type: a date (seconds
// since 1970-01-01) for DateTime, else a number; none when it does not read.
std::optional<double> expectedValueForText(Model& model, VariableType type, std::string_view text);

}  // namespace tabulix
