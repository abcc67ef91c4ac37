// Tests on ranks: Wilcoxon's signed-rank test of one sample's median or of
// paired differences, the Wilcoxon rank-sum (Mann–Whitney) test of two
// samples, and Friedman's test of three or more related samples; their
// texts, CSV lines and layout.
#pragma once

#include <array>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "reports/layout.h"
#include "stats/group_tests.h"
#include "stats/rank_tests.h"
#include "textio/csv_writer.h"

namespace tabulix {

// Which rank test a request asks for.
enum class RankTest { SignedRank, PairedSignedRank, RankSum, Friedman };

// What the outputs need besides the figures.
struct RanksContext {
  RankTest test = RankTest::SignedRank;
  int tails = 0;  // 0 two-sided, 1 less, 2 greater
  double expected = 0;
  std::vector<std::string> names;  // the samples' variables (sample 1, sample 2, or the related ones)
  std::string filterText1, filterText2;
  bool grouped = false;     // two samples of one variable by a grouping variable's levels (names "Y | G = a")
  std::string groupedName;  // then "Y by G", as file names give it
};

// The result of a rank test: the Wilcoxon figures or Friedman's, with the
// samples' sizes and five-number summaries for the box plots.
struct RanksResult {
  std::optional<WilcoxonResult> wilcoxon;
  std::optional<FriedmanResult> friedman;
  std::vector<double> obs, medians;
  std::vector<std::array<double, 5>> boxes;  // minimum, quartiles, maximum (type 7)
  std::string note;                          // shown instead of the decision when nothing was computed
};

// Computes the test on the samples' values (NaN removed; for Friedman one
// block of values per row).
RanksResult rankTests(const RanksContext& context, const std::vector<std::vector<double>>& samples);

// The result under its keys ("test", "W", "p", "exact", "estimate", "ci", "z", "r", "rankBiserial",
// "friedman", "obs", "medians").
nlohmann::json toJson(const RanksResult& result, const RanksContext& context);
// The test's name, e.g. "Wilcoxon signed-rank test, two tail".
std::string ranksTestName(const RanksContext& context);
// The null and alternative hypotheses.
std::vector<std::string> ranksHypothesisStatement(const RanksContext& context);
// The interpretation sentence.
std::string ranksInterpretation(const RanksResult& result, const RanksContext& context);
// Writes the CSV export.
void writeCSVLines(const RanksResult& result, const RanksContext& context, CsvWriter& writer);
// The report layout; `print` gives the print variant.
reports::Element ranksLayout(const RanksResult& result, const RanksContext& context, bool print);
// The exported files' base name.
std::string ranksBaseName(const RanksContext& context);

}  // namespace tabulix
