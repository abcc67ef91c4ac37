// Undo and Redo at phone and tablet sizes: edit a cell in Browse, undo it
// with the button and redo it with Shift+Ctrl+Z; delete a variable on the
// Variables screen and bring it back with Ctrl+Z. The buttons name the step
// they would take back and say when there is none.
import assert from "node:assert/strict";
import { describe, it } from "node:test";
import { addExample, answerAlert, assertNoHorizontalScroll, openWorkspace, shot, until, useSession, viewports } from "./harness.mjs";

const tabs = (page) => page.locator("nav.tabbar");
const toast = (page) => page.locator("[data-testid=toast]");

for (const viewport of viewports) {
  describe(`Undo and redo at ${viewport.name} size`, () => {
    let server, page;
    useSession(viewport, (s) => ({ server, page } = s));

    it("undoes and redoes an edit in Browse", async () => {
      addExample(server);
      await openWorkspace(page, server.url, "example.tbx");
      const undo = page.locator("[data-testid=undo]");
      const redo = page.locator("[data-testid=redo]");
      await until(async () => (await undo.getAttribute("title")) === "Nothing to undo", "the empty history");
      assert.equal(await undo.getAttribute("aria-disabled"), "true");
      assert.equal(await redo.getAttribute("title"), "Nothing to redo");

      await page.locator("[data-testid=edit-toggle]").click();
      const cell = page.getByRole("textbox", { name: "Ozone, row 1", exact: true });
      await cell.fill("4100");
      await cell.press("Enter");
      await page.locator("[data-testid=edit-toggle]").click();
      await page.getByRole("heading", { name: "Browse", exact: true }).waitFor();
      const ozoneCol = await page.locator("th.col-header").evaluateAll((ths) => ths.findIndex((th) => th.textContent.includes("Ozone")));
      const first = page.locator(`tr[data-row='1'] > [data-col='${ozoneCol}']`);
      await until(async () => (await undo.getAttribute("title")) === "Undo edit a cell of Ozone", "the step's name");
      await until(async () => /4,?100/.test(await first.textContent()), "the edited cell");
      await shot(page, viewport, "undo-01-after-edit");
      await assertNoHorizontalScroll(page);

      await undo.click();
      await toast(page).filter({ hasText: "Undid: edit a cell of Ozone" }).waitFor();
      await until(async () => (await first.textContent()) === "41", "the cell as it was");
      assert.equal(await redo.getAttribute("title"), "Redo edit a cell of Ozone");
      assert.equal(await undo.getAttribute("aria-disabled"), "true");
      await shot(page, viewport, "undo-02-undone");

      await page.locator("body").click({ position: { x: 5, y: 5 } });
      await page.keyboard.press("Control+Shift+Z");
      await toast(page).filter({ hasText: "Redid: edit a cell of Ozone" }).waitFor();
      await until(async () => /4,?100/.test(await first.textContent()), "the cell edited again");
      assert.equal(await redo.getAttribute("aria-disabled"), "true");
    });

    it("brings back a deleted variable on the Variables screen", async () => {
      await tabs(page).getByRole("button", { name: "Variables" }).click();
      const wind = page.locator("[data-testid=variable-card]").filter({ has: page.getByText("Wind", { exact: true }) });
      await wind.waitFor();
      const cards = page.locator("[data-testid=cards]");
      // Month's frequent values come from the background summaries.
      const month = page.locator("[data-testid=variable-card]").filter({ has: page.getByText("Month", { exact: true }) });
      await until(async () => /\d%/.test(await month.textContent()), "Month's frequent values");
      const before = await wind.textContent();
      const all = await cards.textContent();
      await wind.getByRole("button", { name: "Delete variable Wind" }).click();
      await wind.getByRole("button", { name: "Delete", exact: true }).click();
      await answerAlert(page, "Delete Variable", "Delete");
      await until(async () => (await wind.count()) === 0, "Wind to be gone");
      const undo = page.locator("[data-testid=undo]");
      await until(async () => (await undo.getAttribute("title")) === "Undo delete variable Wind", "the step's name");

      await page.locator("body").click({ position: { x: 5, y: 5 } });
      await page.keyboard.press("Control+Z");
      await toast(page).filter({ hasText: "Undid: delete variable Wind" }).waitFor();
      await until(async () => (await wind.count()) === 1, "Wind to be back");
      await until(async () => (await wind.textContent()) === before, "Wind's card as it was");
      await until(async () => (await cards.textContent()) === all, "every card as it was");
      assert.equal(await page.locator("[data-testid=redo]").getAttribute("title"), "Redo delete variable Wind");
      await shot(page, viewport, "undo-03-variable-back");
      await assertNoHorizontalScroll(page);
    });
  });
}
