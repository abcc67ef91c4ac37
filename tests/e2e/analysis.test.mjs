// The Analysis tab at phone and tablet sizes on the example: create a
// one-way ANOVA and a two-way table from the menu, choose their variables,
// add a filter, switch the box and density views and the percentage base,
// share and print, find both in the list, search, delete.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { after, before, describe, it } from "node:test";
import { addExample, answerAlert, assertNoHorizontalScroll, openWorkspace, shot, useSession, viewports } from "./harness.mjs";
import { choose, openSettings } from "./analysis_steps.mjs";

const tabs = (page) => page.locator("nav.tabbar");


async function newAnalysis(page, title) {
  await page.getByRole("button", { name: "New Analysis" }).click();
  await page.locator("[data-testid=analysis-menu] button.row").filter({ hasText: title }).click();
  await page.locator("[data-testid=analysis-view]").waitFor();
}


const entries = (page) => page.locator("[data-testid=analysis-entry]");

// Waits (polling from the test, as the page's policy forbids evaluated code) for a number of list entries.
async function entryCount(page, n) {
  for (let i = 0; i < 200; i++) {
    if ((await entries(page).count()) === n) return;
    await page.waitForTimeout(100);
  }
  assert.fail(`expected ${n} analyses in the list, found ${await entries(page).count()}`);
}

