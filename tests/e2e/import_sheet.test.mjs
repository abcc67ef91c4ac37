// The import sheet previews the file and pre-selects the delimiter and
// decimal separator that fit it: a semicolon file with decimal commas
// imports as its columns, not as one.
import assert from "node:assert/strict";
import { after, before, describe, it } from "node:test";
import { assertNoHorizontalScroll, shot, useSession, viewports } from "./harness.mjs";

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
  });
}
