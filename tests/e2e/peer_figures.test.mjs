// The figures the peers show, on screen at phone and tablet sizes on the
// example: the tests on ranks (one sample, two samples by a grouping
// variable, related samples), a t-test by a grouping variable, the one-way
// ANOVA's tables with Tukey's comparisons, the two-way table's exact test,
// the rank correlations, the model F test and the odds ratios. Shared CSV
// files equal what the command line computes for the same settings.
import assert from "node:assert/strict";
import { before, describe, it } from "node:test";
import { addExample, assertNoHorizontalScroll, openWorkspace, shot, useSession, viewports } from "./harness.mjs";
import { chooser, choose, close, message, newAnalysis, openSettings, segment, settingsLine, sharedCsv, shown, useReference, view } from "./analysis_steps.mjs";

// Chooses the grouping variable whose two levels make the two samples.
async function groupBy(page, name) {
  await openSettings(page);
  await page.locator("[data-testid=group-by]").click();
  await chooser(page).getByRole("button", { name, exact: true }).click();
  await chooser(page).waitFor({ state: "detached" });
  await page.locator("[data-testid=group-by]").filter({ hasText: name }).or(settingsLine(page).filter({ hasText: name })).waitFor();
}

for (const viewport of viewports) {
  describe(`Peer figures at ${viewport.name} size`, () => {
    let server, page;
    useSession(viewport, (s) => ({ server, page } = s));
    const cli = useReference();

    before(async () => {
      addExample(server);
      await openWorkspace(page, server.url);
      await page.locator("nav.tabbar").getByRole("button", { name: "Analysis" }).click();
    });

    it("tests on ranks: one sample, two samples by a grouping variable, related samples", async () => {
      await newAnalysis(page, "Tests on Ranks");
      await message(page, "Choose a variable to sample.");
      await choose(page, 1, "Ozone");
      await message(page, "Enter an expected value.");
      await page.locator("[data-testid=expected-value]").fill("40");
      await shown(page, "One sample two tail Wilcoxon signed-rank test");
      await shown(page, "Hodges–Lehmann estimate = ", ".result-text");
      assert.equal(await sharedCsv(page, "Wilcoxon signed-rank test of Ozone"), cli("ranks", "--left", "Ozone", "--set", "expected=40"));
      // Two samples: Ozone on weekdays against weekends.
      await segment(page, "Samples", "Two samples").click();
      await groupBy(page, "DayType");
      await shown(page, "Null hypothesis, H₀: (Ozone | DayType = Weekday) = (Ozone | DayType = Weekend)");
      await shown(page, "Rank-biserial correlation = ", ".result-text");
      await shot(page, viewport, "peer-01-ranks-grouped");
      await assertNoHorizontalScroll(page);
      assert.equal(await sharedCsv(page, "Wilcoxon rank-sum test of Ozone by DayType"), cli("ranks", "--left", "Ozone", "--by", "DayType"));
      // Related samples take a list of variables: Friedman's test.
      await openSettings(page);
      await segment(page, "Samples", "Related samples").click();
      await page.locator(".choose-variable[data-position='3']").click();
      for (const name of ["Ozone", "Wind", "Temperature"]) await chooser(page).getByRole("button", { name, exact: true }).click();
      await page.getByRole("button", { name: "Done", exact: true }).click();
      await shown(page, "Friedman χ² = ", ".result-text");
      await close(page);
      await page.locator("[data-testid=analysis-entry]").filter({ hasText: "Friedman rank sum test" }).waitFor();
    });

    it("a t-test of one variable by the two levels of another", async () => {
      await newAnalysis(page, "Hypothesis test of means");
      await segment(page, "Samples", "Two samples").click();
      await choose(page, 1, "Temperature");
      await groupBy(page, "DayType");
      await shown(page, "Null hypothesis, H₀: μ(Temperature | DayType = Weekday) = μ(Temperature | DayType = Weekend)");
      await shown(page, "Cohen's d = ", ".result-text");
      // Both box plots and the density curves.
      assert.ok((await view(page).locator(".chart-svg svg").count()) >= 3);
      await shot(page, viewport, "peer-02-means-grouped");
      await assertNoHorizontalScroll(page);
      assert.equal(await sharedCsv(page, "Hypothesis Test of Means"), cli("means", "--left", "Temperature", "--by", "DayType"));
      await close(page);
    });

    it("one-way ANOVA tables, Tukey's comparisons and the rank test beside them", async () => {
      await newAnalysis(page, "One-way ANOVA");
      await choose(page, 1, "Ozone");
      await choose(page, 2, "Month");
      await shown(page, "Welch's ANOVA: F(", ".result-text");
      await shown(page, "Levene's test (Brown–Forsythe): ", ".result-text");
      await shown(page, "Kruskal–Wallis: H = ", ".result-text");
      await openSettings(page);
      await segment(page, "Pairwise comparisons:", "Tukey").click();
      await shown(page, "Tukey's honestly significant differences");
      await shown(page, "Dunn's comparisons of mean ranks");
      await shot(page, viewport, "peer-03-anova");
      await assertNoHorizontalScroll(page);
      await close(page);
    });

    it("the exact test of a two-way table, rank correlations, the model F test and odds ratios", async () => {
      await newAnalysis(page, "Two way table of frequencies");
      await choose(page, 1, "Month");
      await choose(page, 2, "DayType");
      await shown(page, "Fisher's exact test: p = ", ".result-text");
      await shown(page, "Smallest expected count = ", ".result-text");
      await close(page);
      await newAnalysis(page, "Bivariate Analysis");
      await choose(page, 1, "Wind");
      await choose(page, 2, "Ozone");
      await shown(page, "Spearman's ρ = ", ".result-text");
      await shown(page, "Kendall's τ-b = ", ".result-text");
      await close(page);
      await newAnalysis(page, "Linear Regression");
      await choose(page, 1, "Ozone");
      await page.locator(".choose-variable[data-position='3']").click();
      await chooser(page).getByRole("button", { name: "Wind", exact: true }).click();
      await page.getByRole("button", { name: "Done", exact: true }).click();
      await shown(page, "Model F(1, ", ".result-text");
      await close(page);
      await newAnalysis(page, "Logistic Regression");
      await choose(page, 1, "DayType");
      await page.locator(".choose-variable[data-position='3']").click();
      await chooser(page).getByRole("button", { name: "Ozone", exact: true }).click();
      await page.getByRole("button", { name: "Done", exact: true }).click();
      await shown(page, "Nagelkerke R² = ", ".result-text");
      await shown(page, "Odds ratio");
      await shot(page, viewport, "peer-04-logistic");
      await assertNoHorizontalScroll(page);
      await close(page);
    });
  });
}
