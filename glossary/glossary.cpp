#include "glossary/glossary.h"

#include <cmark.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <regex>

#include "engine/text_fold.h"
#include "engine/translate.h"

namespace tabulix {

const std::vector<GlossaryEntry>& Glossary::dictTerms() {
  static const std::vector<GlossaryEntry> terms = {
      {"observations", "Observations", "The number of elements from your sample data set"},
      {"levels", "Unique Values", "The number of unique values of the variable"},
      {"mean", "Mean", "Arithmetic mean, the sum of the variable divided by the number of observations"},
      {"meanCI", "95% CI of Mean",
       "The range that holds the true mean of the population with 95% confidence. It is the mean plus or "
       "minus about two standard errors (the standard deviation divided by the square root of the number of "
       "observations), a little more for small samples."},
      {"median", "Median", "The middle value of your variable"},
      {"rms", "Root Mean Square",
       "The square root of the mean of the squared values. It measures the typical size of the values, "
       "whatever their sign."},
      {"mode", "Mode", "The most common (frequent) value"},
      {"sum", "Sum", "The total of all values of the variable"},
      {"minimum", "Minimum", "The smallest value of your variable"},
      {"pc25", "1st Quartile",
       "The value below which one quarter (25%) of the observations fall, also called the 25th percentile"},
      {"pc75", "3rd Quartile",
       "The value below which three quarters (75%) of the observations fall, also called the 75th "
       "percentile"},
      {"maximum", "Maximum", "The largest value of your variable"},
      {"range", "Range", "The largest value in the set minus the smallest value in the set"},
      {"midrange", "Mid-Range", "The arithmetic mean of the maximum and minimum values"},
      {"variance", "Variance",
       "How spread out the values are: the sum of the squared differences from the mean, divided by the "
       "number of observations minus one. It is in squared units of the variable."},
      {"varianceCI", "95% CI of Variance",
       "The range that holds the true variance of the population with 95% confidence. It is only reliable "
       "when the values roughly follow a normal (bell-shaped) distribution."},
      {"sd", "Standard Deviation",
       "The square root of the variance. It measures how far values typically lie from the mean, in the "
       "units of the variable."},
      {"sdCI", "95% CI of Std Dev",
       "The range that holds the true standard deviation of the population with 95% confidence: the square "
       "roots of the ends of the 95% CI of Variance"},
      {"mad", "Mean Abs Dev",
       "Mean absolute deviation: the average distance of the values from the mean, whether they lie above "
       "or below it"},
      {"coeffvar", "Coeff. Variation", "Calculated as the ratio of the standard deviation to the mean"},
      {"skew", "Skew",
       "A measure of how lopsided the distribution is. A symmetric distribution has a skew of zero; a "
       "positive skew means a longer tail of large values, a negative skew a longer tail of small values."},
      {"kurtosis", "Excess Kurtosis",
       "A measure of how heavy the tails of the distribution are compared with a normal (bell-shaped) "
       "distribution, whose excess kurtosis is zero. Positive values mean more extreme values than a "
       "normal distribution would give, negative values fewer."},
      {"qqplot", "QQ Plot",
       "Quantile-quantile plot: the sorted values plotted against the values a normal distribution would "
       "give at the same ranks. When the points lie close to the straight line, the variable is roughly "
       "normally distributed."},
      {"depvar", "Dependent Variable", "The variable you are trying to explain."},
      {"indepvar", "Independent Variable",
       "A variable used to explain or predict the dependent variable, also called a predictor."},
      {"coefficient", "Coefficient",
       "The estimated effect of an independent variable: how much the prediction changes when that "
       "variable goes up by one unit and the others stay the same. In logistic regression it is the change "
       "in the log of the odds of the outcome (its probability divided by the probability of the other "
       "value)."},
      {"residuals", "Residuals", "Differences between predicted and actual values."},
      {"linearreg", "Linear Regression",
       "A model that predicts a numeric dependent variable as a constant plus each independent variable "
       "times its coefficient. The coefficients are chosen to make the sum of the squared residuals as "
       "small as possible (least squares)."},
      {"rmse", "RMSE",
       "Root mean squared error: the typical size of a residual, in the units of the dependent variable. It "
       "is the square root of the sum of squared residuals divided by the number of observations minus the "
       "number of coefficients."},
      {"r2", "R²",
       "The share of the variation in the dependent variable that the model explains, from 0 (none) to 1 "
       "(all of it)"},
      {"adjustedR2", "Adjusted-R²",
       "Adjusted-R² adjusts for the number of independent variables, applying a slight penalty for using "
       "more variables"},
      {"logisticreg", "Logistic Regression",
       "A model for a dependent variable with two values, such as yes and no. It predicts the probability "
       "of one of them from the independent variables, through an S-shaped curve that keeps it between 0 "
       "and 1."},
      {"loglikelihood", "Log-likelihood",
       "The logarithm of the probability of the observed data under the fitted model. It is never above "
       "zero, and values closer to zero mean a better fit."},
      {"pseudoR2", "Pseudo-R²",
       "A measure of fit for logistic regression that plays the part of R²: one minus the log-likelihood of "
       "the model divided by that of a model with only a constant. 0 means no better than the constant "
       "alone; higher is better."},
      {"AUC", "AUC",
       "Area under the ROC curve, which plots the share of outcomes the model catches against its share of "
       "false alarms at every cut-off. It is the chance that the model gives a randomly chosen observation "
       "with the outcome a higher predicted probability than one without it: 1 is perfect, 0.5 no better "
       "than tossing a coin."},
      {"AIC", "AIC",
       "Akaike information criteria. A modification of the log likelihood that penalizes for having more "
       "independent variables."},
      {"anovaTable", "ANOVA Table",
       "Splits the total variation of the summarized variable into the part explained by the groups "
       "(between groups) and the rest (within groups). Each part has its degrees of freedom (df), sum of "
       "squares and mean square (the sum of squares divided by df); F is the ratio of the two mean squares."},
      {"eta2", "Eta Squared (η²)",
       "The share of the total variation explained by the groups: the between-groups sum of squares "
       "divided by the total. 0.01 is usually called small, 0.06 medium and 0.14 large."},
      {"omega2", "Omega Squared (ω²)",
       "Like eta squared, the share of variation explained by the groups, but corrected for the bias of "
       "small samples; it is a little smaller and can be slightly negative when the groups explain nothing."},
      {"welchAnova", "Welch's ANOVA",
       "A one-way analysis of variance that does not assume the groups have equal variances. Prefer it when "
       "the groups' standard deviations or sizes differ much."},
      {"levene", "Levene's Test (Brown–Forsythe)",
       "Tests whether the groups have equal variances: the analysis of variance of each value's distance "
       "from its group's median. A small p-value means the spreads differ; then prefer Welch's ANOVA."},
      {"tukeyHsd", "Tukey HSD",
       "Tukey's honestly significant differences: every pair of groups compared, with intervals and "
       "p-values adjusted so that the whole family of comparisons keeps a 5% error rate. Assumes equal "
       "variances."},
      {"gamesHowell", "Games–Howell",
       "Pairwise comparisons of group means like Tukey's, but without assuming equal variances or equal "
       "group sizes (each pair uses Welch's degrees of freedom)."},
      {"kruskalWallis", "Kruskal–Wallis Test",
       "The rank-based counterpart of the one-way ANOVA: tests whether the groups come from the same "
       "distribution by comparing their mean ranks. It does not assume normal data."},
      {"dunn", "Dunn's Comparisons",
       "Pairwise comparisons of the groups' mean ranks after a Kruskal–Wallis test, with p-values adjusted "
       "by Holm's method for the number of comparisons."},
      {"ciDifference", "95% CI of a Difference",
       "The range that holds the true difference of the two means (or proportions) with 95% confidence. "
       "When it does not contain 0, the two-sided test is significant at the 5% level."},
      {"cohenD", "Cohen's d",
       "The size of a difference in standard deviations: the difference of the means divided by the "
       "(pooled) standard deviation. 0.2 is usually called small, 0.5 medium and 0.8 large."},
      {"shapiro", "Shapiro–Wilk Test",
       "Tests whether the values could come from a normal (bell-shaped) distribution. W near 1 means "
       "close to normal; a small p-value means the data are not normal. Computed for 3 to 5,000 values."},
      {"expected", "Expected Count",
       "The count a cell would have if the two variables were independent: its row total times its column "
       "total divided by the grand total. The chi-squared test is unreliable when some are below 5."},
      {"fisher", "Fisher's Exact Test",
       "Tests independence in a two-way table exactly, summing the probabilities of every table with the "
       "same totals, so it is valid for small counts. Large tables may take too long and are not computed."},
      {"oddsRatio", "Odds Ratio",
       "How many times higher the odds of an outcome are in one group than in the other. 1 means no "
       "association. In a logistic regression, the factor by which the odds change per unit of a variable."},
      {"gTest", "Likelihood Ratio G²",
       "A test of independence like the chi-squared test, based on the ratio of the observed to the "
       "expected counts on a logarithmic scale."},
      {"adjustedResiduals", "Adjusted Residuals",
       "For each cell, the difference between the observed and expected count in standard errors. Values "
       "beyond about ±2 show the cells that drive a significant chi-squared test."},
      {"spearman", "Spearman's ρ",
       "The correlation of the ranks of the two variables: measures how well one increases (or decreases) "
       "with the other, whether or not the relation is a straight line."},
      {"kendall", "Kendall's τ",
       "A rank correlation: the balance of concordant and discordant pairs of observations (τ-b corrects "
       "for ties). Less affected by outliers than Pearson's r."},
      {"modelF", "Model F Test",
       "Tests whether the regression explains anything at all: the null hypothesis is that every "
       "coefficient except the constant is zero."},
      {"coeffCI", "95% CI of a Coefficient",
       "The range that holds the true coefficient with 95% confidence, the coefficient plus or minus about "
       "two standard errors."},
      {"beta", "Standardized Coefficient",
       "The coefficient when every variable is measured in standard deviations: comparable between "
       "variables measured in different units."},
      {"vif", "VIF",
       "Variance inflation factor: how much a coefficient's variance grows because the variable is "
       "correlated with the other explanatory variables. Above 5 or 10 signals a collinearity problem."},
      {"lrTest", "Likelihood Ratio Test",
       "Compares the fitted model with the model holding only the constant: twice the gain in log "
       "likelihood, a chi-squared statistic with as many degrees of freedom as variables."},
      {"nagelkerke", "Nagelkerke R²",
       "A pseudo-R² of a logistic regression, rescaled so that it can reach 1; read it like R², as the "
       "share of variation explained."},
      {"classification", "Classification Rates",
       "How well the model sorts the observations, predicting the outcome when its probability is above "
       "0.5: accuracy (the share right), sensitivity (of the outcomes, the share found) and specificity "
       "(of the others, the share right)."},
      {"signedRank", "Wilcoxon Signed-Rank Test",
       "Tests whether the median of one sample (or of paired differences) equals a value, from the ranks "
       "of the distances. It does not assume normal data; V is the sum of the positive ranks."},
      {"rankSum", "Wilcoxon Rank-Sum (Mann–Whitney) Test",
       "Tests whether two independent samples come from the same distribution by comparing their ranks. "
       "W counts the pairs in which the first sample's value is larger."},
      {"hodgesLehmann", "Hodges–Lehmann Estimate",
       "The rank-based estimate of the location (or the shift between two samples): the median of the "
       "pairwise averages (or differences), with its confidence interval."},
      {"rankBiserial", "Rank-Biserial Correlation",
       "An effect size of a rank test between −1 and 1: the difference between the shares of favourable "
       "and unfavourable pairs."},
      {"rankEffect", "Effect Size r",
       "The normal statistic Z of a rank test divided by the square root of the number of observations. "
       "0.1 is usually called small, 0.3 medium and 0.5 large."},
      {"friedman", "Friedman Test",
       "The rank-based test of three or more related samples (the same cases measured several times): "
       "ranks within each case, compared between the variables."},
  };
  return terms;
}

namespace {

const GlossaryEntry* find(std::string_view key) {
  const auto& terms = Glossary::dictTerms();
  auto it = std::find_if(terms.begin(), terms.end(), [&](const GlossaryEntry& e) { return e.key == key; });
  return it == terms.end() ? nullptr : &*it;
}

}  // namespace

std::vector<std::string> Glossary::allTerms() {
  std::vector<std::string> keys;
  for (const auto& e : dictTerms()) keys.push_back(e.key);
  return keys;
}

std::optional<std::string> Glossary::attribute(std::string_view name, std::string_view key) {
  const GlossaryEntry* e = find(key);
  if (!e) return std::nullopt;
  if (name == "title") return tr(e->title);
  if (name == "text") return tr(e->text);
  return std::nullopt;
}

std::optional<std::string> Glossary::titleForTerm(std::string_view key) { return attribute("title", key); }

std::optional<std::string> Glossary::textForTerm(std::string_view key) { return attribute("text", key); }

std::vector<std::string> Glossary::subsetOfTerms(const std::vector<std::string>& keys,
                                                 std::string_view search) {
  std::string folded = foldForSearch(search);
  std::vector<std::string> kept;
  for (const auto& key : keys) {
    auto title = titleForTerm(key);
    if (title && foldForSearch(*title).find(folded) != std::string::npos) kept.push_back(key);
  }
  return kept;
}

const std::vector<std::string>& Glossary::variableDetailTerms() {
  static const std::vector<std::string> keys = {
      "observations", "levels", "mean", "meanCI",   "median", "rms",      "mode",     "sum",
      "minimum",      "pc25",   "pc75", "maximum",  "range",  "midrange", "variance", "varianceCI",
      "sd",           "sdCI",   "mad",  "coeffvar", "skew",   "kurtosis", "qqplot"};
  return keys;
}

const std::vector<GlossaryImage>& glossaryImages() {
  // Served from web/public; the glossary test checks that each file exists.
  static const std::vector<GlossaryImage> images = {
      {"icon", "/icons/icon.svg"},
      {"qqplot", "/glossary/qqplot.svg"},
      {"skew", "/glossary/skew.svg"},
  };
  return images;
}

namespace {

// Replaces each image reference by a CommonMark image of the application's
// own picture, or by its alt text when the name is not one of them, so that
// no text can make the page load an outside address.
std::string mapImageReferences(std::string_view text) {
  static const std::regex pattern(R"(!\[([^\[\]]*?)\]\((.*?)\))");
  std::string in(text), out;
  auto begin = std::sregex_iterator(in.begin(), in.end(), pattern);
  size_t last = 0;
  for (auto it = begin; it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    out.append(in, last, static_cast<size_t>(m.position(0)) - last);
    std::string alt = m[1].str();
    std::string name = m[2].str();
    name.erase(0, name.find_first_not_of(" \t"));
    name.erase(name.find_last_not_of(" \t") + 1);
    const auto& images = glossaryImages();
    auto img =
        std::find_if(images.begin(), images.end(), [&](const GlossaryImage& i) { return i.name == name; });
    if (img != images.end())
      out += "![" + alt + "](" + img->url + ")";
    else
      out += alt;
    last = static_cast<size_t>(m.position(0) + m.length(0));
  }
  out.append(in, last, std::string::npos);
  return out;
}

}  // namespace

std::string renderGlossaryText(std::string_view text) {
  std::string md = mapImageReferences(text);
  std::unique_ptr<char, decltype(&std::free)> html(
      cmark_markdown_to_html(md.data(), md.size(), CMARK_OPT_SAFE), &std::free);
  return html ? std::string(html.get()) : std::string();
}

}  // namespace tabulix
