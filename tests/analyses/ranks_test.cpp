// The tests on ranks run as an analysis, against R's wilcox.test (defaults,
// conf.int = TRUE) and friedman.test (tests/reference/ranks.R): each sample
// read through its variable and filters, every tail; then the validity
// messages and the outputs' texts.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "analyses/analysis_kind.h"
#include "test_workspace.h"
#include "textio/byte_stream.h"

using namespace tabulix;
using tabulix::testing::kReferenceDir;
using tabulix::testing::readCsv;

namespace {

std::map<std::string, std::map<std::string, double>> expected() {
  std::ifstream in(kReferenceDir / "ranks_expected.tsv");
  std::map<std::string, std::map<std::string, double>> out;
  std::string c, k, v;
  while (std::getline(in, c, '\t') && std::getline(in, k, '\t') && std::getline(in, v))
    if (c != "case") out[c][k] = std::stod(v);
  return out;
}

WhereClauseObj equals(int64_t col, const std::string& value) {
  WhereClauseObj w;
  w.colNum = col;
  w.op = kOpEqual;
  w.constant = value;
  return w;
}

}  // namespace

// Tolerances: statistics exact (sums of ranks); p 1e-9 relative (exact
// distributions and normal tails); the Hodges–Lehmann estimate and limits
// 2e-4 relative (on the normal path R's uniroot stops at its default
// tolerance, about 1e-4, where ours are the exact roots of the step
// function, values of the data; on the exact path both are order
// statistics).
TEST(Ranks, MatchesR) {
  tabulix::testing::TestWorkspace w(readCsv(kReferenceDir / "ranks_data.csv"));
  // drug1 0, drug2 1, weight 2, group 3, breaks 4, wool 5, a 6, b 7, c 8
  const auto e = expected();
  const auto& kind = analysisKinds().at("ranks");
  int checked = 0;
  for (int tails = 0; tails < 3; ++tails) {
    const std::string t = std::to_string(tails);
    struct Case {
      std::string name;
      AnalysisRequest request;
    };
    const std::vector<Case> cases = {
        {"paired_sleep", {0, 1, {}, {}, {}, {{"samples", "2"}, {"isPaired", "1"}, {"tails", t}}}},
        {"one_plants", {2, {}, {}, {equals(3, "ctrl")}, {}, {{"expected", "5"}, {"tails", t}}}},
        {"sum_plants",
         {2, 2, {}, {equals(3, "ctrl")}, {equals(3, "trt1")}, {{"samples", "2"}, {"tails", t}}}},
        {"sum_wool", {4, 4, {}, {equals(5, "A")}, {equals(5, "B")}, {{"samples", "2"}, {"tails", t}}}}};
    for (const Case& c : cases) {
      const std::string name = c.name + "_" + t;
      SCOPED_TRACE(name);
      const auto& x = e.at(name);
      const nlohmann::json r = kind.run(w.model, c.request).result;
      EXPECT_EQ(r.at("W").get<double>(), x.at("W"));
      EXPECT_NEAR(r.at("p").get<double>(), x.at("p"), 1e-9 * x.at("p"));
      EXPECT_EQ(r.at("exact").get<bool>(), x.at("exact") == 1);
      for (const char* key : {"estimate", "lower", "upper"}) {
        const double got = std::string(key) == "estimate"
                               ? r.at("estimate").get<double>()
                               : r.at("ci")[std::string(key) == "lower" ? 0 : 1].get<double>();
        if (std::isinf(x.at(key)))
          EXPECT_EQ(got, x.at(key)) << key;
        else
          EXPECT_NEAR(got, x.at(key), 2e-4 * std::max(1.0, std::fabs(x.at(key)))) << key;
      }
      ++checked;
    }
  }
  EXPECT_EQ(checked, 12);
  const nlohmann::json f = kind.run(w.model, {{}, {}, {6, 7, 8}, {}, {}, {{"samples", "related"}}}).result;
  EXPECT_NEAR(f.at("friedman").at("chisq").get<double>(), e.at("friedman").at("chisq"), 1e-12);
  EXPECT_EQ(f.at("friedman").at("df").get<double>(), e.at("friedman").at("df"));
  EXPECT_NEAR(f.at("friedman").at("p").get<double>(), e.at("friedman").at("p"),
              1e-9 * e.at("friedman").at("p"));
  EXPECT_EQ(f.at("obs").size(), 3u);
}

TEST(Ranks, ValidityAndTexts) {
  tabulix::testing::TestWorkspace w(readCsv(kReferenceDir / "ranks_data.csv"));
  const auto& kind = analysisKinds().at("ranks");
  auto message = [&](const AnalysisRequest& q) {
    try {
      computeAnalysis(w.model, kind, q, "w.tbx");
    } catch (const AnalysisRequestError& err) {
      return std::string(err.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message({{}, {}, {}, {}, {}, {{"expected", "1"}}}), "Choose a variable to sample.");
  EXPECT_EQ(message({2, {}, {}, {}, {}, {}}), "Enter an expected value.");
  EXPECT_EQ(message({2, {}, {}, {}, {}, {{"samples", "2"}}}),
            "Please define a second sample to perform a two sample test.");
  EXPECT_EQ(message({{}, {}, {6, 7}, {}, {}, {{"samples", "related"}}}),
            "Choose three or more related variables.");
  EXPECT_NE(message({3, {}, {}, {}, {}, {{"expected", "1"}}}).find("Numeric"), std::string::npos);
  EXPECT_NE(message({2, {}, {}, {}, {}, {{"expected", "1"}, {"tails", "3"}}}).find("tails"),
            std::string::npos);
  // A filter that keeps no row: a result whose note says why, no decision.
  AnalysisOutput empty = kind.run(w.model, {2, {}, {}, {equals(3, "none")}, {}, {{"expected", "5"}}});
  EXPECT_TRUE(empty.result.contains("note"));
  EXPECT_TRUE(std::isnan(empty.result.at("p").get<double>()));
  // The outputs: a one-field title line, a blank line, then "Filters:".
  AnalysisOutput one =
      kind.run(w.model, {2, {}, {}, {equals(3, "ctrl")}, {}, {{"expected", "5"}, {"tails", "2"}}});
  std::string text;
  {
    CsvWriter writer(std::make_unique<StringByteSink>(text), TextEncoding::UTF8, u',');
    one.csvLines(writer);
  }
  EXPECT_EQ(text.substr(0, text.find('\n')), one.baseName);
  EXPECT_EQ(one.baseName, "Wilcoxon signed-rank test of weight");
  EXPECT_NE(text.find("\n\nFilters:,"), std::string::npos);
  EXPECT_EQ(
      one.result.at("hypothesis")[0],
      "Null hypothesis, H₀: median(weight) <= 5 (The true median of weight is less than or equal to 5)");
}
