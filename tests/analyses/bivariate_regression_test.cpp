// The bivariate analysis and the linear and logistic regressions against R
// (tests/reference/bivariate_regression.R: cor.test and lm on trees and swiss,
// lm on swiss, longley and stackloss, glm(binomial) on CO2), and the edge
// cases of their reported sentences, drops, dates and exports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "analyses/analysis_kind.h"
#include "analyses/correlation/correlation_report.h"
#include "analyses/regression/regression_report.h"
#include "engine/workspace_data.h"
#include "stats/statistics.h"
#include "test_workspace.h"

namespace fs = std::filesystem;
using namespace tabulix;

namespace {

const fs::path& kRef = tabulix::testing::kReferenceDir;

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream ss(line);
  std::string f;
  while (std::getline(ss, f, ',')) fields.push_back(f);
  if (!line.empty() && line.back() == ',') fields.emplace_back();
  return fields;
}

// "case.key" -> numbers.
std::map<std::string, std::vector<double>> expected() {
  std::map<std::string, std::vector<double>> out;
  std::ifstream in(kRef / "analysis_expected.txt");
  std::string line;
  while (std::getline(in, line)) {
    auto f = split(line);
    for (size_t i = 1; i < f.size(); ++i) out[f[0]].push_back(std::stod(f[i]));
  }
  return out;
}

struct Workspace : tabulix::testing::TestWorkspace {
  using TestWorkspace::TestWorkspace;
  static Workspace* fromCsv(const std::string& name) {
    std::ifstream in(kRef / ("analysis_" + name + ".csv"));
    std::string line;
    std::getline(in, line);
    auto names = split(line);
    std::vector<std::vector<std::string>> rows;
    while (std::getline(in, line)) rows.push_back(split(line));
    return new Workspace(names, rows);
  }
};

// Relative closeness, with an absolute floor for figures near 0.
void expectClose(const std::vector<double>& ours, const std::vector<double>& theirs, double rel, double abs,
                 const std::string& what) {
  ASSERT_EQ(ours.size(), theirs.size()) << what;
  for (size_t i = 0; i < ours.size(); ++i)
    EXPECT_NEAR(ours[i], theirs[i], rel * std::fabs(theirs[i]) + abs) << what << "[" << i << "]";
}

}  // namespace

