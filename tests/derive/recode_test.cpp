// Recoding into categories: groups against R's cut() with its breaks, bins
// and type 7 quantiles (tests/reference/recode.R), the labels, mapping, the
// refusals, and the stored variable with its order and definition.
#include "derive/recode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "engine/level_order.h"
#include "engine/workspace_data.h"
#include "tests/temp_dir.h"

using namespace tabulix;

namespace {

using Texts = std::vector<std::string>;

Texts split(const std::string& s, char sep) {
  Texts out;
  std::string f;
  std::stringstream ss(s);
  while (std::getline(ss, f, sep)) out.push_back(f);
  if (!s.empty() && s.back() == sep) out.push_back("");
  return out;
}

// A workspace with one variable x holding the texts, statistics and type set.
struct Workspace {
  tabulix::testing::TempDir dir;
  Model model;
  explicit Workspace(const Texts& xs) {
    model.openStore(dir.path / "w.tbx");
    model.setMetadataValue(".", "decimalSeparator");
    addColumns(model, {"x"});
    auto cols = columns(model);
    for (size_t r = 0; r < xs.size(); ++r) addRow(model, static_cast<uint32_t>(r + 1), Texts{xs[r]}, cols);
    basicStatsForColumn(model, x());
    x().type = static_cast<int32_t>(guessTypeOfColumn(x()));
    model.saveContext();
  }
  Column& x() { return *columns(model)[0]; }
  RecodedColumn recode(const RecodeDefinition& d) { return recodeColumnValues(model, x(), d); }
};

}  // namespace

// Each case's cut points to 1e-12 (relative) and every row's group exactly,
// missing where R's cut gives NA.
TEST(Recode, GroupsAgreeWithRsCut) {
  std::ifstream in(std::string(TABULIX_SOURCE_DIR) + "/tests/data/reference/recode_cases.csv");
  ASSERT_TRUE(in) << "recode_cases.csv missing";
  std::string line;
  std::getline(in, line);
  int cases = 0;
  while (std::getline(in, line)) {
    Texts f = split(line, ',');
    ASSERT_EQ(f.size(), 6u) << line;
    SCOPED_TRACE(f[0]);
    Texts xs = split(f[3], ';'), groups = split(f[5], ';');
    std::vector<double> rCuts;
    for (const std::string& c : split(f[4], ';')) rCuts.push_back(std::stod(c));
    RecodeDefinition d;
    d.method = f[1] == "breaks" ? RecodeMethod::Breaks
               : f[1] == "bins" ? RecodeMethod::Bins
                                : RecodeMethod::Quantiles;
    d.groups = static_cast<uint32_t>(std::stoul(f[2]));
    if (d.method == RecodeMethod::Breaks) d.breaks = rCuts;
    Workspace w(xs);
    std::vector<double> sorted;
    for (const std::string& x : xs)
      if (!x.empty()) sorted.push_back(std::stod(x));
    std::sort(sorted.begin(), sorted.end());
    std::vector<double> cuts = recodeCutPoints(d, sorted);
    ASSERT_EQ(cuts.size(), rCuts.size());
    for (size_t i = 0; i < cuts.size(); ++i) EXPECT_NEAR(cuts[i], rCuts[i], 1e-12 * std::fabs(rCuts[i]));
    RecodedColumn r = w.recode(d);
    ASSERT_EQ(r.levels.size(), rCuts.size() + 1);
    ASSERT_EQ(r.values.texts.size(), groups.size());
    int64_t missing = 0;
    for (size_t i = 0; i < groups.size(); ++i) {
      if (groups[i].empty()) {
        EXPECT_EQ(r.values.texts[i], "") << "row " << i + 1;
        ++missing;
      } else {
        EXPECT_EQ(r.values.texts[i], r.levels[std::stoul(groups[i]) - 1]) << "row " << i + 1;
      }
    }
    EXPECT_EQ(r.missing, missing);
    ++cases;
  }
  EXPECT_EQ(cases, 10);
}

