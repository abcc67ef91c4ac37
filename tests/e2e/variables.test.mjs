// Managing variables in headless Chromium at phone and tablet sizes: give
// Temperature the Categorical type from its card's picker and see a two-way
// table take it, declare a missing-value code in Ozone's detail and see its
// figures leave it out, then delete Wind, which two saved analyses use, after
// the alert that names them, and delete a saved analysis after its question.
import assert from "node:assert/strict";
import { describe, it } from "node:test";
import { addExample, answerAlert, assertNoHorizontalScroll, openWorkspace, shot, until, useSession, viewports } from "./harness.mjs";

const tabs = (page) => page.locator("nav.tabbar");
const card = (page, name) =>
  page.locator("[data-testid=variable-card]").filter({ has: page.getByRole("button", { name: `Open detail of ${name}`, exact: true }) });

// Runs an analysis as the page does and returns its result.
async function analyze(page, url, request) {
  const headers = { "X-Tabulix-Request": "1" };
  const { job } = await (await page.request.post(`${url}api/analyze`, { headers, data: request })).json();
  for (;;) {
    const state = await (await page.request.get(`${url}api/jobs/${encodeURIComponent(job)}`)).json();
    if (state.finished) return state.result;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}

for (const viewport of viewports) {
  describe(`Managing variables at ${viewport.name} size`, () => {
    let server, page;
    useSession(viewport, (s) => ({ server, page } = s));

    it("changes a type, declares a missing code and deletes a used variable", async () => {
      addExample(server);
      await openWorkspace(page, server.url);
      await tabs(page).getByRole("button", { name: "Variables" }).click();
      const temperature = card(page, "Temperature");
      await temperature.waitFor();
      const cards = (await (await page.request.get(`${server.url}api/variables`)).json()).cards;
      const num = (name) => cards.find((c) => c.name === name).num;
      const before = await analyze(page, server.url, { kind: "twoway", left: num("DayType"), right: num("Temperature"), wheres: [] });
      assert.ok(before.error, "a Numeric variable is refused by the two-way table");

      // The picker offers exactly the types the variable may take.
      const picker = temperature.locator("[data-testid=type-picker]");
      await picker.focus();
      await until(async () => (await picker.locator("option").count()) === 2, "the offered types");
      assert.deepEqual(await picker.locator("option").allTextContents(), ["Numeric", "Categorical"]);
      await picker.selectOption("Categorical");
      await until(async () => (await temperature.locator(".type-line").textContent()) === "Type: Categorical", "the new type line");
      await until(async () => (await temperature.locator(".card-heading").count()) === 1, "the summary of a categorical variable");
      const table = await analyze(page, server.url, { kind: "twoway", left: num("DayType"), right: num("Temperature"), wheres: [] });
      assert.equal(table.error, undefined);
      await shot(page, viewport, "v1-type-changed");
      await assertNoHorizontalScroll(page);

      // Ozone with 41 declared missing: 116 observations become 115 (R: sum(!is.na(Ozone) & Ozone != 41)).
      await page.getByRole("button", { name: "Open detail of Ozone", exact: true }).click();
      const settings = page.locator("[data-testid=variable-settings]");
      await settings.waitFor();
      await settings.locator("[data-testid=missing-codes]").fill("41");
      await settings.getByRole("button", { name: "Apply", exact: true }).click();
      await until(async () => (await settings.locator("[data-testid=missing-note]").textContent()) === "Treated as missing: 41", "the declared code");
      const detail = await analyze(page, server.url, { kind: "detail", left: num("Ozone"), wheres: [] });
      assert.equal(detail.result.obsNumeric, 115);
      await shot(page, viewport, "v2-missing-code");
      await assertNoHorizontalScroll(page);
      await page.getByRole("button", { name: "Close", exact: true }).click();
      await until(async () => (await card(page, "Ozone").locator("[data-testid=card-missing]").textContent()) === "Missing codes: 41", "the card's codes");

      // Wind is used by the correlation and the regression saved with the example.
      const wind = card(page, "Wind");
      await wind.getByRole("button", { name: "Delete variable Wind" }).click();
      await wind.getByRole("button", { name: "Delete", exact: true }).click();
      const message = await answerAlert(page, "Delete Variable", "Cancel");
      assert.match(message, /These saved analyses use Wind and will lose it:/);
      assert.equal(await wind.count(), 1);
      await wind.getByRole("button", { name: "Delete variable Wind" }).click();
      await wind.getByRole("button", { name: "Delete", exact: true }).click();
      await answerAlert(page, "Delete Variable", "Delete");
      await until(async () => (await wind.count()) === 0, "Wind to be gone");

      // A saved analysis is deleted only after its own question.
      await tabs(page).getByRole("button", { name: "Analysis" }).click();
      const entries = page.locator("[data-testid=analysis-entry]");
      await entries.first().waitFor();
      const count = await entries.count();
      const title = await entries.first().locator(".analysis-title").textContent();
      await entries.first().getByRole("button", { name: `Delete ${title}` }).click();
      assert.equal(await answerAlert(page, "Delete Analysis", "Cancel"), `Really delete ${title}?`);
      assert.equal(await entries.count(), count);
      await entries.first().getByRole("button", { name: `Delete ${title}` }).click();
      await answerAlert(page, "Delete Analysis", "Delete");
      await until(async () => (await entries.count()) === count - 1, "the analysis to be gone");
    });
  });
}