TEST(Bivariate, AgreesWithCorTestAndLm) {
  auto e = expected();
  struct Case {
    std::string name, file, x, y;
  };
  for (const Case& c : {Case{"trees", "trees", "Girth", "Volume"},
                        Case{"swiss_catholic", "swiss", "Education", "Fertility"}}) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<Workspace> w(Workspace::fromCsv(c.file));
    std::vector<int32_t> rows;
    for (double r : e[c.name + ".rows"]) rows.push_back(static_cast<int32_t>(r));
    CorrelationResult r = correlationResultsForColumn(w->model, w->col(c.x), w->col(c.y), &rows);
    const CorrelationRecord& k = r.correlation;
    EXPECT_NEAR(k.r, e[c.name + ".r"][0], 1e-12);
    EXPECT_NEAR(k.t, e[c.name + ".t"][0], 1e-10 * std::fabs(k.t));
    EXPECT_EQ(k.df, e[c.name + ".df"][0]);
    // p is cor.test's, from t with n - 2 df (exact t distribution: relative
    // 1e-11), not the normal p of Fisher's z, from which it differs by a
    // factor of 2.5 or more here.
    EXPECT_NEAR(k.p, e[c.name + ".p_t"][0], 1e-11 * e[c.name + ".p_t"][0]);
    EXPECT_GT(std::fabs(k.p - e[c.name + ".p_fisher"][0]), 0.5 * e[c.name + ".p_t"][0]);
    // The Fisher-z interval with the exact normal quantile (AS 241): R's to rounding.
    EXPECT_NEAR(k.ci[0], e[c.name + ".ci"][0], 1e-12);
    EXPECT_NEAR(k.ci[1], e[c.name + ".ci"][1], 1e-12);
    // The line: [slope, intercept] with their errors and tests, as lm.
    expectClose(r.fit.coeffs(), e[c.name + ".coeffs"], 1e-10, 1e-12, "coeffs");
    expectClose(r.fit.standardErrors(), e[c.name + ".se"], 1e-10, 1e-12, "se");
    expectClose(r.fit.t(), e[c.name + ".t_reg"], 1e-10, 1e-12, "t");
    expectClose(r.fit.p(), e[c.name + ".p_reg"], 1e-8, 1e-13, "p");
    const auto& ols = std::get<OlsResult>(r.fit.fit);
    EXPECT_EQ(ols.N, static_cast<uint32_t>(e[c.name + ".n"][0]));
    EXPECT_NEAR(ols.r2, e[c.name + ".r2"][0], 1e-12);
    EXPECT_NEAR(ols.r2adj, e[c.name + ".r2adj"][0], 1e-12);
    EXPECT_NEAR(ols.rmse, e[c.name + ".rmse"][0], 1e-10 * ols.rmse);
    // Residuals are observed minus fitted.
    EXPECT_NEAR(ols.residuals[0], k.data[1][0] - ols.yhat[0], 1e-12 * std::fabs(k.data[1][0]));
    // The segment reaches 1.5 widths of x past the data on each side.
    const double lo = e[c.name + ".xmin"][0], hi = e[c.name + ".xmax"][0], wdt = hi - lo;
    EXPECT_DOUBLE_EQ(r.dataFit[0][0], lo - 1.5 * wdt);
    EXPECT_DOUBLE_EQ(r.dataFit[0][1], hi + 1.5 * wdt);
    EXPECT_NEAR(r.dataFit[1][1], r.fit.coeffs()[0] * (hi + 1.5 * wdt) + r.fit.coeffs()[1], 1e-9);
    // The residual histogram counts every residual.
    double total = 0;
    for (double n : r.histogram.counts) total += n;
    EXPECT_EQ(total, ols.N);
  }
}

TEST(Regression, LinearAgreesWithLm) {
  auto e = expected();
  struct Case {
    std::string name, y;
    std::vector<std::string> xs;
    double rel;  // longley's regressors are nearly collinear: fewer digits agree
  };
  for (const Case& c : {Case{"swiss",
                             "Fertility",
                             {"Agriculture", "Examination", "Education", "Catholic", "Infant.Mortality"},
                             1e-10},
                        Case{"longley",
                             "Employed",
                             {"GNP.deflator", "GNP", "Unemployed", "Armed.Forces", "Population", "Year"},
                             1e-7},
                        Case{"stackloss", "stack.loss", {"Air.Flow", "Water.Temp", "Acid.Conc."}, 1e-10}}) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<Workspace> w(Workspace::fromCsv(c.name));
    std::vector<Column*> xs;
    for (const auto& x : c.xs) xs.push_back(&w->col(x));
    RegressionResult r = ols(w->model, w->col(c.y), xs, nullptr, false, {});
    EXPECT_EQ(r.names, c.xs);
    EXPECT_EQ(r.nameLHS, c.y);
    expectClose(r.fit.coeffs(), e[c.name + ".coeffs"], c.rel, 1e-12, "coeffs");
    expectClose(r.fit.standardErrors(), e[c.name + ".se"], c.rel, 1e-12, "se");
    expectClose(r.fit.t(), e[c.name + ".t"], c.rel, 1e-12, "t");
    expectClose(r.fit.p(), e[c.name + ".p"], 1e-6, 1e-13, "p");
    expectClose(r.fit.residuals(), e[c.name + ".residuals"], 0, c.rel * 100, "residuals");
    const auto& f = std::get<OlsResult>(r.fit.fit);
    EXPECT_EQ(f.N, e[c.name + ".N"][0]);
    EXPECT_NEAR(f.r2, e[c.name + ".r2"][0], 1e-10);
    EXPECT_NEAR(f.r2adj, e[c.name + ".r2adj"][0], 1e-10);
    EXPECT_NEAR(f.rmse, e[c.name + ".rmse"][0], c.rel * f.rmse);
  }
}