TEST(Recode, LabelsMappingAndRefusals) {
  EXPECT_EQ(intervalLabels({18, 30, 50}), (Texts{"< 18", "[18, 30)", "[30, 50)", "\u2265 50"}));
  EXPECT_EQ(intervalLabels({-0.5, 1e-9}), (Texts{"< -0.5", "[-0.5, 1e-9)", "\u2265 1e-9"}));
  EXPECT_DOUBLE_EQ(quantileType7({1, 2, 3, 4}, 0.5), 2.5);
  EXPECT_DOUBLE_EQ(quantileType7({5}, 0.9), 5);

  Workspace w({"3", "1", "", "2", "3", "x"});
  RecodeDefinition d;
  d.breaks = {2};
  d.labels = {"low", "high"};
  RecodedColumn r = w.recode(d);
  EXPECT_EQ(r.values.texts, (Texts{"high", "low", "", "high", "high", ""}));
  EXPECT_EQ(r.counts, (std::vector<int64_t>{1, 3}));
  EXPECT_EQ(r.missing, 2);

  // A mapping merges levels; values not named keep their text, one mapped
  // to "" becomes missing; the new labels come first in the mapping's order.
  RecodeDefinition m;
  m.method = RecodeMethod::Map;
  m.mapping = {{"3", "many"}, {"1", "few"}, {"2", "few"}, {"x", ""}};
  r = w.recode(m);
  EXPECT_EQ(r.values.texts, (Texts{"many", "few", "", "few", "many", ""}));
  EXPECT_EQ(r.levels, (Texts{"many", "few"}));
  EXPECT_EQ(r.counts, (std::vector<int64_t>{2, 2}));
  m.mapping = {{"1", "one"}};
  EXPECT_EQ(w.recode(m).levels, (Texts{"one", "2", "3", "x"}));

  auto refused = [&](RecodeDefinition bad, const std::string& text) {
    try {
      w.recode(bad);
      ADD_FAILURE() << "accepted; expected: " << text;
    } catch (const RecodeError& e) {
      EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
    }
  };
  refused({RecodeMethod::Breaks, {3, 2}, 0, {}, {}}, "the breaks must increase (3 then 2)");
  refused({RecodeMethod::Breaks, {}, 0, {}, {}}, "at least one break");
  refused({RecodeMethod::Breaks, {2}, 0, {}, {"a"}}, "1 labels for 2 groups");
  refused({RecodeMethod::Breaks, {2}, 0, {}, {"a", "a"}}, "each label must be given once");
  refused({RecodeMethod::Bins, {}, 1, {}, {}}, "from 2 to 100");
  refused({RecodeMethod::Map, {}, 0, {{"1", "a"}, {"1", "b"}}, {}}, "\"1\" is mapped twice");
  Workspace same({"4", "4"});
  EXPECT_THROW(same.recode({RecodeMethod::Quantiles, {}, 3, {}, {}}), RecodeError);
  Workspace words({"a", "b"});
  EXPECT_THROW(words.recode({RecodeMethod::Bins, {}, 2, {}, {}}), RecodeError);
}

// The new variable is Categorical whatever its texts, its groups keep their
// order, and its definition is kept and reads back.
TEST(Recode, StoredVariableKeepsOrderAndDefinition) {
  Workspace w({"-20", "-5", "7", "-12"});
  RecodeDefinition d{RecodeMethod::Breaks, {-10, 0}, 0, {}, {"1", "2", "3"}};
  Column* c = applyRecodedColumn(w.model, "g", w.recode(d), d, "x");
  ASSERT_NE(c, nullptr);
  EXPECT_FALSE(w.model.context().hasChanges());
  EXPECT_EQ(c->type, static_cast<int32_t>(VariableType::Categorical));
  EXPECT_EQ(storedLevelOrder(*c), (Texts{"1", "2", "3"}));
  Texts levels = {"3", "1", "2"};
  sortLevels(w.model, *c, levels);
  EXPECT_EQ(levels, (Texts{"1", "2", "3"}));
  OptText kept = w.model.metadataValueForKey(recodeDefinitionKey("g"));
  ASSERT_TRUE(kept.has_value());
  RecodeDefinition back = recodeDefinitionFromJson(nlohmann::json::parse(*kept));
  EXPECT_EQ(toJson(back), toJson(d));
  RecodeDefinition q{RecodeMethod::Quantiles, {}, 4, {}, {}};
  EXPECT_EQ(toJson(recodeDefinitionFromJson(toJson(q))), toJson(q));
  RecodeDefinition m{RecodeMethod::Map, {}, 0, {{"a", "b"}}, {}};
  EXPECT_EQ(recodeDefinitionFromJson(toJson(m)).mapping, m.mapping);
  EXPECT_THROW(recodeDefinitionFromJson(nlohmann::json{{"method", "cubes"}}), RecodeError);
  EXPECT_THROW(recodeDefinitionFromJson(nlohmann::json{{"method", "bins"}}), RecodeError);
}
