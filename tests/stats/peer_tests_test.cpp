// The group comparisons, tests on ranks, normality test, exact tables and rank correlations
// against R (tests/reference/peer_tests.R → tests/data/reference/peer_tests.tsv). Tolerances are
// relative unless said, and looser only where R itself stops short: qtukey is accurate to about
// 1e-4 and ptukey to about 1e-7 (so are TukeyHSD's and Games–Howell's limits and p-values; the
// distribution itself is checked against its defining integral at 1e-9), fisher.test's odds
// ratio and limits come from uniroot with tolerance 1.2e-4 (checked at 2e-2, and at 1e-9 against
// the same equations solved tightly in R), and wilcox.test's normal-approximation estimate and limits
// from uniroot with tolerance 1e-4 on a step function (compared within 1e-3 of the data's range).
// Data with a 1e9 offset hold only about 7 significant digits of their spread (1e-6).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "stats/exact_tables.h"
#include "stats/group_tests.h"
#include "stats/normality.h"
#include "stats/rank_correlation.h"
#include "stats/rank_tests.h"
#include "stats/ranks.h"
#include "stats/studentized_range.h"

namespace tabulix {
namespace {

using Groups = std::vector<std::vector<double>>;

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  std::istringstream in(s);
  while (std::getline(in, cur, sep)) out.push_back(cur);
  if (!s.empty() && s.back() == sep) out.emplace_back();
  return out;
}

// One computation R made: its routine, options and the expected values by key.
struct Check {
  std::string fn, options;
  std::map<std::string, double> expected;
};

struct Reference {
  std::map<std::string, Groups> data;
  std::map<std::string, Check> checks;  // by case + "/" + routine

