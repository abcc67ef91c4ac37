// The variable detail and the data set export at phone and tablet sizes:
// open a numeric and a categorical variable's detail from the example, set
// a filter there, share (the download path) and print; export the filtered
// data set from Browse.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { after, before, describe, it } from "node:test";
import { addExample, assertNoHorizontalScroll, openWorkspace, shot, useSession, viewports } from "./harness.mjs";

const tabs = (page) => page.locator("nav.tabbar");


for (const viewport of viewports) {
  describe(`Variable detail at ${viewport.name} size`, () => {
    let server, page;
    useSession(viewport, (s) => ({ server, page } = s));
    before(async () => {
      addExample(server);
    });

    it("shows a numeric variable's detail, filters it, shares and prints it", async () => {
      await openWorkspace(page, server.url);
      await tabs(page).getByRole("button", { name: "Variables" }).click();
      await page.getByRole("button", { name: "Open detail of Ozone" }).click();
      const detail = page.locator("[data-testid=detail]");
      await detail.locator(".figure[data-term=observations]").filter({ hasText: "Observations: 116" }).waitFor();
      assert.equal(await detail.locator(".result-chart").count(), 2);
      assert.equal(await detail.locator(".result-chart").first().getAttribute("data-title"), "Histogram and Box Plot of Ozone");
      assert.ok((await detail.locator(".chart-svg svg").count()) === 2, "both charts are drawn as SVG");
      assert.match(await detail.locator(".figure[data-term=mean]").first().textContent(), /^Mean: 42\.12931$/);
      await shot(page, viewport, "detail-01-ozone");
      await assertNoHorizontalScroll(page);
      // A filter of the detail's own.
      await page.locator("[data-testid=detail-filter]").click();
      await page.locator("[data-testid=add-filter]").click();
      await page.getByRole("dialog").getByRole("button", { name: "Month", exact: true }).click();
      const editor = page.getByRole("dialog").filter({ has: page.locator("#filter-title") });
      await editor.locator("[data-testid=filter-constant]").fill("May");
      await editor.locator("[data-testid=filter-summary]").filter({ hasText: "Browse filter: Month = May" }).waitFor();
      await editor.locator("[data-testid=filter-apply]").click();
      await page.getByRole("button", { name: "Done", exact: true }).click();
      await detail.locator(".result-text.filter").filter({ hasText: "Filters: Month = May" }).waitFor();
      await detail.locator(".figure[data-term=observations]").filter({ hasText: "Observations: 26" }).waitFor();
      // Share: without a share sheet both files are downloaded.
      const downloads = [];
      page.on("download", (d) => downloads.push(d));
      await page.locator("[data-testid=detail-share]").click();
      for (let i = 0; i < 100 && downloads.length < 2; i++) await page.waitForTimeout(100);
      assert.deepEqual(downloads.map((d) => d.suggestedFilename()).sort(), ["Summary of Ozone.csv", "Summary of Ozone.pdf"]);
      const csv = readFileSync(await downloads.find((d) => d.suggestedFilename().endsWith(".csv")).path(), "utf8");
      assert.match(csv, /^Variable,Ozone\n\nType,Numeric\n/);
      const pdf = readFileSync(await downloads.find((d) => d.suggestedFilename().endsWith(".pdf")).path());
      assert.equal(pdf.subarray(0, 5).toString(), "%PDF-");
      // Print: the report goes to the browser's print dialog from a frame.
      const files = page.waitForResponse((r) => /\/api\/analyze\/\w+\/files/.test(r.url()));
      await page.locator("[data-testid=detail-print]").click();
      assert.equal((await files).status(), 200);
      await page.locator("iframe.print-frame").waitFor({ state: "attached" });
      await shot(page, viewport, "detail-02-filtered");
      await page.getByRole("button", { name: "Close", exact: true }).first().click();
    });

    it("shows a categorical variable's detail with its bar and pie charts", async () => {
      await page.getByRole("button", { name: "Open detail of Month" }).click();
      const detail = page.locator("[data-testid=detail]");
      await detail.locator(".result-chart[data-title='Bar Plot of Month']").waitFor();
      assert.equal(await detail.locator(".result-chart[data-title='Pie Chart of Month']").count(), 1);
      const rows = detail.locator("table.result-table tbody tr");
      assert.equal(await rows.count(), 5);
      await shot(page, viewport, "detail-03-month");
      await page.getByRole("button", { name: "Close", exact: true }).first().click();
    });

    it("exports the filtered data set from Browse", async () => {
      await tabs(page).getByRole("button", { name: "Browse" }).click();
      await page.getByRole("button", { name: "Filter Ozone", exact: true }).click();
      const sheet = page.getByRole("dialog");
      await sheet.getByRole("radio", { name: ">", exact: true }).click();
      await sheet.locator("[data-testid=filter-constant]").fill("100");
      await sheet.locator("[data-testid=filter-summary]").filter({ hasText: "Browse filter: Ozone > 100" }).waitFor();
      await sheet.locator("[data-testid=filter-apply]").click();
      await page.locator("[data-testid=rows-shown]").filter({ hasText: "7 of 153" }).waitFor();
      await page.locator("[data-testid=export-data]").click();
      const menu = page.locator("[data-testid=export-menu]");
      assert.deepEqual(await menu.getByRole("menuitem").allTextContents(), [
        "Share full data",
        "Share filtered data",
        "Download full data",
        "Download filtered data",
        "Cancel",
      ]);
      const download = page.waitForEvent("download");
      await menu.getByRole("menuitem", { name: "Download filtered data" }).click();
      const d = await download;
      assert.equal(d.suggestedFilename(), "example.csv");
      const lines = readFileSync(await d.path(), "utf8").trimEnd().split("\n");
      assert.equal(lines.length, 8);
      assert.equal(lines[0], "Date,Month,DayType,Ozone,SolarRadiation,Wind,Temperature");
    });
  });
}
