// The web application in headless Chromium at phone and tablet sizes: import
// a CSV, open the example and browse it, search and delete a variable, the
// refusal to delete the open workspace, and a second page at work while an
// import runs. Screenshots are kept under artifacts/<viewport>/.
import assert from "node:assert/strict";
import { writeFileSync } from "node:fs";
import { join } from "node:path";
import { after, before, describe, it } from "node:test";
import { answerAlert, assertNoHorizontalScroll, shot, until, useSession, viewports } from "./harness.mjs";

const tabs = (page) => page.locator("nav.tabbar");
const alertBox = (page) => page.getByRole("alertdialog");


// The import help shows by itself on the first two visits of the Workspaces
// tab; close it when it does. `action` brings the tab up.
async function withImportHelpClosed(page, action) {
  const asked = page.waitForResponse((r) => r.url().includes("/api/help/import"));
  await action();
  const help = await (await asked).json();
  await page.getByRole("heading", { name: "Workspaces", exact: true }).waitFor();
  if (help.show) await answerAlert(page, "How to import data", "OK");
}

// Loads the page afresh on the Workspaces tab.
const openWorkspacesTab = (page, url) =>
  withImportHelpClosed(page, async () => {
    if (!page.url().startsWith(url)) return page.goto(`${url}#/workspaces`);
    await page.evaluate(() => history.replaceState(null, "", "#/workspaces"));
    await page.reload();
  });

const switchToWorkspaces = (page) =>
  withImportHelpClosed(page, () => tabs(page).getByRole("button", { name: "Workspaces" }).click());

function surveyCsv() {
  const lines = ["age,sex,weight,city"];
  const cities = ["Lyon", "Zürich", "Oslo"];
  for (let i = 0; i < 60; i++) lines.push(`${20 + (i % 45)},${i % 3 ? "F" : "M"},${(55 + ((i * 7) % 40)).toFixed(1)},${cities[i % 3]}`);
  return lines.join("\n") + "\n";
}

