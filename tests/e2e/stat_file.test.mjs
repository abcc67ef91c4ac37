// SPSS files in the web application: a .sav written by PSPP
// (tests/data/stat/make_stat_files.sps) is uploaded, imported without the
// text options, and its variables show their labels on the cards and in the
// detail; a damaged file ends with the reason and makes no workspace.
// Screenshots under artifacts/<viewport>/.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { after, before, describe, it } from "node:test";
import { answerAlert, assertNoHorizontalScroll, openWorkspacesTab, root, shot, useSession, viewports } from "./harness.mjs";

const sav = readFileSync(join(root, "tests/data/stat/pspp.sav"));
const tabs = (page) => page.locator("nav.tabbar");



for (const viewport of viewports) {
  describe(`SPSS files at ${viewport.name} size (${viewport.width}x${viewport.height})`, () => {
    let server, page;
    useSession(viewport, (s) => ({ server, page } = s));

    it("imports an uploaded .sav with its labels", async () => {
      await openWorkspacesTab(page, server.url);
      await page.locator("[data-testid=upload-input]").setInputFiles({
        name: "pspp.sav",
        mimeType: "application/octet-stream",
        buffer: sav,
      });
      const sheet = page.getByRole("dialog");
      await sheet.getByRole("heading", { name: "Create New Workspace" }).waitFor();
      await sheet.locator("[data-testid=stat-file-note]").waitFor();
      // Delimiter, header and decimal point are the text files' options.
      assert.equal(await sheet.getByRole("button", { name: /^Delimiter: / }).count(), 0);
      await shot(page, viewport, "stat-01-options");
      await sheet.getByRole("button", { name: "Create", exact: true }).click();
      await page.locator("[data-testid=grid]").waitFor({ timeout: 30000 });
      const status = await page.locator("[data-testid=status-line]").textContent();
      assert.match(status, /6 Variables, 4 Observations|Variables: 6, Observations: 4/);
      const cells = await page.locator("[data-testid=grid] tbody tr").first().locator("td").allTextContents();
      assert.ok(cells.includes("Control") && cells.includes("Köln") && cells.includes("2021-03-15"), cells.join("|"));
      await shot(page, viewport, "stat-02-browse");
      await tabs(page).getByRole("button", { name: "Variables" }).click();
      const grp = page.locator("[data-testid=variable-card]").filter({ hasText: "grp" });
      await grp.locator("[data-testid=variable-label]").filter({ hasText: "Group (ÄÖÜ)" }).waitFor();
      assert.match(await grp.locator(".type-line").textContent(), /Binary/);
      await shot(page, viewport, "stat-03-cards");
      await assertNoHorizontalScroll(page);
      await page.getByRole("button", { name: "Open detail of wt" }).click();
      await page.locator("[data-testid=detail-label]").filter({ hasText: "Weight in kg" }).waitFor();
      await shot(page, viewport, "stat-04-detail");
      await page.getByRole("button", { name: "Close", exact: true }).click();
    });

    it("ends a damaged file with the reason and makes no workspace", async () => {
      await openWorkspacesTab(page, server.url);
      await page.locator("[data-testid=upload-input]").setInputFiles({
        name: "cut.sav",
        mimeType: "application/octet-stream",
        buffer: sav.subarray(0, sav.length - 40),
      });
      const sheet = page.getByRole("dialog");
      await sheet.getByRole("heading", { name: "Create New Workspace" }).waitFor();
      await sheet.getByRole("button", { name: "Create", exact: true }).click();
      await page.getByRole("alertdialog").waitFor({ timeout: 30000 });
      await shot(page, viewport, "stat-05-damaged");
      const message = await answerAlert(page, "Error While Importing", "OK");
      assert.match(message, /cut\.sav could not be read as an SPSS data file/);
      await page.goto(`${server.url}#/workspaces`);
      await page.getByRole("heading", { name: "Workspaces", exact: true }).waitFor();
      assert.equal(await page.locator("[data-testid=workspace-list] button.row[data-name='cut.tbx']").count(), 0);
    });
  });
}
