#include "analyses/definitions.h"

#include <algorithm>
#include <chrono>

#include "analyses/filters.h"
#include "analyses/regression/regression.h"
#include "analyses/report_text.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"

namespace tabulix {

namespace {

std::string nameOf(const Column* c) { return c && c->name ? *c->name : std::string(); }

VariableType typeOf(const Column& c) {
  int t = c.type.value_or(0);
  return t >= 1 && t <= 4 ? static_cast<VariableType>(t) : VariableType::Unknown;
}

void save(Model& model) { (void)model.saveContext(); }  // a failed save has been reported

}  // namespace

std::vector<AnalysisMenuRow> analysisMenu() {
  return {
      {tr("Two way table of frequencies"), tr("contingency table, chi squared"), "twoWayTab", TwoWayTab, {}},
      {tr("Bivariate Analysis"),
       tr("correlation and simple linear regression"),
       "correlation",
       Correlation,
       {}},
      {tr("Hypothesis test of means"), tr("1, 2, or paired samples"), "hypothesisTestMeans", HypothesisTest,
       0},
      {tr("Hypothesis test of proportions"), tr("1, 2, or paired samples"), "hypothesisTestProportions",
       HypothesisTest, 2},
      {tr("Tests on Ranks"), tr("Wilcoxon, Mann–Whitney, Friedman"), "ranks", Ranks, {}},
      {tr("Linear Regression"), tr("multi-variate"), "regression", Regression, 0},
      {tr("Logistic Regression"), tr("multi-variate"), "regression", Regression, 2},
      {tr("One-way ANOVA"), tr("table of summary statistics and box plot"), "tabSummarize", TabSummarize, {}},
  };
}

Analysis* addAnalysis(Model& model, const std::string& name) {
  Analysis* a = model.context().insertAnalysis();
  a->name = name;
  a->lastOpened = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  save(model);
  return a;
}

void removeAnalysis(Model& model, Analysis* analysis) {
  StepScope step(model.context(),
                 fillPlaceholders(tr("delete analysis %@"), {summaryForAnalysis(model, *analysis).title}));
  model.context().deleteObject(analysis);
  save(model);
}

bool analysisHasItsVariables(const Analysis& a) {
  switch (a.type.value_or(0)) {
    case TwoWayTab:
    case TabSummarize:
    case Correlation:
      return a.left && a.right;
    case Regression:
      return a.left && !a.columns.empty();
    case Ranks:
      return a.samples.value_or(1) == 3 ? a.columns.size() >= 3 : a.left != nullptr;
    default:
      return a.left != nullptr;
  }
}

bool dropAnalysisWithoutVariables(Model& model, Analysis* analysis) {
  if (!analysis || analysisHasItsVariables(*analysis)) return false;
  // Not a step of the history: creating it was none either.
  model.context().deleteObject(analysis);
  save(model);
  return true;
}

Analysis* addAnalysisFromMenu(Model& model, size_t row) {
  auto menu = analysisMenu();
  if (row >= menu.size()) return nullptr;
  Analysis* a = addAnalysis(model, tr("New Analysis"));
  a->type = menu[row].type;
  a->distribution = menu[row].distribution;
  save(model);
  return a;
}

void addColumnToAnalysis(Model& model, Column* column, Analysis* analysis, int position) {
  if (position == 3) {
    if (std::find(analysis->columns.begin(), analysis->columns.end(), column) == analysis->columns.end())
      analysis->columns.push_back(column);
  } else if (position == 2) {
    analysis->right = column;
  } else if (position == 1) {
    analysis->left = column;
    std::erase(analysis->columns, column);
  }
  save(model);
}

std::set<VariableType> variableTypesForAnalysisType(int32_t type, int position) {
  using enum VariableType;
  const bool first = position == 1;
  switch (type) {
    case TwoWayTab:
      return {Categorical, Binary};
    case TabSummarize:
      return first ? std::set{Numeric, Binary, DateTime} : std::set{Categorical, Binary, Numeric, DateTime};
    case Correlation:
    case HypothesisTest:
      return {Numeric, Binary, DateTime};
    case Regression:
      return {Numeric, Binary};
    case Ranks:
      return {Numeric};
    default:
      return {};
  }
}

std::vector<Column*> columnsForAnalysisType(Model& model, int32_t type, int position) {
  std::vector<Column*> candidates = columnsOfTypes(model, variableTypesForAnalysisType(type, position));
  // A: the positions that need numbers; B: the grouping variable.
  const bool a = type == Correlation || (type == TabSummarize && position == 1);
  const bool b = type == TabSummarize && position == 2;
  std::vector<Column*> out;
  for (Column* c : candidates) {
    const VariableType t = typeOf(*c);
    if (a) {
      const bool hasValues =
          t == VariableType::DateTime ? c->obsDate.value_or(0) > 0 : c->obsNumeric.value_or(0) > 0;
      if (!hasValues) continue;
      if (t == VariableType::Binary && c->obsNumeric.value_or(0) != c->obs.value_or(0)) continue;
    } else if (b) {
      if ((t == VariableType::Numeric || t == VariableType::DateTime) && c->levels.value_or(0) > 20) continue;
    }
    out.push_back(c);
  }
  return out;
}

std::vector<Column*> columnsToAddToAnalysisType(Model& model, int32_t type, int position,
                                                const Column* left) {
  std::vector<Column*> out = columnsForAnalysisType(model, type, position);
  if (type == Regression && position == 3 && left) std::erase(out, left);
  return out;
}

std::vector<Column*> columnsToAddToAnalysis(Model& model, const Analysis& analysis, int position) {
  const int32_t type = analysis.type.value_or(0);
  if (type == HypothesisTest || (type == Regression && position == 1)) {
    std::vector<Column*> out;
    const bool proportions = analysis.distribution.value_or(0) == 2;
    for (Column* c : columns(model)) {
      const VariableType t = typeOf(*c);
      if (proportions ? c->levels.value_or(0) == 2
                      : t == VariableType::Numeric || t == VariableType::DateTime)
        out.push_back(c);
    }
    return out;
  }
  return columnsToAddToAnalysisType(model, type, position, analysis.left);
}

void chooseColumnsForAnalysis(Model& model, Analysis* analysis, int position,
                              const std::vector<Column*>& chosen) {
  if (position == 3) {
    // One save for the whole list: "Add All" may choose hundreds.
    analysis->columns.clear();
    std::set<Column*> seen;
    for (Column* c : chosen)
      if (seen.insert(c).second) analysis->columns.push_back(c);
    save(model);
  } else if (!chosen.empty()) {
    addColumnToAnalysis(model, chosen.front(), analysis, position);
  }
}

bool prepareRegressionAnalysis(Analysis* a) {
  if (a->type != Regression || !a->left) return false;
  const DependentModels models = modelsForDependent(*a->left);
  if (!models.logistic && !models.linear) {
    a->left = nullptr;
    return true;
  }
  const bool logistic = a->distribution.value_or(0) == 2;
  if (logistic && !models.logistic) {
    a->distribution = 0;
    return true;
  }
  if (!logistic && !models.linear) {
    a->distribution = 2;
    return true;
  }
  return false;
}

namespace {

// Clears a stored test that the analysis's setting does not allow.
void clearInvalidTest(Analysis* a) {
  if (!a->test) return;
  const auto valid = validTestsForDistribution(a->distribution.value_or(0), a->samples.value_or(1),
                                               a->isPaired.value_or(false));
  if (std::find(valid.begin(), valid.end(), *a->test) == valid.end()) a->test.reset();
}

// "Comparing Y where …", without a "where" left hanging when there are no conditions.
std::string comparing(const std::string& what, const std::string& filters) {
  return filters.empty() ? fillPlaceholders(tr("Comparing %@"), {what})
                         : fillPlaceholders(tr("Comparing %@ where %@"), {what, filters});
}

// "to X where …", the second sample of a test; "to X" without conditions.
std::string comparedWith(const std::string& right, const std::string& filters) {
  return filters.empty() ? fillPlaceholders(tr("to %@"), {right})
                         : fillPlaceholders(tr("to %@ where %@"), {right, filters});
}

}  // namespace

void clearInvalidHypothesisTest(Analysis* a) { clearInvalidTest(a); }

void setHypothesisSamples(Analysis* a, int samples, bool paired) {
  a->samples = samples;
  a->isPaired = samples == 2 && paired;
  clearInvalidTest(a);
}

void setHypothesisDistribution(Analysis* a, int distribution) {
  a->distribution = distribution;
  clearInvalidTest(a);
}

void setHypothesisTest(Analysis* a, std::optional<int> test) {
  a->test = test;
  if (!test || a->distribution.value_or(0) != 2) return;
  if (const auto implied = samplesForTest(*test)) {
    a->samples = implied->first;
    a->isPaired = implied->second;
  }
}

RankTest rankTestOfAnalysis(const Analysis& a) {
  switch (a.samples.value_or(1)) {
    case 3:
      return RankTest::Friedman;
    case 2:
      return a.isPaired.value_or(false) ? RankTest::PairedSignedRank : RankTest::RankSum;
    default:
      return RankTest::SignedRank;
  }
}

int regressionTypeOfAnalysis(const Analysis& analysis) {
  return analysis.distribution.value_or(0) == 2 ? 1 : 0;
}

AnalysisSummary summaryForAnalysis(Model& model, const Analysis& a) {
  AnalysisSummary s;
  const int32_t type = a.type.value_or(0);
  const std::string left = nameOf(a.left), right = nameOf(a.right);
  const std::string filters = stringForWhereAnalysis(model, a);
  // No conditions, no line: a bare "Filters:" says nothing. The tests'
  // lines below say what the sample is compared with, and stay.
  if (!filters.empty()) s.filterLine = fillPlaceholders(tr("Filters: %@"), {filters});
  switch (type) {
    case TwoWayTab:
      s.displayStyle = "TwoWayTab";
      s.title = fillPlaceholders(tr("Two way table of frequencies for %@ and %@"), {left, right});
      break;
    case TabSummarize:
      s.displayStyle = "TabSummarize";
      s.title = fillPlaceholders(tr("One-way ANOVA of %@ by %@."), {left, right});
      s.description = tr("Includes table of summary statistics");
      break;
    case Correlation:
      s.displayStyle = "Correlation";
      s.title = fillPlaceholders(tr("Bivariate analysis of %@ and %@"), {right, left});
      s.description = tr("Includes scatter plot, correlation, and simple linear regression");
      break;
    case Regression: {
      s.displayStyle = "Regression";
      s.title = fillPlaceholders(regressionTypeOfAnalysis(a) == 1
                                     ? tr("Logistic regression explaining variation in %@")
                                     : tr("Linear regression explaining variation in %@"),
                                 {left});
      std::vector<Column*> cols = a.columns;
      std::stable_sort(cols.begin(), cols.end(), [](const Column* x, const Column* y) {
        return x->num.value_or(0) < y->num.value_or(0);
      });
      s.description = fillPlaceholders(tr("%@ ~ "), {left});
      for (const Column* c : cols) {
        std::string name = nameOf(c);
        std::erase_if(name, [](char ch) { return ch == '\n' || ch == '\r'; });
        s.description += fillPlaceholders(tr("%@ + "), {name});
      }
      s.description += tr("constant");
      break;
    }
    case HypothesisTest: {
      const int distribution = a.distribution.value_or(0);
      s.displayStyle = distribution == 2 ? "HypothesisTestProportions" : "HypothesisTestMeans";
      const int samples = a.samples.value_or(1);
      const bool paired = a.isPaired.value_or(false);
      s.title = nameForTest(testForDistribution(distribution, samples, paired, 30), a.tails.value_or(0),
                            samples, paired)
                    .value_or("");
      s.description = comparing(left, filters);
      if (samples == 1) {
        const VariableType t = a.left ? typeOf(*a.left) : VariableType::Numeric;
        s.filterLine = fillPlaceholders(tr("to expected value %@"),
                                        {a.expected ? stringFromNumber(*a.expected, t) : std::string()});
      } else if (paired) {
        s.filterLine = fillPlaceholders(tr("to paired observations of %@"), {right});
      } else {
        s.filterLine = comparedWith(right, stringForWhereClauses(model, a.wheres2));
      }
      break;
    }
    case Ranks: {
      s.displayStyle = "Ranks";
      RanksContext c;
      c.test = rankTestOfAnalysis(a);
      c.tails = a.tails.value_or(0);
      s.title = ranksTestName(c);
      if (c.test == RankTest::Friedman) {
        std::string names;
        for (const Column* col : a.columns) names += (names.empty() ? "" : ", ") + nameOf(col);
        s.description = names;
      } else {
        s.description = left;
      }
      s.description = comparing(s.description, filters);
      if (c.test == RankTest::SignedRank)
        s.filterLine = fillPlaceholders(
            tr("to expected value %@"),
            {a.expected ? stringFromNumber(*a.expected, VariableType::Numeric) : std::string()});
      else if (c.test == RankTest::PairedSignedRank)
        s.filterLine = fillPlaceholders(tr("to paired observations of %@"), {right});
      else if (c.test == RankTest::RankSum)
        s.filterLine = comparedWith(right, stringForWhereClauses(model, a.wheres2));
      break;
    }
    default:
      s.displayStyle = "Incomplete";
      s.title = tr("Analysis type not chosen");
  }
  return s;
}

std::vector<Analysis*> searchAnalyses(Model& model, std::string_view search, const NameMatcher& contains) {
  std::vector<Analysis*> all = analyses(model);
  if (search.empty()) return all;
  std::vector<Analysis*> out;
  for (Analysis* a : all)
    if ((a->left && contains(nameOf(a->left), search)) || (a->right && contains(nameOf(a->right), search)))
      out.push_back(a);
  return out;
}

}  // namespace tabulix