  Reference() {
    std::ifstream in(std::string(TABULIX_SOURCE_DIR) + "/tests/data/reference/peer_tests.tsv");
    std::string line;
    while (std::getline(in, line)) {
      const auto f = split(line, '\t');
      if (f[0] == "data") {
        Groups g;
        if (f.size() > 2 && !f[2].empty())
          for (const auto& group : split(f[2], ';')) {
            g.emplace_back();
            for (const auto& v : split(group, ',')) g.back().push_back(std::stod(v));
          }
        data[f[1]] = g;
        continue;
      }
      Check& c = checks[f[0] + "/" + f[1]];
      c.fn = f[1];
      c.options = f[2];
      c.expected[f[3]] = std::stod(f[4]);
    }
  }
};

const Reference& reference() {
  static const Reference r;
  return r;
}

// Compares got with R's value under `key`, counting the keys seen.
struct Comparer {
  const Check& check;
  std::string where;
  int seen = 0;
  void operator()(const std::string& key, double got, double relTol, double absTol = 0) {
    const auto it = check.expected.find(key);
    ASSERT_NE(it, check.expected.end()) << where << ": R gave no " << key;
    ++seen;
    const double want = it->second;
    if (std::isinf(want)) {
      EXPECT_EQ(got, want) << where << " " << key;
      return;
    }
    EXPECT_NEAR(got, want, std::max(absTol, relTol * std::fabs(want))) << where << " " << key;
  }
  void all() const {
    EXPECT_EQ(seen, static_cast<int>(check.expected.size())) << where << ": keys left unchecked";
  }
};

template <class F>
void forEach(const std::string& fn, F&& f) {
  int n = 0;
  for (const auto& [name, check] : reference().checks)
    if (check.fn == fn) {
      const std::string cs = name.substr(0, name.find('/'));
      Comparer cmp{check, name};
      f(cs, reference().data.at(cs), check, cmp);
      cmp.all();
      ++n;
    }
  EXPECT_GT(n, 0) << "no reference rows for " << fn;
}

double tolFor(const std::string& cs, double tight) { return cs == "offset" ? 1e-6 : tight; }

TEST(GroupTests, AnovaTableWelchAndBrownForsytheAgreeWithR) {
  forEach("anova", [](const std::string& cs, const Groups& g, const Check&, Comparer& cmp) {
    const AnovaTable t = GroupTests::anovaTable(g);
    const double tol = tolFor(cs, 1e-10);
    cmp("dfBetween", t.dfBetween, 0);
    cmp("dfWithin", t.dfWithin, 0);
    cmp("ssBetween", t.ssBetween, tol);
    cmp("ssWithin", t.ssWithin, tol);
    cmp("msBetween", t.msBetween, tol);
    cmp("msWithin", t.msWithin, tol);
    cmp("F", t.F, tol);
    cmp("p", t.p, cs == "offset" ? 1e-5 : 1e-9, 1e-300);
    cmp("eta2", t.eta2, tol);
    cmp("omega2", t.omega2, tol);
  });
  forEach("welch", [](const std::string& cs, const Groups& g, const Check&, Comparer& cmp) {
    const FTestResult w = GroupTests::welchAnova(g);
    const double tol = tolFor(cs, 1e-10);
    cmp("F", w.F, tol);
    cmp("df1", w.df1, 0);
    cmp("df2", w.df2, tol);
    cmp("p", w.p, cs == "offset" ? 1e-5 : 1e-9, 1e-300);
  });
  forEach("levene", [](const std::string& cs, const Groups& g, const Check&, Comparer& cmp) {
    const FTestResult b = GroupTests::brownForsythe(g);
    const double tol = tolFor(cs, 1e-10);
    cmp("F", b.F, cs == "offset" ? 1e-5 : tol);
    cmp("df1", b.df1, 0);
    cmp("df2", b.df2, 0);
    cmp("p", b.p, cs == "offset" ? 1e-5 : 1e-9);
  });
}

// The pairs come in TukeyHSD's order; the limits hold R's qtukey accuracy (compared as half-widths).
void comparePairs(const std::vector<PairComparison>& got, const std::string& cs, Comparer& cmp) {
  for (std::size_t i = 0; i < got.size(); ++i) {
    const std::string at = "[" + std::to_string(i) + "]";
    const double tol = tolFor(cs, 1e-10);
    cmp("diff" + at, got[i].diff, tol, 1e-12);
    const double half = got[i].upper - got[i].diff;
    const double wantHalf = cmp.check.expected.at("upper" + at) - cmp.check.expected.at("diff" + at);
    EXPECT_NEAR(half, wantHalf, 2e-4 * wantHalf) << cmp.where << at;
    cmp("lower" + at, got[i].lower, 0, 2e-4 * wantHalf + 1e-6);
    cmp("upper" + at, got[i].upper, 0, 2e-4 * wantHalf + 1e-6);
    cmp("p" + at, got[i].p, 0, 1e-6);
  }
}

TEST(GroupTests, TukeyAndGamesHowellAgreeWithR) {
  forEach("tukey", [](const std::string& cs, const Groups& g, const Check&, Comparer& cmp) {
    const auto t = GroupTests::tukeyHsd(g);
    ASSERT_EQ(t.size(), g.size() * (g.size() - 1) / 2);
    EXPECT_EQ(t[0].a, 1);
    EXPECT_EQ(t[0].b, 0);
    comparePairs(t, cs, cmp);
  });
  forEach("gamesHowell", [](const std::string& cs, const Groups& g, const Check&, Comparer& cmp) {
    comparePairs(GroupTests::gamesHowell(g), cs, cmp);
  });
}

TEST(StudentizedRange, TailsAndQuantilesAgreeWithR) {
  forEach("ptukey", [](const std::string&, const Groups&, const Check& c, Comparer& cmp) {
    double q, k, df;
    std::istringstream(c.options) >> q >> k >> df;
    cmp("p", studentizedRangeCdf(q, static_cast<int>(k), df), 0, 1e-9);
  });
  forEach("qtukey", [](const std::string&, const Groups&, const Check& c, Comparer& cmp) {
    double p, k, df;
    std::istringstream(c.options) >> p >> k >> df;
    const double q = studentizedRangeQuantile(p, static_cast<int>(k), df);
    cmp("q", q, 1e-10);
    EXPECT_NEAR(studentizedRangeCdf(q, static_cast<int>(k), df), p, 1e-10) << cmp.where;
  });
  EXPECT_TRUE(std::isnan(studentizedRangeCdf(2, 1, 10)));
  EXPECT_EQ(studentizedRangeCdf(-1, 3, 10), 0);
}

TEST(GroupTests, KruskalWallisDunnAndFriedmanAgreeWithR) {
  forEach("kruskal", [](const std::string& cs, const Groups& g, const Check&, Comparer& cmp) {
    const KruskalResult k = GroupTests::kruskalWallis(g);
    cmp("H", k.H, tolFor(cs, 1e-11));
    cmp("df", k.df, 0);
    cmp("p", k.p, 1e-9, 1e-300);
  });
  forEach("dunn", [](const std::string& cs, const Groups& g, const Check&, Comparer& cmp) {
    const auto d = GroupTests::dunn(g);
    for (std::size_t i = 0; i < d.size(); ++i) {
      const std::string at = "[" + std::to_string(i) + "]";
      cmp("z" + at, d[i].z, tolFor(cs, 1e-11), 1e-13);
      cmp("p" + at, d[i].p, 1e-9, 1e-300);
      cmp("pAdjusted" + at, d[i].pAdjusted, 1e-9, 1e-300);
    }
  });
  forEach("friedman", [](const std::string&, const Groups& blocks, const Check&, Comparer& cmp) {
    const FriedmanResult f = GroupTests::friedman(blocks);
    cmp("chisq", f.chisq, 1e-11);
    cmp("df", f.df, 0);
    cmp("p", f.p, 1e-9);
  });
  // Holm never lowers a p-value and keeps the order of the sorted ones.
  const auto h = holmAdjust(std::vector<double>{0.01, 0.04, 0.03, 0.5});
  EXPECT_DOUBLE_EQ(h[0], 0.04);
  EXPECT_DOUBLE_EQ(h[1], 0.09);
  EXPECT_DOUBLE_EQ(h[2], 0.09);
  EXPECT_DOUBLE_EQ(h[3], 0.5);
}

TEST(Normality, ShapiroWilkAgreesWithR) {
  forEach("shapiro", [](const std::string& cs, const Groups& g, const Check&, Comparer& cmp) {
    const ShapiroWilkResult s = shapiroWilk(g[0]);
    cmp("W", s.W, cs == "sw_offset" ? 1e-8 : 1e-11);
    cmp("p", s.p, cs == "sw_offset" ? 1e-5 : 1e-8);
  });
  EXPECT_TRUE(std::isnan(shapiroWilk(std::vector<double>{1, 2}).W));
  EXPECT_TRUE(std::isnan(shapiroWilk(std::vector<double>(10, 3.0)).W));
  EXPECT_TRUE(std::isnan(shapiroWilk(std::vector<double>(5001, 1.0)).p));
}

TEST(ExactTables, FisherOddsRatioGAndResidualsAgreeWithR) {
  forEach("fisher", [](const std::string&, const Groups& t, const Check& c, Comparer& cmp) {
    const FisherResult f = ExactTables::fisher(t);
    ASSERT_TRUE(f.computed) << cmp.where;
    cmp("p", f.p, 1e-9);
    if (c.expected.count("estimate")) {
      const OddsRatioResult o = ExactTables::oddsRatio(t);
      cmp("estimate", o.estimate, 1e-9);
      cmp("lower", o.lower, 1e-9);
      cmp("upper", o.upper, 1e-9);
      cmp("estimateR", o.estimate, 2e-2);
      cmp("lowerR", o.lower, 2e-2);
      cmp("upperR", o.upper, 2e-2);
    }
  });
  forEach("gtest", [](const std::string&, const Groups& t, const Check&, Comparer& cmp) {
    const GTestResult g = ExactTables::gTest(t);
    cmp("G2", g.G2, 1e-12);
    cmp("df", g.df, 0);
    cmp("p", g.p, 1e-10);
  });
  forEach("stdres", [](const std::string&, const Groups& t, const Check&, Comparer& cmp) {
    const auto r = ExactTables::adjustedResiduals(t);
    std::size_t i = 0;
    for (const auto& row : r)
      for (double v : row) cmp("r[" + std::to_string(i++) + "]", v, 1e-12, 1e-14);
  });
  // A budget too small to finish says so instead of answering.
  const Groups big = {{10, 12, 9, 11, 8}, {9, 11, 13, 10, 12}, {12, 8, 10, 9, 11}, {11, 10, 9, 12, 10}};
  EXPECT_FALSE(ExactTables::fisher(big, 1000).computed);
}

TEST(RankTests, SignedRankAndRankSumAgreeWithR) {
  auto tailOf = [](const std::string& options) {
    const std::string t = options.substr(0, options.find(' '));
    return t == "less" ? Tail::Less : t == "greater" ? Tail::Greater : Tail::TwoSided;
  };
  auto check = [](const WilcoxonResult& w, double range, Comparer& cmp) {
    cmp("W", w.W, 1e-12);
    cmp("p", w.p, 1e-9);
    const double tol = w.exact ? 1e-12 : 1e-3 * range;
    cmp("estimate", w.estimate, 0, tol);
    cmp("lower", w.lower, 0, tol);
    cmp("upper", w.upper, 0, tol);
    cmp("level", w.level, 1e-12);  // lowered where the exact interval cannot reach 95%
  };
  forEach("signedRank", [&](const std::string&, const Groups& g, const Check& c, Comparer& cmp) {
    const double mu = std::stod(c.options.substr(c.options.find(' ') + 1));
    const WilcoxonResult w = signedRankTest(g[0], mu, tailOf(c.options));
    const auto [lo, hi] = std::minmax_element(g[0].begin(), g[0].end());
    check(w, *hi - *lo, cmp);
  });
  forEach("rankSum", [&](const std::string&, const Groups& g, const Check& c, Comparer& cmp) {
    const WilcoxonResult w = rankSumTest(g[0], g[1], 0, tailOf(c.options));
    const auto [xl, xh] = std::minmax_element(g[0].begin(), g[0].end());
    const auto [yl, yh] = std::minmax_element(g[1].begin(), g[1].end());
    check(w, (*xh - *yl) - (*xl - *yh), cmp);
    // Effect sizes: r from the uncorrected z, the rank-biserial from W.
    EXPECT_NEAR(w.rankBiserial, 2 * w.W / (g[0].size() * g[1].size()) - 1, 1e-15);
    EXPECT_LE(std::fabs(w.r), 1);
  });
  // The exact distributions: symmetric, summing to one, and R's values at a few points.
  EXPECT_NEAR(signedRankCdf(10, 10), 0.0419921875, 1e-15);    // psignrank(10, 10) = 43/1024
  EXPECT_NEAR(rankSumCdf(12, 8, 9), 0.0103249691485, 1e-12);  // pwilcox(12, 8, 9)
  EXPECT_NEAR(rankSumCdf(35, 8, 9) + rankSumCdf(36, 8, 9), 1, 1e-12);
  EXPECT_DOUBLE_EQ(signedRankCdf(55, 10), 1);
}

TEST(RankCorrelations, SpearmanAndKendallAgreeWithR) {
  forEach("rankCorrelation", [](const std::string&, const Groups& g, const Check&, Comparer& cmp) {
    const RankCorrelation s = spearman(g[0], g[1]);
    const RankCorrelation k = kendall(g[0], g[1]);
    cmp("rho", s.estimate, 1e-12);
    cmp("rhoP", s.p, 1e-9, 1e-300);
    cmp("tau", k.estimate, 1e-12);
    cmp("tauP", k.p, 1e-9, 1e-300);
  });
  EXPECT_TRUE(std::isnan(spearman(std::vector<double>{1, 2, 3}, std::vector<double>{4, 4, 4}).estimate));
}

// Past the sizes sorted by comparison, with heavy ties, negatives and both
// zeros (-0 == +0 is one tie): tau-b and the average ranks against their
// definitions over all pairs.
TEST(RankCorrelations, LargeTiedSamplesMatchTheirDefinitions) {
  std::vector<double> x, y;
  unsigned state = 7;
  const auto next = [&](unsigned m) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % m;
  };
  for (int i = 0; i < 700; ++i) {
    const unsigned a = next(6);
    x.push_back(a == 2 ? -0.0 : static_cast<double>(a) - 3);
    y.push_back(static_cast<double>(next(40)) - 20 + (i % 3 == 0 ? 0.5 : 0) + (a == 2 ? 1 : 0));
  }
  double concordant = 0, discordant = 0, tiedX = 0, tiedY = 0;
  const double n = static_cast<double>(x.size());
  for (size_t i = 0; i < x.size(); ++i)
    for (size_t j = i + 1; j < x.size(); ++j) {
      const double s = (x[i] - x[j]) * (y[i] - y[j]);
      concordant += s > 0;
      discordant += s < 0;
      tiedX += x[i] == x[j];
      tiedY += y[i] == y[j];
    }
  const double n0 = n * (n - 1) / 2;
  EXPECT_NEAR(kendall(x, y).estimate, (concordant - discordant) / std::sqrt((n0 - tiedX) * (n0 - tiedY)),
              1e-12);
  const Ranking r = rankValues(x);
  for (size_t i = 0; i < x.size(); ++i) {
    double below = 0, equal = 0;
    for (double v : x) {
      below += v < x[i];
      equal += v == x[i];
    }
    ASSERT_EQ(r.ranks[i], below + (equal + 1) / 2) << i;
  }
}

}  // namespace
}  // namespace tabulix
