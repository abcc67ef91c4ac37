// Recoding and level order in headless Chromium at phone and tablet sizes:
// recode Ozone at breaks 50 and 100 from the Variables tab's add action with
// its preview of groups and counts, then reorder the new variable's levels in
// its detail and see the bar chart follow.
import assert from "node:assert/strict";
import { describe, it } from "node:test";
import { assertNoHorizontalScroll, openWorkspacesTab, shot, until, useSession, viewports } from "./harness.mjs";

const tabs = (page) => page.locator("nav.tabbar");

// The charts' text is drawn as glyph outlines, so the bar chart's levels are
// read from the detail the server computes for the chart, as the page asks.
async function chartLevels(page, url, name) {
  const headers = { "X-Tabulix-Request": "1" };
  const cards = (await (await page.request.get(`${url}api/variables`)).json()).cards;
  const num = cards.find((c) => c.name === name).num;
  const r = await page.request.post(`${url}api/analyze`, { headers, data: { kind: "detail", left: num, wheres: [] } });
  const { job } = await r.json();
  for (;;) {
    const state = await (await page.request.get(`${url}api/jobs/${encodeURIComponent(job)}`)).json();
    if (state.finished) return state.result.result.graph[0];
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}

for (const viewport of viewports) {
  describe(`Recoding and level order at ${viewport.name} size`, () => {
    let server, page;
    useSession(viewport, (s) => ({ server, page } = s));

    it("recodes Ozone into groups with a preview and orders their levels", async () => {
      await openWorkspacesTab(page, server.url);
      await page.getByRole("button", { name: /Create a new workspace based on example/ }).click();
      await page.getByRole("dialog").getByRole("button", { name: "Create", exact: true }).click();
      await page.locator("[data-testid=grid]").waitFor({ timeout: 30000 });
      await tabs(page).getByRole("button", { name: "Variables" }).click();
      await page.locator("[data-testid=variable-card]").first().waitFor();

      await page.getByRole("button", { name: "Add Variable" }).click();
      await page.locator("[data-testid=open-recode]").click();
      const editor = page.getByRole("dialog");
      await editor.getByRole("heading", { name: "Recode into Categories" }).waitFor();
      const status = editor.locator("[data-testid=recode-status]");
      const create = editor.locator("[data-testid=recode-create]");
      assert.equal(await status.textContent(), "Please choose a variable to recode");
      assert.equal(await create.isDisabled(), true);
      await editor.locator("input.text-input").first().fill("OzoneGroup");
      await editor.locator("[data-testid=recode-x]").click();
      await editor.getByRole("button", { name: "Ozone", exact: true }).click();
      await editor.locator("[data-testid=recode-breaks]").fill("50, 100");
      const preview = editor.locator("[data-testid=recode-preview] tbody tr");
      await until(async () => (await preview.count()) === 4, "the preview of four rows");
      const rows = [];
      for (let i = 0; i < 4; i++) rows.push(await preview.nth(i).locator("td").allTextContents());
      // As R's table(cut(Ozone, c(-Inf, 50, 100, Inf), right = FALSE), useNA = "ifany").
      assert.deepEqual(rows, [
        ["< 50", "81"],
        ["[50, 100)", "28"],
        ["≥ 100", "7"],
        ["Missing", "37"],
      ]);
      await shot(page, viewport, "r1-recode-preview");
      await assertNoHorizontalScroll(page);
      await editor.locator("[data-testid=recode-breaks]").fill("100, 50");
      await until(async () => (await status.textContent()).includes("must increase"), "the refusal of unordered breaks");
      await editor.locator("[data-testid=recode-breaks]").fill("50, 100");
      await until(async () => !(await create.isDisabled()), "Create to be offered");
      await create.click();
      await page.getByRole("button", { name: "Open detail of OzoneGroup" }).waitFor();

      await page.getByRole("button", { name: "Open detail of OzoneGroup" }).click();
      const detail = page.locator("[data-testid=detail]");
      const chart = detail.locator(".result-chart[data-title='Bar Plot of OzoneGroup']");
      await chart.waitFor({ timeout: 30000 });
      const levels = ["< 50", "[50, 100)", "≥ 100"];
      assert.deepEqual(await chartLevels(page, server.url, "OzoneGroup"), levels);
      const drawn = await chart.innerHTML();
      const order = detail.locator("[data-testid=level-order] .level-grip");
      assert.deepEqual(await order.allTextContents(), levels);
      await shot(page, viewport, "r2-detail-levels");
      await assertNoHorizontalScroll(page);

      // Move "≥ 100" up with its button: the list and the chart follow.
      await detail.getByRole("button", { name: "Move ≥ 100 up" }).click();
      const moved = ["< 50", "≥ 100", "[50, 100)"];
      await until(async () => JSON.stringify(await order.allTextContents()) === JSON.stringify(moved), "the new order");
      assert.deepEqual(await chartLevels(page, server.url, "OzoneGroup"), moved);
      // The page draws the chart again in that order.
      await until(async () => (await chart.count()) === 1 && (await chart.innerHTML()) !== drawn, "the chart drawn again", 30000);
      await shot(page, viewport, "r3-detail-reordered");
      await page.getByRole("button", { name: "Close", exact: true }).first().click();
    });
  });
}