TEST(Regression, LogisticAgreesWithGlm) {
  auto e = expected();
  std::unique_ptr<Workspace> w(Workspace::fromCsv("co2"));
  ASSERT_EQ(w->col("Type").type, static_cast<int32_t>(VariableType::Binary));
  AnalysisRequest request;
  request.left = *w->col("Type").num;
  request.columns = {*w->col("uptake").num, *w->col("Treatment").num, *w->col("conc").num};
  request.settings["leftLevel1"] = "Mississippi";
  AnalysisOutput out = analysisKinds().at("logistic").run(w->model, request);
  const auto& j = out.result;
  // Columns in number order; the binary regressor is named by its level 1.
  EXPECT_EQ(j["names"], nlohmann::json({"(Treatment=chilled)", "conc", "uptake"}));
  EXPECT_EQ(j["nameLHS"], "(Type=Mississippi)");
  EXPECT_EQ(out.baseName, "Logistic regression model for variable Type");
  auto list = [&](const char* key) { return j[key].get<std::vector<double>>(); };
  // glm stops when the deviance changes by less than 1e-8 relative; our
  // loop runs until the fitted probabilities settle, so 1e-6 covers glm's
  // own distance from the optimum.
  expectClose(list("coeffs"), e["co2.coeffs"], 1e-6, 1e-10, "coeffs");
  expectClose(list("variance"), e["co2.se"], 1e-6, 1e-10, "se");
  expectClose(list("t"), e["co2.z"], 1e-6, 1e-10, "z");
  expectClose(list("p"), e["co2.p"], 1e-5, 1e-12, "p");
  EXPECT_EQ(j["N"], e["co2.N"][0]);
  EXPECT_NEAR(j["LL"].get<double>(), e["co2.LL"][0], 1e-8);
  EXPECT_NEAR(j["LL0"].get<double>(), e["co2.LL0"][0], 1e-10);
  EXPECT_NEAR(j["r2adj"].get<double>(), e["co2.pseudoR2"][0], 1e-9);
  EXPECT_NEAR(j["AIC"].get<double>(), e["co2.AIC"][0], 1e-7);
  // Our ROC walks 100 probability bins; the exact trapezoid over every
  // threshold differs by the bins' coarseness, at most 0.01 here.
  EXPECT_NEAR(j["AUC"].get<double>(), e["co2.AUC"][0], 0.01);
  // The chart plots the false-positive rate across and the true-positive rate
  // up, from (0, 0) to (1, 1): the area under the drawn curve (trapezoids) is
  // the reported AUC, not 1 - AUC.
  RegressionResult fit =
      ols(w->model, w->col("Type"), {&w->col("Treatment"), &w->col("conc"), &w->col("uptake")}, nullptr, true,
          {{"Quebec", 0}, {"Mississippi", 1}});
  RegressionContext context;
  context.logistic = true;
  auto charts = regressionCharts(fit, context);
  ASSERT_EQ(charts.size(), 1u);
  ASSERT_EQ(charts[0].lines.size(), 2u);
  EXPECT_EQ(charts[0].x.title, "False Positive Rate");
  const charts::LineSeries& curve = charts[0].lines[1];
  ASSERT_GT(curve.x.size(), 2u);
  double area = 0;
  for (size_t i = 1; i < curve.x.size(); ++i)
    area += (curve.x[i] - curve.x[i - 1]) * (curve.y[i] + curve.y[i - 1]) / 2;
  EXPECT_NEAR(std::fabs(area), j["AUC"].get<double>(), 1e-9);
  EXPECT_NEAR(std::fabs(area), e["co2.AUC"][0], 0.01);
  // Choosing the other level flips every coefficient's sign.
  request.settings["leftLevel1"] = "Quebec";
  auto flipped =
      analysisKinds().at("logistic").run(w->model, request).result["coeffs"].get<std::vector<double>>();
  for (size_t i = 0; i < flipped.size(); ++i) EXPECT_NEAR(flipped[i], -list("coeffs")[i], 1e-8);
  // A level that does not occur falls back to the last one (in text order).
  request.settings["leftLevel1"] = "Ontario";
  EXPECT_EQ(analysisKinds().at("logistic").run(w->model, request).result["leftLevel1"], "Quebec");
}

