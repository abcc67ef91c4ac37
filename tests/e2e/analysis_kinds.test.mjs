// The correlation, regression and hypothesis test screens at phone and
// tablet sizes on the example: a bivariate analysis with a filter, a linear
// regression with every variable added, a logistic regression with the
// level coded 1 chosen, a one-sample t-test with its expected value and
// tails, a two-sample test of proportions with a second-sample filter, and
// a paired test chosen from the test list, then the same samples tested as
// means. The shared CSV files must equal
// what the command line computes for the same settings, so every setting
// the screen stores reaches the computation.
import assert from "node:assert/strict";
import { before, describe, it } from "node:test";
import { addExample, assertNoHorizontalScroll, openWorkspace, shot, useSession, viewports } from "./harness.mjs";
import { chooser, choose, close, message, newAnalysis, openSettings, segment, settingsLine, sharedCsv, shown, useReference, view } from "./analysis_steps.mjs";

async function openExample(page, url) {
  await openWorkspace(page, url);
  await page.locator("nav.tabbar").getByRole("button", { name: "Analysis" }).click();
}

// Adds one "NAME = VALUE" condition through the filter list the button opens.
async function addFilter(page, button, variable, value) {
  await button.click();
  await page.locator("[data-testid=add-filter]").click();
  await page.getByRole("dialog").getByRole("button", { name: variable, exact: true }).click();
  const editor = page.getByRole("dialog").filter({ has: page.locator("#filter-title") });
  await editor.locator("[data-testid=filter-constant]").fill(value);
  await editor.locator("[data-testid=filter-summary]").filter({ hasText: `${variable} = ${value}` }).waitFor();
  await editor.locator("[data-testid=filter-apply]").click();
  await page.getByRole("button", { name: "Done", exact: true }).click();
}

async function printed(page) {
  const files = page.waitForResponse((r) => /\/api\/analyze\/\w+\/files/.test(r.url()));
  await page.locator("[data-testid=analysis-print]:not([disabled])").click();
  assert.equal((await files).status(), 200);
}

// The charts fit the width: shown scrolled into view, none wider than the page.
async function chartsShot(page, viewport, name) {
  const charts = view(page).locator(".result-chart");
  await charts.first().scrollIntoViewIfNeeded();
  await shot(page, viewport, name);
  for (const box of await charts.evaluateAll((all) => all.map((c) => c.getBoundingClientRect().right)))
    assert.ok(box <= viewport.width, `a chart ends at ${box}px`);
}


async function pick(page, testid, name) {
  await page.locator(`[data-testid=${testid}]`).click();
  await page.locator(`[data-testid=${testid}-list]`).getByRole("button", { name }).click();
  await page.locator(`[data-testid=${testid}-list]`).waitFor({ state: "detached" });
}

