// The import sheet previews the file and pre-selects the delimiter and
// decimal separator that fit it: a semicolon file with decimal commas
// imports as its columns, not as one; a day-first file's dates read in the
// order chosen there.
import assert from "node:assert/strict";
import { readdirSync, readFileSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { after, before, describe, it } from "node:test";
import {
  addExample,
  answerAlert,
  assertNoHorizontalScroll,
  openWorkspacesTab,
  shot,
  until,
  useSession,
  viewports,
} from "./harness.mjs";

// Large enough (100,000 rows of 100 variables, 40 MB) that its import is
// still going when Cancel is pressed, even on a fast idle machine: rows past
// the 100,000 limit would not be read, so the work is in the width.
function largeCsv() {
  const cols = 100;
  const lines = [Array.from({ length: cols }, (_, c) => `c${c}`).join(",")];
  for (let i = 0; i < 100000; i++) lines.push(Array.from({ length: cols }, (_, c) => (i * (c + 1)) % 1013).join(","));
  return lines.join("\n") + "\n";
}

function europeanCsv() {
  const lines = ["name;height;weight;note"];
  for (let i = 0; i < 20; i++) lines.push(`P${i};1,${60 + i};${50 + i},5;"a; long note that runs past the width of a phone ${i}"`);
  return lines.join("\n") + "\n";
}

for (const viewport of viewports) {
  describe(`import sheet at ${viewport.name} size`, () => {
    let server, page;
    useSession(viewport, (s) => ({ server, page } = s));

    it("previews a semicolon file with decimal commas and imports its columns", async () => {
      // The import help shows by itself on a first visit, once the page has asked for it.
      const asked = page.waitForResponse((r) => r.url().includes("/api/help/import"));
      await page.goto(`${server.url}#/workspaces`);
      await page.getByRole("heading", { name: "Workspaces", exact: true }).waitFor();
      if ((await (await asked).json()).show) {
        const help = page.getByRole("alertdialog");
        await help.getByRole("button", { name: "OK" }).click();
        await help.waitFor({ state: "detached" });
      }
      await page.locator("[data-testid=upload-input]").setInputFiles({
        name: "heights.csv",
        mimeType: "text/csv",
        buffer: Buffer.from(europeanCsv()),
      });
      const sheet = page.getByRole("dialog");
      await sheet.getByRole("heading", { name: "Create New Workspace" }).waitFor();
      await sheet.getByText("Delimiter: semicolon").waitFor();
      assert.equal(await sheet.getByRole("radio", { name: "," }).getAttribute("aria-checked"), "true");
      const preview = sheet.locator("[data-testid=import-preview]");
      await preview.scrollIntoViewIfNeeded();
      assert.deepEqual(await preview.locator("tr").first().locator("td").allTextContents(), [
        "name",
        "height",
        "weight",
        "note",
      ]);
      assert.equal(await preview.locator("tr").count(), 8);
      assert.equal(await preview.locator("tr").nth(1).locator("td").nth(1).textContent(), "1,60");
      assert.equal(await sheet.locator("[data-testid=date-preview]").count(), 0); // no dates in this file
      await assertNoHorizontalScroll(page);
      await shot(page, viewport, "import-sheet-preview");

      // Choosing comma splits the preview anew; an other character is typed in.
      await sheet.getByRole("button", { name: /Delimiter:/ }).click();
      await sheet.getByRole("button", { name: "comma", exact: true }).click();
      await sheet.getByText("Delimiter: comma").waitFor();
      assert.equal(await preview.locator("tr").first().locator("td").count(), 1);
      await sheet.getByRole("button", { name: /Delimiter:/ }).click();
      await sheet.getByLabel("Other character:").fill(";");
      await sheet.getByText("Delimiter: semicolon").waitFor();
      assert.equal(await preview.locator("tr").first().locator("td").count(), 4);

      await sheet.getByRole("button", { name: "Create", exact: true }).click();
      await page.locator("[data-testid=grid]").waitFor({ timeout: 30000 });
      const status = await page.locator("[data-testid=status-line]").textContent();
      assert.match(status, /heights\.tbx.*4.*20/);
      await page.locator("nav.tabbar").getByRole("button", { name: "Variables" }).click();
      const cards = page.locator("[data-testid=variable-card]");
      await cards.first().waitFor();
      assert.deepEqual(await cards.locator(".type-line").allTextContents(), [
        "Type: Categorical",
        "Type: Numeric",
        "Type: Numeric",
        "Type: Categorical",
      ]);
      await shot(page, viewport, "import-sheet-variables");
    });

    it("reads a day-first file's dates in the order chosen on the sheet", async () => {
      await openWorkspacesTab(page, server.url);
      await page.locator("[data-testid=upload-input]").setInputFiles({
        name: "uk.csv",
        mimeType: "text/csv",
        buffer: Buffer.from("d,v\n05/03/2024,1\n13/05/2024,2\n"),
      });
      const sheet = page.getByRole("dialog");
      await sheet.getByRole("heading", { name: "Create New Workspace" }).waitFor();
      const order = sheet.locator("[data-testid=date-order]");
      const dates = sheet.locator("[data-testid=date-preview] li");
      await dates.first().waitFor();
      assert.equal(await order.textContent(), "Automatic");
      // Automatic: 13/05 settles day first (the page's en-US alone would read month first).
      assert.deepEqual(await dates.allTextContents(), [
        "05/03/2024 reads as March 5, 2024",
        "13/05/2024 reads as May 13, 2024",
      ]);

      const choose = async (name) => {
        await order.click();
        await sheet.getByRole("heading", { name: "Choose Date Order" }).waitFor();
        await sheet.getByRole("button", { name, exact: true }).click();
        await until(async () => (await order.textContent()) === name, `the order ${name}`);
      };
      await choose("Month first");
      assert.deepEqual(await dates.allTextContents(), [
        "05/03/2024 reads as May 3, 2024",
        "13/05/2024 is no date in this order and stays text.",
      ]);
      await choose("Day first");
      assert.deepEqual(await dates.allTextContents(), [
        "05/03/2024 reads as March 5, 2024",
        "13/05/2024 reads as May 13, 2024",
      ]);
      await dates.first().scrollIntoViewIfNeeded();
      await assertNoHorizontalScroll(page);
      await shot(page, viewport, "import-sheet-dates");

      // Automatic would read this file day first too: the request must carry the choice.
      const sent = page.waitForRequest((r) => r.url().includes("/api/workspaces/create"));
      await sheet.getByRole("button", { name: "Create", exact: true }).click();
      assert.equal((await sent).postDataJSON().dates, "dmy");
      await page.locator("[data-testid=grid]").waitFor({ timeout: 30000 });
      await until(
        async () => /uk\.tbx/.test(await page.locator("[data-testid=status-line]").textContent()),
        "the new workspace",
        30000,
      );
      await page.locator("nav.tabbar").getByRole("button", { name: "Variables" }).click();
      const card = page.locator("[data-testid=variable-card]").first();
      await card.waitFor();
      assert.equal(await card.locator(".type-line").textContent(), "Type: Date / Time");
      // 5 March 2024, written as en-US writes short dates.
      const min = card.locator(".card-line", { hasText: "Min:" });
      await until(async () => (await min.count()) > 0 && !/\.\.\./.test(await min.textContent()), "the card's minimum", 30000);
      assert.equal((await min.textContent()).trim(), "Min: 3/5/24");
      await shot(page, viewport, "import-sheet-dates-variables");
    });

    it("shows how much of the file is read, and Cancel leaves the workspace it would replace", async () => {
      addExample(server, "big.tbx");
      const before = readFileSync(join(server.documents, "big.tbx"));
      writeFileSync(join(server.documents, "big.csv"), largeCsv());
      await openWorkspacesTab(page, server.url);
      await page.locator("[data-testid=data-file-list] button.row[data-name='big.csv']").click();
      const sheet = page.getByRole("dialog");
      await sheet.getByRole("heading", { name: "Create New Workspace" }).waitFor();
      await sheet.getByRole("button", { name: "Create", exact: true }).click();
      await answerAlert(page, "Confirm Replace", "Replace");
      const bar = page.getByRole("progressbar", { name: "Import progress" });
      await bar.waitFor({ timeout: 30000 });
      assert.match(await page.locator("[data-testid=import-percent]").textContent(), /^\d{1,3}%$/);
      // Pressed at once, while the reader is surely still going.
      await page.getByRole("button", { name: "Cancel", exact: true }).click();
      const told = page.getByRole("alertdialog");
      await told.getByRole("heading", { name: "Import cancelled." }).waitFor({ timeout: 30000 });
      await shot(page, viewport, "import-cancelled");
      await told.getByRole("button", { name: "OK", exact: true }).click();
      await told.waitFor({ state: "detached" });
      await page.getByRole("heading", { name: "Workspaces", exact: true }).waitFor();
      assert.ok(readFileSync(join(server.documents, "big.tbx")).equals(before), "the old workspace is unchanged");
      await until(
        async () => readdirSync(server.documents).every((f) => !f.startsWith(".")),
        "the import's hidden file to go",
      );
    });

    it("shows the percent of an upload sent", async () => {
      await openWorkspacesTab(page, server.url);
      // A slow uplink (Chromium's own throttling, 256 KB/s) keeps a 1 MB
      // upload going for seconds, long enough to read its percent.
      const cdp = await page.context().newCDPSession(page);
      await cdp.send("Network.enable");
      await cdp.send("Network.emulateNetworkConditions", {
        offline: false,
        latency: 0,
        downloadThroughput: -1,
        uploadThroughput: 256 * 1024,
      });
      const csv = "a,b\n" + Array.from({ length: 100000 }, (_, i) => `${i},${i % 7}`).join("\n") + "\n";
      await page.locator("[data-testid=upload-input]").setInputFiles({
        name: "slow.csv",
        mimeType: "text/csv",
        buffer: Buffer.from(csv),
      });
      const percent = page.locator("[data-testid=upload-percent]");
      await until(async () => {
        const m = /^(\d+)%$/.exec(((await percent.count()) && (await percent.textContent())) || "");
        return m !== null && Number(m[1]) > 0 && Number(m[1]) < 100 && (await percent.isVisible());
      }, "a percent between 0 and 100, in view");
      // Inside the upload row's button, whose content is presentational: found by its element.
      assert.equal(await page.locator("progress[aria-label='Upload progress']").count(), 1);
      await shot(page, viewport, "upload-percent");
      await cdp.send("Network.emulateNetworkConditions", {
        offline: false,
        latency: 0,
        downloadThroughput: -1,
        uploadThroughput: -1,
      });
      await cdp.detach();
      const sheet = page.getByRole("dialog");
      await sheet.getByRole("heading", { name: "Create New Workspace" }).waitFor({ timeout: 30000 });
      await sheet.getByRole("button", { name: "Cancel", exact: true }).click();
    });
  });
}
