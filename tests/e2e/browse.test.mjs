// Browse at phone and tablet sizes: filter the example by a condition, edit
// a cell and see its variable's card change, add a row and a variable, and
// scroll to the last row of a 100,000-row workspace.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { writeFileSync } from "node:fs";
import { join } from "node:path";
import { after, before, describe, it } from "node:test";
import { addExample, assertNoHorizontalScroll, binary, openWorkspace, shot, until, useSession, viewports } from "./harness.mjs";

const tabs = (page) => page.locator("nav.tabbar");




for (const viewport of viewports) {
  describe(`Browse at ${viewport.name} size`, () => {
    let server, page;
    useSession(viewport, (s) => ({ server, page } = s));
    before(async () => {
      // The example and a 100,000-row workspace, made with the command line.
      addExample(server);
      const lines = ["n,g"];
      for (let i = 1; i <= 100000; i++) lines.push(`${i},${i % 2 ? "odd" : "even"}`);
      writeFileSync(join(server.base, "big.csv"), lines.join("\n") + "\n");
      const r = spawnSync(binary, ["--locale", "en_US", "import", join(server.base, "big.csv"), "-o", join(server.documents, "big.tbx")]);
      assert.equal(r.status, 0, String(r.stderr));
    });

    it("filters the example by a condition", async () => {
      await openWorkspace(page, server.url, "example.tbx");
      await page.getByRole("button", { name: "Filter Ozone", exact: true }).click();
      const sheet = page.getByRole("dialog");
      await sheet.getByRole("radio", { name: ">", exact: true }).click();
      await sheet.locator("[data-testid=filter-constant]").fill("100");
      await until(async () => (await sheet.locator("[data-testid=filter-summary]").textContent()) === "Browse filter: Ozone > 100", "the summary");
      await shot(page, viewport, "browse-01-filter-editor");
      await sheet.locator("[data-testid=filter-apply]").click();
      const filterLine = page.locator("[data-testid=filter-line]");
      await filterLine.filter({ hasText: "Filters: Ozone > 100" }).waitFor();
      // airquality has seven days with ozone above 100.
      await page.locator("[data-testid=rows-shown]").filter({ hasText: "7 of 153 observations" }).waitFor();
      assert.equal(await page.locator("[data-testid=grid] tbody tr[data-row]").count(), 7);
      assert.ok(await page.locator("th.col-header.filtered").filter({ hasText: "Ozone" }).count());
      await shot(page, viewport, "browse-02-filtered");
      await assertNoHorizontalScroll(page);
      // Clearing the only condition brings every row back.
      await page.getByRole("button", { name: "Filter Ozone", exact: true }).click();
      await page.getByRole("dialog").locator("[data-testid=filter-clear]").click();
      await filterLine.filter({ hasText: "No filter. Tap filter icons in column headers" }).waitFor();
    });

    it("edits a cell, adds a row and a variable, and the card follows", async () => {
      await page.locator("[data-testid=edit-toggle]").click();
      await page.getByRole("heading", { name: "Edit", exact: true }).waitFor();
      assert.ok(await tabs(page).getByRole("button", { name: "Variables" }).isDisabled(), "other tabs are disabled");
      const cell = page.getByRole("textbox", { name: "Ozone, row 1", exact: true });
      await cell.fill("4100");
      await cell.press("Enter");
      await page.locator("[data-testid=add-variable]").click();
      await page.locator("th.col-header input.name-input").nth(7).waitFor();
      await page.locator("[data-testid=grid]").evaluate((el) => el.scrollTo(0, el.scrollHeight));
      await page.locator("[data-testid=add-row]").click();
      await page.locator("tr[data-row='154']").waitFor();
      await shot(page, viewport, "browse-03-editing");
      await page.locator("[data-testid=edit-toggle]").click();
      await page.getByRole("heading", { name: "Browse", exact: true }).waitFor();
      await until(async () => /8 Variables, 154 Observations|Variables: 8, Observations: 154/.test(await page.locator("[data-testid=status-line]").textContent()), "the status line");
      await tabs(page).getByRole("button", { name: "Variables" }).click();
      const ozone = page.locator("[data-testid=variable-card]").filter({ has: page.getByText("Ozone", { exact: true }) });
      await ozone.getByText(/Max: 4,?100/).waitFor();
      await shot(page, viewport, "browse-04-card-after-edit");
    });

    it("scrolls to the last row of a 100,000-row workspace", async () => {
      await openWorkspace(page, server.url, "big.tbx");
      const grid = page.locator("[data-testid=grid]");
      await grid.evaluate((el) => el.scrollTo(0, el.scrollHeight));
      await page.locator("tr[data-row='100000']").waitFor({ timeout: 15000 });
      assert.equal(await page.locator("tr[data-row='100000'] td").first().textContent(), "100000");
      await shot(page, viewport, "browse-05-last-row");
      // Filtered, the window still reaches the end.
      await page.getByRole("button", { name: "Filter g", exact: true }).click();
      const sheet = page.getByRole("dialog");
      await sheet.locator("[data-testid=filter-constant]").fill("even");
      await until(async () => (await sheet.locator("[data-testid=filter-summary]").textContent()) === "Browse filter: g = even", "the summary");
      await sheet.locator("[data-testid=filter-apply]").click();
      await page.locator("[data-testid=rows-shown]").filter({ hasText: "50000 of 100000 observations" }).waitFor();
      await grid.evaluate((el) => el.scrollTo(0, el.scrollHeight));
      await page.locator("tr[data-row='100000']").waitFor({ timeout: 15000 });
      await shot(page, viewport, "browse-06-filtered-last-row");
    });
  });
}
