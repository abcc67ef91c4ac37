// Workbooks in the web application: an .xlsx uploaded through the page shows
// its sheets, the chosen one is imported, and a file that is not a workbook
// is refused with the reason. The workbook is written by openpyxl
// (tests/import/make_xlsx.py). Screenshots under artifacts/<viewport>/.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, describe, it } from "node:test";
import { answerAlert, assertNoHorizontalScroll, root, shot, useSession, viewports } from "./harness.mjs";

const made = mkdtempSync(join(tmpdir(), "tabulix-e2e-xlsx-"));
execFileSync("/usr/bin/python3", [join(root, "tests/import/make_xlsx.py"), made]);
const mixed = readFileSync(join(made, "mixed.xlsx"));
rmSync(made, { recursive: true, force: true });

const alertBox = (page) => page.getByRole("alertdialog");


for (const viewport of viewports) {
  describe(`Workbooks at ${viewport.name} size (${viewport.width}x${viewport.height})`, () => {
    let server, page;
    useSession(viewport, (s) => ({ server, page } = s));
    before(async () => {
      const help = page.waitForResponse((r) => r.url().includes("/api/help/import"));
      await page.goto(`${server.url}#/workspaces`);
      if ((await (await help).json()).show) await answerAlert(page, "How to import data", "OK");
    });

    it("imports the chosen sheet of an uploaded workbook", async () => {
      await page.locator("[data-testid=upload-input]").setInputFiles({
        name: "mixed.xlsx",
        mimeType: "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
        buffer: mixed,
      });
      const sheet = page.getByRole("dialog");
      await sheet.getByRole("heading", { name: "Create New Workspace" }).waitFor();
      const chooser = sheet.getByRole("button", { name: /^Sheet: / });
      await sheet.getByText("Sheet: Data").waitFor();
      await shot(page, viewport, "21-workbook-options");
      await chooser.click();
      await sheet.getByRole("heading", { name: "Choose Sheet" }).waitFor();
      assert.deepEqual(await sheet.locator(".chooser .row-text").allTextContents(), [
        "Data",
        "Hidden",
        "Données €",
        "Offset",
        "Wide",
      ]);
      await shot(page, viewport, "22-choose-sheet");
      await assertNoHorizontalScroll(page);
      await sheet.getByRole("button", { name: "Offset" }).click();
      await sheet.getByText("Sheet: Offset").waitFor();
      await sheet.getByRole("button", { name: "Create", exact: true }).click();
      await page.locator("[data-testid=grid]").waitFor({ timeout: 30000 });
      const status = await page.locator("[data-testid=status-line]").textContent();
      if (viewport.name === "phone") assert.equal(status, "mixed.tbx, 3 Variables, 2 Observations");
      else assert.equal(status, "Open Workspace: mixed.tbx, Source File: mixed.xlsx, Variables: 3, Observations: 2");
      await shot(page, viewport, "23-workbook-imported");
    });

    it("refuses a file that is not a workbook, saying why", async () => {
      const help = page.waitForResponse((r) => r.url().includes("/api/help/import"));
      await page.goto(`${server.url}#/workspaces`);
      if ((await (await help).json()).show) await answerAlert(page, "How to import data", "OK");
      await page.locator("[data-testid=upload-input]").setInputFiles({
        name: "fake.xlsx",
        mimeType: "application/octet-stream",
        buffer: Buffer.from("a,b\n1,2\n"),
      });
      const message = await answerAlert(page, "Error While Importing", "OK");
      assert.match(message, /fake\.xlsx is not a readable workbook: it is not a zip container/);
      await page.getByRole("dialog").waitFor({ state: "detached" });
      // The workspace imported before is still the open one.
      assert.match(await page.locator("[data-testid=status-line]").textContent(), /mixed\.tbx/);
    });
  });
}