TEST(Bivariate, SentencesAndExactLine) {
  std::vector<double> x, y;
  for (int i = 1; i <= 10; ++i) {
    x.push_back(i);
    y.push_back(2 * i + 1);
  }
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 10; ++i) rows.push_back({std::to_string(int(x[i])), std::to_string(int(y[i]))});
  Workspace w({"x", "y"}, rows);
  CorrelationResult r = correlationResultsForColumn(w.model, w.col("x"), w.col("y"), nullptr);
  EXPECT_NEAR(r.correlation.r, 1, 1e-12);
  EXPECT_NEAR(r.fit.coeffs()[0], 2, 1e-12);
  EXPECT_NEAR(r.fit.coeffs()[1], 1, 1e-12);
  EXPECT_NEAR(std::get<OlsResult>(r.fit.fit).r2, 1, 1e-12);
  EXPECT_EQ(correlationInterpretation(r.correlation),
            "Correlation is significantly different than zero (p<0.05). Variables have strong positive "
            "correlation.");
  EXPECT_EQ(correlationRegressionLines(r).back(), "y =  2 * x + 1 + ϵ");

  // Strength at the edges of its bands.
  auto strength = [](double rv) {
    CorrelationRecord c;
    c.r = rv;
    c.df = 50;
    c.p = 0.5;
    std::string s = correlationInterpretation(c);
    return s.substr(std::string("Correlation is not significantly different than zero (p>0.05).").size());
  };
  EXPECT_EQ(strength(0.05), "");
  EXPECT_EQ(strength(-0.0999), "");
  EXPECT_EQ(strength(0.1), " Variables have weak positive correlation.");
  EXPECT_EQ(strength(-0.1), " Variables have weak negative correlation.");
  EXPECT_EQ(strength(-0.3), " Variables have medium negative correlation.");
  EXPECT_EQ(strength(0.3), " Variables have medium positive correlation.");
  EXPECT_EQ(strength(0.4999), " Variables have medium positive correlation.");
  EXPECT_EQ(strength(0.5), " Variables have strong positive correlation.");
  EXPECT_EQ(strength(-0.5), " Variables have strong negative correlation.");

  // Two pairs: r = ±1 and no Fisher p. No pairs; a constant variable.
  EXPECT_EQ(correlationInterpretation(correlationOfData({1, 2}, {3, 5})).substr(0, 22),
            "Correlation is exact. ");
  EXPECT_EQ(correlationInterpretation(correlationOfData({}, {})),
            "Variables have no numeric rows in common.");
  CorrelationRecord flat = correlationOfData({1, 2, 3, 4}, {5, 5, 5, 5});
  EXPECT_EQ(correlationInterpretation(flat).substr(0, 26), "Correlation is not defined");
}