for (const viewport of viewports) {
  describe(`Analysis tab at ${viewport.name} size`, () => {
    let server, page;
    useSession(viewport, (s) => ({ server, page } = s));
    before(async () => {
      addExample(server, "example.tbx", { analyses: false });
    });

    it("creates a one-way ANOVA, filters it, switches views, shares and prints", async () => {
      await openWorkspace(page, server.url);
      await tabs(page).getByRole("button", { name: "Analysis" }).click();
      await newAnalysis(page, "One-way ANOVA");
      const view = page.locator("[data-testid=analysis-view]");
      await view.locator("[data-testid=analysis-error]").filter({ hasText: "Please choose two variables to analyze." }).waitFor();
      assert.equal(await page.locator(".choose-variable[data-position='1']").textContent(), "Choose Numeric Variable");
      // The grouping chooser offers Month and DayType but no Numeric variable with over 20 levels.
      await page.locator(".choose-variable[data-position='2']").click();
      // The chooser fills in once the variables have been fetched.
      await page.locator("[data-testid=variable-chooser]").getByRole("button", { name: "DayType", exact: true }).waitFor();
      const offered = await page.locator("[data-testid=variable-chooser] button").allTextContents();
      assert.deepEqual(offered, ["Month", "DayType"]);
      await page.getByRole("button", { name: "Cancel" }).click();
      await choose(page, 1, "Ozone");
      await choose(page, 2, "Month");
      await view.locator(".result-text.figure").filter({ hasText: "F = 8.536" }).waitFor();
      assert.equal(await view.locator("table.result-table").filter({ hasText: "Std Dev" }).locator("tbody tr").count(), 5);
      const boxSvg = await view.locator(".chart-svg").innerHTML();
      await shot(page, viewport, "analysis-01-anova");
      await assertNoHorizontalScroll(page);
      // A filter of the analysis's own, stored with it.
      await page.locator("[data-testid=analysis-filter]").click();
      await page.locator("[data-testid=add-filter]").click();
      await page.getByRole("dialog").getByRole("button", { name: "DayType", exact: true }).click();
      const editor = page.getByRole("dialog").filter({ has: page.locator("#filter-title") });
      await editor.locator("[data-testid=filter-constant]").fill("Weekday");
      await editor.locator("[data-testid=filter-summary]").filter({ hasText: "DayType = Weekday" }).waitFor();
      await editor.locator("[data-testid=filter-apply]").click();
      await page.getByRole("button", { name: "Done", exact: true }).click();
      await view.locator(".result-text.filter").filter({ hasText: "Filters: DayType = Weekday" }).waitFor();
      // The density view redraws the chart.
      await openSettings(page);
      await page.getByRole("button", { name: "Density Plot" }).click();
      await view.locator(".result-text.filter").waitFor();
      for (let i = 0; i < 200 && (await view.locator(".chart-svg").innerHTML().catch(() => boxSvg)) === boxSvg; i++)
        await page.waitForTimeout(100);
      assert.notEqual(await view.locator(".chart-svg").innerHTML(), boxSvg);
      await shot(page, viewport, "analysis-02-density");
      // Share: without a share sheet both files are downloaded.
      const downloads = [];
      page.on("download", (d) => downloads.push(d));
      await page.locator("[data-testid=analysis-share]").click();
      for (let i = 0; i < 100 && downloads.length < 2; i++) await page.waitForTimeout(100);
      assert.deepEqual(downloads.map((d) => d.suggestedFilename()).sort(), [
        "Summary statistics of Ozone by Month.csv",
        "Summary statistics of Ozone by Month.pdf",
      ]);
      const csv = readFileSync(await downloads.find((d) => d.suggestedFilename().endsWith(".csv")).path(), "utf8");
      assert.match(csv, /^Summary statistics of Ozone by Month\n\nFilters:,DayType = Weekday\n/);
      const files = page.waitForResponse((r) => /\/api\/analyze\/\w+\/files/.test(r.url()));
      await page.locator("[data-testid=analysis-print]").click();
      assert.equal((await files).status(), 200);
      await page.getByRole("button", { name: "Close", exact: true }).first().click();
      // The list is fetched again on closing.
      await entries(page).filter({ hasText: /One-way ANOVA of Ozone by Month\..*Filters: DayType = Weekday/ }).waitFor();
      assert.equal(await entries(page).first().getAttribute("data-style"), "TabSummarize");
    });

    it("creates a two-way table and switches the percentage base and missing values", async () => {
      await newAnalysis(page, "Two way table of frequencies");
      const view = page.locator("[data-testid=analysis-view]");
      await choose(page, 1, "Month");
      await choose(page, 2, "DayType");
      await view.locator(".result-text.figure").filter({ hasText: "Chi-squared = " }).waitFor();
      const cell = view.locator("table.result-table tbody tr").first().locator("td").first();
      assert.match(await cell.textContent(), /^\d+ \d+%$/);
      await openSettings(page);
      await page.getByRole("button", { name: "Row", exact: true }).click();
      await view.locator(".result-text.setting").filter({ hasText: "Calculate percentages by Row" }).waitFor();
      await page.getByRole("button", { name: "None", exact: true }).click();
      await view.locator(".result-text.setting").filter({ hasText: "Calculate percentages by None" }).waitFor();
      assert.match(await view.locator("table.result-table tbody tr").first().locator("td").first().textContent(), /^\d+$/);
      // The switch's track takes the tap; its label toggles the box.
      await page.locator(".setting-line").filter({ hasText: "Include missing values:" }).locator(".switch-track").click();
      await view.locator(".result-text.setting").filter({ hasText: "Include missing values: Yes" }).waitFor();
      await shot(page, viewport, "analysis-03-twoway");
      await assertNoHorizontalScroll(page);
      await page.getByRole("button", { name: "Close", exact: true }).first().click();
      await entries(page).filter({ hasText: "Two way table of frequencies for Month and DayType" }).waitFor();
      assert.equal(await entries(page).count(), 2);
      assert.equal(await entries(page).first().getAttribute("data-style"), "TwoWayTab");
    });

    it("searches the list and deletes an entry", async () => {
      await page.getByRole("searchbox").fill("DAYTYPE");
      await entryCount(page, 1);
      assert.match(await entries(page).first().textContent(), /Two way table of frequencies for Month and DayType/);
      await shot(page, viewport, "analysis-04-search");
      await entries(page).first().getByRole("button", { name: /^Delete/ }).click();
      await answerAlert(page, "Delete Analysis", "Delete");
      await page.locator("[data-testid=analysis-list] .empty-row").filter({ hasText: "No analyses match." }).waitFor();
      await page.getByRole("searchbox").fill("");
      await entryCount(page, 1);
      assert.equal(await entries(page).first().getAttribute("data-style"), "TabSummarize");
    });
  });
}