for (const viewport of viewports) {
  describe(`Tabulix at ${viewport.name} size (${viewport.width}x${viewport.height})`, () => {
    let server, browser, page;
    useSession(viewport, (s) => ({ server, browser, page } = s));

    it("imports a CSV file through the page and shows its variables", async () => {
      await openWorkspacesTab(page, server.url);
      await shot(page, viewport, "01-workspaces");
      await assertNoHorizontalScroll(page);
      await page.locator("[data-testid=upload-input]").setInputFiles({
        name: "survey.csv",
        mimeType: "text/csv",
        buffer: Buffer.from(surveyCsv()),
      });
      const sheet = page.getByRole("dialog");
      await sheet.getByRole("heading", { name: "Create New Workspace" }).waitFor();
      // The proposed name is filled in once the sheet has looked at the file.
      await until(async () => (await sheet.locator("input.text-input").inputValue()) === "survey", "the proposed name");
      await sheet.getByText("Delimiter: comma").waitFor();
      await shot(page, viewport, "02-new-workspace");
      await sheet.getByRole("button", { name: "Create", exact: true }).click();
      await page.locator("[data-testid=grid]").waitFor({ timeout: 30000 });
      const status = await page.locator("[data-testid=status-line]").textContent();
      if (viewport.name === "phone") assert.equal(status, "survey.tbx, 4 Variables, 60 Observations");
      else assert.equal(status, "Open Workspace: survey.tbx, Source File: survey.csv, Variables: 4, Observations: 60");
      await shot(page, viewport, "03-imported-browse");

      await tabs(page).getByRole("button", { name: "Variables" }).click();
      const cards = page.locator("[data-testid=variable-card]");
      await cards.first().waitFor();
      assert.deepEqual(await cards.locator(".card-name").allTextContents(), ["age", "sex", "weight", "city"]);
      assert.deepEqual(await cards.locator(".type-line").allTextContents(), [
        "Type: Numeric",
        "Type: Binary",
        "Type: Numeric",
        "Type: Categorical",
      ]);
      // The background refresh fills in the most frequent values.
      await cards.nth(1).locator(".freq-value").first().waitFor();
      assert.equal(await cards.nth(1).locator(".freq-value").first().textContent(), "F");
      await cards.nth(3).locator(".freq-value").nth(1).waitFor();
      await shot(page, viewport, "04-variables");
      await assertNoHorizontalScroll(page);
    });

    it("opens the example and browses it", async () => {
      await switchToWorkspaces(page);
      await page.getByRole("button", { name: /Create a new workspace based on example/ }).click();
      const sheet = page.getByRole("dialog");
      assert.equal(await sheet.locator("input.text-input").inputValue(), "example");
      await sheet.getByRole("button", { name: "Create", exact: true }).click();
      const grid = page.locator("[data-testid=grid]");
      await grid.waitFor();
      const headers = await grid.locator("thead th.col-header .col-name").allTextContents();
      assert.ok(headers.length >= 3, `columns: ${headers}`);
      assert.equal(await grid.locator("tbody tr").first().locator("th").textContent(), "1");
      const status = await page.locator("[data-testid=status-line]").textContent();
      assert.match(status, viewport.name === "phone" ? /^example\.tbx, \d+ Variables, \d+ Observations$/ : /^Open Workspace: example\.tbx, Source File: .+, Variables: \d+, Observations: \d+$/);
      assert.equal(await page.locator("[data-testid=filter-line]").textContent(), "No filter. Tap filter icons in column headers");
      await assertNoHorizontalScroll(page);
      // The grid scrolls inside its own area, its header row staying in view.
      await grid.evaluate((el) => el.scrollTo(400, 600));
      await page.waitForTimeout(100);
      const headerTop = await grid.locator("thead th").first().evaluate((el) => el.getBoundingClientRect().top);
      const gridTop = await grid.evaluate((el) => el.getBoundingClientRect().top);
      assert.ok(Math.abs(headerTop - gridTop) < 2, "the header row stays at the top of the grid");
      await shot(page, viewport, "05-example-browse-scrolled");
      await grid.evaluate((el) => el.scrollTo(0, 0));
      await shot(page, viewport, "06-example-browse");
    });

    it("shows the menu of new analyses", async () => {
      await tabs(page).getByRole("button", { name: "Analysis" }).click();
      await page.getByRole("button", { name: "New Analysis" }).click();
      const menu = page.locator("[data-testid=analysis-menu] .row-text");
      await menu.first().waitFor();
      const titles = await menu.evaluateAll((rows) => rows.map((r) => r.firstChild.textContent));
      assert.deepEqual(titles, [
        "Two way table of frequencies",
        "Bivariate Analysis",
        "Hypothesis test of means",
        "Hypothesis test of proportions",
        "Tests on Ranks",
        "Linear Regression",
        "Logistic Regression",
        "One-way ANOVA",
      ]);
      await shot(page, viewport, "06b-analysis-menu");
      await page.getByRole("dialog").getByRole("button", { name: "Close" }).click();
    });

    it("searches for a variable and deletes it", async () => {
      await tabs(page).getByRole("button", { name: "Variables" }).click();
      const cards = page.locator("[data-testid=variable-card]");
      await cards.first().waitFor();
      const names = await cards.locator(".card-name").allTextContents();
      const victim = names[1];
      // Case is ignored.
      await page.getByRole("searchbox").fill(victim.slice(0, 3).toUpperCase());
      const part = victim.slice(0, 3).toLowerCase();
      await until(
        async () => (await cards.locator(".card-name").allTextContents()).every((n) => n.toLowerCase().includes(part)),
        "the search to narrow the list",
      );
      const card = cards.filter({ has: page.locator(".card-name", { hasText: victim }) });
      await shot(page, viewport, "07-variables-search");
      await card.getByRole("button", { name: `Delete variable ${victim}` }).click();
      await card.getByRole("button", { name: "Delete", exact: true }).click();
      // The example's saved analyses use it: the alert names them first.
      const message = await answerAlert(page, "Delete Variable", "Delete");
      assert.match(message, new RegExp(`These saved analyses use ${victim} and will lose it:`));
      await card.waitFor({ state: "detached" });
      await page.getByRole("searchbox").fill("");
      await until(async () => (await cards.count()) === names.length - 1, "the list without the deleted variable");
      assert.deepEqual(await cards.locator(".card-name").allTextContents(), names.filter((n) => n !== victim));
      await shot(page, viewport, "08-variables-after-delete");
    });

    it("refuses to delete the open workspace", async () => {
      await openWorkspacesTab(page, server.url);
      await page.getByRole("button", { name: "Edit", exact: true }).click();
      await page.getByRole("button", { name: "Delete example.tbx" }).click();
      const a = alertBox(page);
      await a.waitFor();
      assert.equal(await a.locator(".alert-message").textContent(), "Cannot delete open workspace: example.tbx");
      assert.deepEqual(await a.getByRole("button").allTextContents(), ["Cancel"]);
      await shot(page, viewport, "09-refuse-delete");
      await answerAlert(page, "Confirm Delete", "Cancel");
      // Another file can be deleted after confirming.
      await page.getByRole("button", { name: "Delete survey.tbx" }).click();
      assert.equal(await alertBox(page).locator(".alert-message").textContent(), "Really delete file\nsurvey.tbx? \nCannot be undone.");
      await answerAlert(page, "Confirm Delete", "Delete");
      await page.getByRole("button", { name: "Delete survey.tbx" }).waitFor({ state: "detached" });
      assert.ok(await page.getByRole("button", { name: "Delete example.tbx" }).isVisible());
      await page.getByRole("button", { name: "Done", exact: true }).click();
    });

    it("serves a second page while an import runs", async () => {
      const header = Array.from({ length: 30 }, (_, i) => `v${i}`).join(",");
      const rows = [header];
      for (let r = 0; r < 100010; r++) rows.push(Array.from({ length: 30 }, (_, i) => (r * (i + 3)) % 997).join(","));
      writeFileSync(join(server.documents, "big.csv"), rows.join("\n") + "\n");

      await openWorkspacesTab(page, server.url);
      await page.locator("[data-testid=data-file-list] button.row[data-name='big.csv']").click();
      await page.getByRole("dialog").getByRole("button", { name: "Create", exact: true }).click();
      const progress = page.locator("[data-testid=import-status]");
      await progress.waitFor();

      const second = await browser.context.newPage();
      try {
        await openWorkspacesTab(second, server.url);
        await second.locator("[data-testid=workspace-list] button.row[data-name='example.tbx']").click();
        await second.locator("[data-testid=grid] tbody tr").first().waitFor();
        await tabs(second).getByRole("button", { name: "Variables" }).click();
        await second.locator("[data-testid=variable-card]").first().waitFor();
        await tabs(second).getByRole("button", { name: "About" }).click();
        await second.getByText("cpp-httplib").waitFor();
        assert.ok(await progress.isVisible(), "the import was still running while the second page worked");
        await shot(second, viewport, "11-second-page-about");
        // A page in the background draws no frames: bring the first one forward.
        await page.bringToFront();
        await shot(page, viewport, "10-import-progress");
      } finally {
        await second.close();
      }
      await answerAlert(page, "Row Limit Reached", "OK");
      await page.locator("[data-testid=grid]").waitFor();
      // The import may end before or after the second page opened the
      // example (the later open wins), so the new workspace is opened again
      // to see what the import stored.
      await openWorkspacesTab(page, server.url);
      await page.locator("[data-testid=workspace-list] button.row[data-name='big.tbx']").click();
      await page.locator("[data-testid=grid] tbody tr").first().waitFor();
      const statusLine = page.locator("[data-testid=status-line]");
      await statusLine.filter({ hasText: "big.tbx" }).waitFor();
      assert.match(await statusLine.textContent(), /big\.tbx.*30.*100000/);
      await shot(page, viewport, "12-big-browse");
    });

    it("reports a store failure with the Error! alert and goes on", async () => {
      writeFileSync(join(server.documents, "broken.tbx"), "not a workspace");
      await openWorkspacesTab(page, server.url);
      await page.locator("[data-testid=workspace-list] button.row[data-name='broken.tbx']").click();
      const a = alertBox(page);
      await a.waitFor();
      assert.equal(await a.locator(".alert-message").textContent(),
        "Tabulix can't continue.\nThe file is not a Tabulix workspace.\nReload the page or open another workspace.",
      );
      await shot(page, viewport, "13-store-error");
      await answerAlert(page, "Error!", "OK");
      // The server still answers.
      await tabs(page).getByRole("button", { name: "About" }).click();
      await page.getByText("cpp-httplib").waitFor();
    });
  });
}