TEST(Bivariate, DatesAreReportedPerDay) {
  // Dates one to three days apart against a number, and the same the other way round.
  std::vector<std::vector<std::string>> rows = {{"2021-03-01", "10"},
                                                {"2021-03-02", "12.5"},
                                                {"2021-03-05", "19"},
                                                {"2021-03-06", "23"},
                                                {"2021-03-09", "28"}};
  Workspace w({"when", "amount"}, rows);
  ASSERT_EQ(w.col("when").type, static_cast<int32_t>(VariableType::DateTime));
  CorrelationResult r = correlationResultsForColumn(w.model, w.col("when"), w.col("amount"), nullptr);
  // The same line fitted on day numbers.
  std::vector<double> days, amounts = {10, 12.5, 19, 23, 28};
  for (double s : r.correlation.data[0]) days.push_back(s / 86400);
  FitResult perDay = olsY(amounts, {days}, false);
  EXPECT_NEAR(r.fit.coeffs()[0], perDay.coeffs()[0], 1e-9 * std::fabs(perDay.coeffs()[0]));
  EXPECT_NEAR(r.fit.standardErrors()[0], perDay.standardErrors()[0], 1e-9 * perDay.standardErrors()[0]);
  // The segment is drawn in seconds, with the unscaled slope.
  EXPECT_NEAR(r.dataFit[1][1] - r.dataFit[1][0],
              perDay.coeffs()[0] * (r.dataFit[0][1] - r.dataFit[0][0]) / 86400, 1e-6);
  // A date y: the slope (seconds per unit) and the constant come in days.
  CorrelationResult back = correlationResultsForColumn(w.model, w.col("amount"), w.col("when"), nullptr);
  FitResult secs = olsY(r.correlation.data[0], {amounts}, false);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_NEAR(back.fit.coeffs()[i], secs.coeffs()[i] / 86400, 1e-9 * std::fabs(secs.coeffs()[i] / 86400));
    EXPECT_NEAR(back.fit.standardErrors()[i], secs.standardErrors()[i] / 86400,
                1e-9 * secs.standardErrors()[i] / 86400);
  }
  EXPECT_EQ(correlationCharts(back)[1].y.title, "Residual (seconds)");
}

TEST(Regression, DropsWarningsAndExport) {
  // x2 = 2 x1 (collinear: the earlier x1 is dropped), k constant, b binary.
  std::vector<std::vector<std::string>> rows;
  const double ys[] = {3.1, 4.9, 7.2, 8.8, 11.1, 13.2, 14.8, 17.1, 18.9, 21.2, 23.1, 24.8};
  for (int i = 0; i < 12; ++i)
    rows.push_back({std::to_string(i + 1), std::to_string(2 * (i + 1)), "7", i % 3 == 0 ? "no" : "yes",
                    std::to_string(ys[i])});
  Workspace w({"x1", "x2", "k", "b", "y"}, rows);
  AnalysisRequest request;
  request.left = *w.col("y").num;
  request.columns = {*w.col("x1").num, *w.col("x2").num, *w.col("k").num, *w.col("b").num};
  AnalysisOutput out = analysisKinds().at("linear").run(w.model, request);
  const auto& j = out.result;
  EXPECT_EQ(j["drop"], nlohmann::json({"collinear", "keep", "constant", "keep", "keep"}));
  EXPECT_EQ(j["names"][3], "(b=yes)");
  EXPECT_TRUE(std::isnan(j["coeffs"][0].get<double>()));
  EXPECT_TRUE(std::isnan(j["coeffs"][2].get<double>()));
  EXPECT_FALSE(std::isnan(j["coeffs"][4].get<double>()));  // the constant stays last
  std::string csv;
  auto writer = CsvWriter::initForWritingToString(csv);
  out.csvLines(*writer);
  writer->closeStream();
  const std::string head =
      "Linear regression model for variable y\n\nFilters:,\nObservations,12\nAdjusted R²,";
  EXPECT_EQ(csv.substr(0, head.size()), head);
  const size_t adj = csv.find("Adjusted R²,") + std::string("Adjusted R²,").size();
  EXPECT_NEAR(std::stod(csv.substr(adj)), j["r2adj"].get<double>(), 1e-15);
  EXPECT_NE(csv.find("\nRMSE,"), std::string::npos);
  EXPECT_NE(csv.find("\n\nVariable,Coefficient,Standard Error,t,p > | t |,Significance\n"),
            std::string::npos);
  EXPECT_NE(csv.find("\nx1,NaN,NaN,NaN,NaN,\n"), std::string::npos);
  EXPECT_NE(csv.find("\nConstant,"), std::string::npos);
  // The table shows the notes instead of figures.
  std::string layout = reports::toJson(out.screen).dump();
  EXPECT_NE(layout.find("Variable dropped because it is collinear with another variable."),
            std::string::npos);
  EXPECT_NE(layout.find("Variable dropped because it has only one value."), std::string::npos);

  // A dependent without variation; then no observations at all.
  RegressionContext c;
  c.numIndependent = 1;
  RegressionResult flat = ols(w.model, w.col("k"), {&w.col("x2")}, nullptr, false, {});
  EXPECT_EQ(regressionInterpretation(flat, c),
            "Dependent variable k is constant on all rows in regression. There is no variation to explain.");
  std::vector<int32_t> none;
  bool red = false;
  RegressionResult empty = ols(w.model, w.col("y"), {&w.col("x2")}, &none, false, {});
  EXPECT_EQ(regressionInterpretation(empty, c, &red).substr(0, 28), "No observations in model. On");
  EXPECT_TRUE(red);
}

