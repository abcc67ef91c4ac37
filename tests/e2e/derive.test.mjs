// The derived-variable editor in headless Chromium at phone and tablet
// sizes: open it from the Variables tab's add action, follow the status line
// and preview through the rules, derive log(Ozone) in the example workspace,
// then see its card with its figures; open it again from a variable's card.
import assert from "node:assert/strict";
import { after, before, describe, it } from "node:test";
import { assertNoHorizontalScroll, openWorkspacesTab, shot, useSession, viewports } from "./harness.mjs";

const tabs = (page) => page.locator("nav.tabbar");


for (const viewport of viewports) {
  describe(`Derived variables at ${viewport.name} size`, () => {
    let server, page;
    useSession(viewport, (s) => ({ server, page } = s));

    it("derives log(Ozone) in the example and shows its card", async () => {
      await openWorkspacesTab(page, server.url);
      await page.getByRole("button", { name: /Create a new workspace based on example/ }).click();
      await page.getByRole("dialog").getByRole("button", { name: "Create", exact: true }).click();
      await page.locator("[data-testid=grid]").waitFor({ timeout: 30000 });

      await tabs(page).getByRole("button", { name: "Variables" }).click();
      const cards = page.locator("[data-testid=variable-card]");
      await cards.first().waitFor();
      const before = await cards.count();
      await page.getByRole("button", { name: "Add Variable" }).click();

      const editor = page.getByRole("dialog");
      await editor.getByRole("heading", { name: "New Variable" }).waitFor();
      const name = editor.locator("input.text-input").first();
      const status = editor.locator("[data-testid=derive-status]");
      const preview = editor.locator("[data-testid=derive-preview]");
      const create = editor.getByRole("button", { name: "Create", exact: true });
      assert.equal(await name.inputValue(), "Var1");
      assert.equal(await preview.textContent(), "Var1 = log(x)");
      assert.equal(await status.textContent(), "Please select a variable to transform");
      assert.equal(await create.isDisabled(), true);
      // Only x is asked for by log(x).
      assert.equal(await editor.getByRole("button", { name: "Choose variable x..." }).count(), 1);
      assert.equal(await editor.getByRole("button", { name: "Choose variable y..." }).count(), 0);
      assert.equal(await editor.getByRole("textbox", { name: "Constant" }).count(), 0);
      await shot(page, viewport, "d1-editor-opened");
      await assertNoHorizontalScroll(page);

      await name.fill("");
      assert.equal(await status.textContent(), "Please provide a name for the new variable");
      assert.equal(await preview.textContent(), "x = log(x)");
      await name.fill("Ozone");
      assert.equal(await status.textContent(), "Another variable already exists with the name Ozone");
      await name.fill("logOzone");

      // x/c: the constant is asked for, zero refused, a non-number put back.
      await editor.getByRole("tab", { name: "Derive from variable and constant" }).click();
      await editor.getByRole("button", { name: "x/c", exact: true }).click();
      const constant = editor.getByRole("textbox", { name: "Constant" });
      await editor.getByRole("button", { name: "Choose variable x..." }).click();
      await editor.getByRole("button", { name: "Ozone", exact: true }).click();
      assert.equal(await status.textContent(), "Please enter a numerical constant");
      await constant.fill("0");
      assert.equal(await status.textContent(), "Make constant non-zero for division");
      assert.equal(await preview.textContent(), "logOzone = Ozone / 0");
      await constant.fill("abc");
      await constant.blur();
      assert.equal(await constant.inputValue(), "0");
      await constant.fill("2.5");
      assert.equal(await preview.textContent(), "logOzone = Ozone / 2.5");
      assert.equal(await status.textContent(), "\u00a0");
      await shot(page, viewport, "d2-editor-constant");

      // Back to log(x): the category's first choice is not picked by itself.
      await editor.getByRole("tab", { name: "Derive from one variable" }).click();
      assert.equal(await preview.textContent(), "logOzone = Ozone / 2.5");
      await editor.getByRole("button", { name: "log(x)", exact: true }).click();
      assert.equal(await preview.textContent(), "logOzone = log(Ozone)");
      assert.equal(await editor.locator(".derive-note").textContent(), "Note: log(x) produces missing values for x <= 0");
      assert.equal(await create.isDisabled(), false);
      await shot(page, viewport, "d3-editor-ready");
      await assertNoHorizontalScroll(page);

      await create.click();
      await editor.waitFor({ state: "detached", timeout: 30000 });
      const card = cards.filter({ has: page.locator(".card-name", { hasText: /^logOzone$/ }) });
      await card.waitFor();
      assert.equal(await cards.count(), before + 1);
      assert.equal(await card.locator(".type-line").textContent(), "Type: Numeric");
      // Figures of log10(Ozone) in R: 116 values, 0 to 2.2253, median 1.4983, mean 1.4846.
      await card.locator(".card-line", { hasText: "Mean:" }).waitFor();
      const lines = await card.locator(".card-line").allTextContents();
      for (const want of ["Observations: 116", "Min: 0", "Max: 2.225", "Median: 1.498", "Mean: 1.485"])
        assert.ok(lines.includes(want), `${want} in ${lines}`);
      assert.equal(await page.locator(".list-count").textContent(), "8 of 8 variables");
      await shot(page, viewport, "d4-new-card");
      await assertNoHorizontalScroll(page);
    });

    it("opens the editor from a Numeric variable's card with it as x", async () => {
      const card = page.locator("[data-testid=variable-card]").filter({ has: page.locator(".card-name", { hasText: /^Wind$/ }) });
      await card.getByRole("button", { name: "New variable from Wind" }).click();
      const editor = page.getByRole("dialog");
      await editor.getByRole("heading", { name: "New Variable" }).waitFor();
      assert.equal(await editor.locator("[data-testid=derive-preview]").textContent(), "Var1 = log(Wind)");
      await editor.getByRole("tab", { name: "Generate" }).click();
      await editor.getByRole("button", { name: "norm(0,1)", exact: true }).click();
      assert.equal(await editor.locator(".derive-note").textContent(), "Gives normally distributed random values with mean zero and standard deviation one");
      await shot(page, viewport, "d5-editor-from-card");
      await editor.getByRole("button", { name: "Create", exact: true }).click();
      await editor.waitFor({ state: "detached", timeout: 30000 });
      const made = page.locator("[data-testid=variable-card]").filter({ has: page.locator(".card-name", { hasText: /^Var1$/ }) });
      await made.locator(".card-line", { hasText: "Observations: 153" }).waitFor();
    });
  });
}