for (const viewport of viewports) {
  describe(`Correlation, regression and test screens at ${viewport.name} size`, () => {
    let server, page;
    useSession(viewport, (s) => ({ server, page } = s));
    // The command line's CSV export of the same analysis, on a copy of the example.
    const cli = useReference();

    before(async () => {
      addExample(server);
      await openExample(page, server.url);
    });

    it("computes a bivariate analysis with a filter, links its terms, shares and prints", async () => {
      await newAnalysis(page, "Bivariate Analysis");
      await message(page, "Please choose two variables to analyze.");
      await choose(page, 1, "Wind");
      await choose(page, 2, "Ozone");
      await shown(page, "Correlation: ", ".result-text.figure");
      await addFilter(page, page.locator("[data-testid=analysis-filter]"), "DayType", "Weekday");
      await shown(page, "Filters: DayType = Weekday", ".result-text.filter");
      assert.equal(await view(page).locator(".chart-svg svg").count(), 3);
      // The coefficient table: Wind and the constant.
      assert.equal(await view(page).locator("table.result-table[data-role=coefficients] tbody tr").count(), 2);
      await shot(page, viewport, "kinds-01-correlation");
      await assertNoHorizontalScroll(page);
      await chartsShot(page, viewport, "kinds-01-correlation-charts");
      // A figure's label opens its glossary term.
      await view(page).locator("[data-term=rmse] .term-link").click();
      const glossary = page.locator(".sheet.glossary");
      await glossary.locator("[data-testid=term-text]").waitFor();
      assert.match(await glossary.locator("#glossary-title").textContent(), /RMSE|Root/i);
      await glossary.getByRole("button", { name: "Done", exact: true }).click();
      await glossary.waitFor({ state: "detached" });
      const csv = await sharedCsv(page, "Analysis of variables Ozone and Wind");
      assert.equal(csv, cli("correlation", "--left", "Wind", "--right", "Ozone", "--where", "DayType = Weekday"));
      await printed(page);
      await close(page);
      await page.locator("[data-testid=analysis-entry]").filter({ hasText: "Bivariate analysis of Ozone and Wind" }).waitFor();
    });

    it("fits a linear regression on every variable added at once, then removes one", async () => {
      await newAnalysis(page, "Linear Regression");
      await message(page, "Choose a dependent variable.");
      await choose(page, 1, "Ozone");
      await page.locator(".choose-variable[data-position='3']").click();
      // The chooser fills in with its offers: never the dependent.
      await chooser(page).getByRole("button", { name: "Wind", exact: true }).waitFor();
      const names = await chooser(page).getByRole("button").allTextContents();
      assert.ok(!names.includes("Ozone") && names.includes("Temperature"), `offered ${names}`);
      await page.getByRole("button", { name: "Add All" }).click();
      // Their variables chosen, the settings fold to a line.
      await settingsLine(page).filter({ hasText: "Ozone, " }).waitFor();
      await openSettings(page);
      await page.locator("[data-testid=regressors] li").filter({ hasText: "Temperature" }).waitFor();
      // One coefficient row per variable and the constant, once the new result is in.
      await view(page).locator("table.result-table[data-role=coefficients] tbody tr").nth(names.length).waitFor();
      assert.equal(await view(page).locator("table.result-table[data-role=coefficients] tbody tr").count(), names.length + 1);
      await shown(page, "Linear Regression Model", ".result-heading");
      assert.equal(await page.locator("[data-testid=regressors] li").count(), names.length);
      await shot(page, viewport, "kinds-02-linear");
      await assertNoHorizontalScroll(page);
      // Removing a variable fits the model without it.
      await page.getByRole("button", { name: "Remove Wind", exact: true }).click();
      await page.locator("[data-testid=regressors] li").filter({ hasText: "Wind" }).waitFor({ state: "detached" });
      const rows = view(page).locator("table.result-table[data-role=coefficients] tbody tr");
      for (let i = 0; i < 300 && (await rows.count()) !== names.length; i++) await page.waitForTimeout(100);
      assert.equal(await rows.count(), names.length);
      assert.ok(!(await view(page).locator("table.result-table[data-role=coefficients]").textContent()).includes("Wind"));
      await printed(page);
      await close(page);
      await page.locator("[data-testid=analysis-entry]").filter({ hasText: "Linear regression explaining variation in Ozone" }).waitFor();
    });

    it("fits a logistic regression with the level coded 1 chosen", async () => {
      await newAnalysis(page, "Logistic Regression");
      await choose(page, 1, "DayType");
      await page.locator(".choose-variable[data-position='3']").click();
      await chooser(page).getByRole("button", { name: "Ozone", exact: true }).click();
      await chooser(page).getByRole("button", { name: "Temperature", exact: true }).click();
      await page.getByRole("button", { name: "Done", exact: true }).click();
      // The dependent alone already has a model: the one with both variables
      // is in once the settings have folded to name them.
      await settingsLine(page).filter({ hasText: "DayType, Ozone, Temperature" }).waitFor();
      await shown(page, "Logistic Regression Model", ".result-heading");
      await openSettings(page);
      // The last level in text order is coded 1 until another is chosen.
      assert.equal(await page.locator("[data-testid=level-left]").textContent(), "Weekend");
      await pick(page, "level-left", "Weekday");
      await page.locator("[data-testid=level-left]").filter({ hasText: "Weekday" }).waitFor();
      await shown(page, "AUC: ", ".result-text.figure");
      await shot(page, viewport, "kinds-03-logistic");
      await assertNoHorizontalScroll(page);
      const csv = await sharedCsv(page, "Logistic regression model for variable DayType");
      assert.equal(csv, cli("logistic", "--left", "DayType", "--columns", "Ozone,Temperature", "--set", "leftLevel1=Weekday"));
      await close(page);
    });

    it("tests one mean against an expected value, switches tails, reopens the same and pairs it", async () => {
      await newAnalysis(page, "Hypothesis test of means");
      await message(page, "Choose a variable to sample.");
      await choose(page, 1, "Ozone");
      await message(page, "Enter an expected value.");
      const expected = page.locator("[data-testid=expected-value]");
      await expected.fill("abc");
      await message(page, "Sample is a numeric variable. Expected value must be numeric.");
      await expected.fill("40");
      await shown(page, "One sample two tail t-test", ".result-text.subtitle");
      await segment(page, "Alternative hypothesis is", "One tail greater").click();
      await shown(page, "One sample one tail t-test", ".result-text.subtitle");
      await shown(page, "Alternative hypothesis, H₁: Ozone > 40");
      await shot(page, viewport, "kinds-04-means");
      await assertNoHorizontalScroll(page);
      await chartsShot(page, viewport, "kinds-04-means-charts");
      const csv = await sharedCsv(page, "Hypothesis Test of Means");
      assert.equal(csv, cli("means", "--left", "Ozone", "--set", "expected=40", "--set", "tails=2"));
      await close(page);
      // Reopened, it shows the stored value, tails and the same result.
      await page.locator("[data-testid=analysis-entry]").filter({ hasText: "One sample one tail t-test" }).click();
      await shown(page, "One sample one tail t-test", ".result-text.subtitle");
      await openSettings(page);
      assert.equal(await expected.inputValue(), "40");
      assert.equal(await segment(page, "Alternative hypothesis is", "One tail greater").getAttribute("aria-pressed"), "true");
      assert.equal(await sharedCsv(page, "Hypothesis Test of Means"), csv);
      // Paired with Wind: the test of the pairwise differences.
      await segment(page, "Samples", "Paired samples").click();
      await message(page, "Please define a second sample to perform a two sample test.");
      await choose(page, 2, "Wind");
      await shown(page, "Paired one tail t-test", ".result-text.subtitle");
      await shown(page, "Alternative hypothesis, H₁: Ozone - Wind > 0");
      await shot(page, viewport, "kinds-04-paired-means");
      await assertNoHorizontalScroll(page);
      assert.equal(
        await sharedCsv(page, "Hypothesis Test of Means"),
        cli("means", "--left", "Ozone", "--right", "Wind", "--set", "samples=2", "--set", "isPaired=1", "--set", "tails=2"),
      );
      await close(page);
    });

    it("tests two proportions with a second-sample filter, then paired ones from the test list", async () => {
      await newAnalysis(page, "Hypothesis test of proportions");
      await segment(page, "Samples", "Two samples").click();
      await page.locator("[data-testid=second-filter]").waitFor();
      await choose(page, 1, "DayType");
      await message(page, "Please define a second sample to perform a two sample test.");
      await choose(page, 2, "DayType");
      await addFilter(page, page.locator("[data-testid=analysis-filter]"), "Month", "May");
      await openSettings(page);
      await addFilter(page, page.locator("[data-testid=second-filter]"), "Month", "June");
      await page.locator("[data-testid=second-filter]").filter({ hasText: "Month = June" }).waitFor();
      await shown(page, "Sample 2: Pr(DayType = Weekend), Filters: Month = June");
      await shown(page, "Two sample two tail Chi-square test", ".result-text.subtitle");
      await shot(page, viewport, "kinds-05-proportions");
      await assertNoHorizontalScroll(page);
      const csv = await sharedCsv(page, "Hypothesis Test of Proportions");
      assert.equal(
        csv,
        cli("proportions", "--left", "DayType", "--right", "DayType", "--set", "samples=2", "--where", "Month = May", "--where2", "Month = June"),
      );
      // McNemar's test is for paired samples: choosing it switches them.
      await pick(page, "test-choice", "McNemar's test");
      await shown(page, "Paired two tail McNemar's Chi-squared test", ".result-text.subtitle");
      assert.equal(await segment(page, "Samples", "Paired samples").getAttribute("aria-pressed"), "true");
      await segment(page, "Alternative hypothesis is", "One tail less").click();
      await shown(page, "Paired one tail McNemar's Chi-squared test", ".result-text.subtitle");
      await shot(page, viewport, "kinds-06-paired");
      await assertNoHorizontalScroll(page);
      // Back to two independent samples, McNemar's no longer fits and is cleared.
      await segment(page, "Samples", "Two samples").click();
      await shown(page, "Two sample one tail Chi-square test", ".result-text.subtitle");
      assert.equal(await page.locator("[data-testid=test-choice]").textContent(), "Determined by data");
      // The same samples as a test of means: no test list, and a text
      // variable has no numbers to test, which the screen says in words
      // instead of showing an empty t-test.
      await segment(page, "Test of", "Means").click();
      await message(page, "No observations are left after the filter.");
      assert.equal(await page.locator("[data-testid=test-choice]").count(), 0);
      await close(page);
      await page.locator("[data-testid=analysis-entry]").filter({ hasText: "Welch's two sample one tail t-test" }).waitFor();
    });
  });
}