TEST(Regression, SeparatedLogisticAndFitSentences) {
  // y is 1 exactly when x > 5: the fit runs off towards certainty.
  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= 10; ++i) rows.push_back({std::to_string(i), i > 5 ? "up" : "down"});
  Workspace w({"x", "y"}, rows);
  RegressionResult r = ols(w.model, w.col("y"), {&w.col("x")}, nullptr, true, {{"down", 0}, {"up", 1}});
  const auto& logit = std::get<LogitResult>(r.fit.fit);
  ASSERT_TRUE(!logit.converged || logit.numPerfectPredict > 0);
  RegressionContext c;
  c.logistic = true;
  c.numIndependent = 1;
  bool red = false;
  std::string sentence = regressionInterpretation(r, c, &red);
  if (!logit.converged)
    EXPECT_EQ(sentence, "Model did not converge. Coefficients may not be trustworthy.");
  else
    EXPECT_EQ(sentence.substr(0, 42), "Predicted probabilities exactly 0 or 1 for");
  EXPECT_DOUBLE_EQ(logit.AUC, 1);

  // By R: overfitting with few observations, else "good job"; the bands below.
  RegressionResult fit;
  OlsResult ols;
  ols.r2adj = 0.95;
  ols.N = 12;
  fit.fit.fit = ols;
  fit.fit.sdDep = 1;
  fit.nameLHS = "y";
  c.logistic = false;
  c.numIndependent = 3;
  EXPECT_EQ(regressionInterpretation(fit, c).substr(0, 50),
            "The model appears to explain variation in y very w");
  std::get<OlsResult>(fit.fit.fit).N = 20;
  EXPECT_EQ(regressionInterpretation(fit, c).substr(0, 46), "Model does a good job explaining variation in ");
  for (auto [R, start] : std::vector<std::pair<double, std::string>>{
           {0.2999, "Model doesn't"}, {0.3, "Model explains some"}, {0.5, "Model explains most"}}) {
    std::get<OlsResult>(fit.fit.fit).r2adj = R;
    EXPECT_EQ(regressionInterpretation(fit, c).substr(0, start.size()), start) << R;
  }
}

TEST(Regression, BinaryTextsThroughTheLevelMap) {
  // Without a map the codes follow first appearance, the empty text included.
  std::vector<std::vector<std::string>> rows = {
      {"yes", "1"}, {"no", "2"}, {"", "3"}, {"yes", "4"}, {"no", ""}};
  Workspace w({"b", "n"}, rows);
  w.col("b").type = static_cast<int32_t>(VariableType::Binary);
  NumericMatrix m = numericOfColumns(w.model, {&w.col("b"), &w.col("n")}, nullptr, nullptr);
  EXPECT_EQ(m.Xmat[0], (std::vector<double>{0, 1, 2, 0}));
  EXPECT_EQ(m.Xmat[1], (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(m.names[0], "(b=no)");
  // A given map codes its texts; a Numeric column read as Binary.
  DesignMetadata meta = {
      {*w.col("n").num, {VariableType::Binary, std::map<std::string, int32_t>{{"2", 1}, {"1", 0}}}}};
  m = numericOfColumns(w.model, {&w.col("n")}, nullptr, &meta);
  EXPECT_EQ(m.Xmat[0], (std::vector<double>{0, 1, 2, 3, 4}));
  EXPECT_EQ(m.names[0], "(n=2)");
}
