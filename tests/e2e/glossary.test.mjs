// The glossary in headless Chromium: from About, list every term, search
// them (case and accents ignored), read a term's page and come back; a
// term's page opened directly by its address; a summary label of a
// variable's card opens its term.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { join } from "node:path";
import { after, before, describe, it } from "node:test";
import { assertNoHorizontalScroll, binary, shot, until, useSession, viewports } from "./harness.mjs";

// The glossary's own dialog (a result screen under it is a dialog too).
const sheet = (page) => page.locator("[role=dialog].glossary");
const rowTitles = (page) => sheet(page).locator("[data-testid=glossary-terms] .row-text").allTextContents();


async function expectTitles(page, expected, what) {
  let got;
  await until(async () => {
    got = await rowTitles(page);
    return JSON.stringify(got) === JSON.stringify(expected);
  }, `${what}: ${JSON.stringify(expected)}, last ${JSON.stringify(got)}`);
}

for (const viewport of viewports) {
  describe(`Glossary at ${viewport.name} size (${viewport.width}x${viewport.height})`, () => {
    let server, page;
    useSession(viewport, (s) => ({ server, page } = s));

    it("lists every term from About, searches them and shows a term's page", async () => {
      await page.goto(`${server.url}#/about`);
      await page.getByTestId("open-glossary").click();
      await sheet(page).getByRole("heading", { name: "Glossary of Terms" }).waitFor();
      await until(async () => (await rowTitles(page)).length === 68, "68 terms");
      const all = await rowTitles(page);
      assert.deepEqual(all.slice(0, 4), ["Observations", "Unique Values", "Mean", "95% CI of Mean"]);
      assert.equal(all[35], "AIC");
      assert.equal(all[67], "Friedman Test");
      await assertNoHorizontalScroll(page);
      await shot(page, viewport, "glossary-list");

      const search = sheet(page).getByPlaceholder("Search help terms");
      await search.fill("quart");
      await expectTitles(page, ["1st Quartile", "3rd Quartile"], "quart");
      await search.fill("QUÄRT");
      await expectTitles(page, ["1st Quartile", "3rd Quartile"], "QUÄRT");
      await search.fill("nothing like it");
      await expectTitles(page, [], "no match");
      await search.fill("");
      await expectTitles(page, all, "the whole list again, in its order");

      await search.fill("coeff");
      await expectTitles(page, ["Coeff. Variation", "Coefficient", "95% CI of a Coefficient", "Standardized Coefficient"], "coeff");
      await shot(page, viewport, "glossary-search");
      await sheet(page).getByRole("button", { name: "Coeff. Variation" }).click();
      await sheet(page).getByRole("heading", { name: "Coeff. Variation" }).waitFor();
      assert.equal(
        (await sheet(page).getByTestId("term-text").textContent()).trim(),
        "Calculated as the ratio of the standard deviation to the mean",
      );
      await shot(page, viewport, "glossary-term");
      // Back to the list as it was searched.
      await sheet(page).getByRole("button", { name: "Back" }).click();
      await expectTitles(page, ["Coeff. Variation", "Coefficient", "95% CI of a Coefficient", "Standardized Coefficient"], "the searched list after going back");
      await sheet(page).getByRole("button", { name: "Done" }).click();
      await sheet(page).waitFor({ state: "detached" });
    });

    it("opens the Skew page directly and goes back to every term", async () => {
      await page.goto(`${server.url}#/variables/glossary/skew`);
      await sheet(page).getByRole("heading", { name: "Skew" }).waitFor();
      const text = await sheet(page).getByTestId("term-text").textContent();
      assert.match(text, /^A measure of how lopsided the distribution is\./);
      await assertNoHorizontalScroll(page);
      await shot(page, viewport, "glossary-skew");
      await sheet(page).getByRole("button", { name: "Back" }).click();
      await until(async () => (await rowTitles(page)).length === 68, "every term after going back");
      await sheet(page).getByRole("button", { name: "Done" }).click();
      await sheet(page).waitFor({ state: "detached" });
      // The address returns to its tab, which stays on screen.
      assert.match(page.url(), /#\/variables$/);
      await page.getByRole("heading", { name: "Variables", exact: true }).waitFor();
    });

    it("opens a figure's term from its label on a variable's card", async () => {
      const made = spawnSync(binary, ["example", join(server.documents, "example.tbx")], { encoding: "utf8" });
      assert.equal(made.status, 0, made.stderr);
      const help = page.waitForResponse((r) => r.url().includes("/api/help/import"));
      await page.goto(`${server.url}#/workspaces`);
      if ((await (await help).json()).show) await page.getByRole("alertdialog").getByRole("button", { name: "OK" }).click();
      await page.locator("[data-testid=workspace-list] button.row[data-name='example.tbx']").click();
    // Opening ends on Browse; going on before would be undone by that switch.
    await page.getByRole("heading", { name: "Browse", exact: true }).waitFor();
      await page.locator("nav.tabbar").getByRole("button", { name: "Variables" }).click();
      const ozone = page.locator("[data-testid=variable-card]").filter({ hasText: "Ozone" });
      await ozone.locator(".term-label[data-term=mean]").waitFor();
      await shot(page, viewport, "glossary-card-labels");
      await ozone.locator(".term-label[data-term=mean]").click();
      await sheet(page).getByRole("heading", { name: "Mean" }).waitFor();
      assert.equal(
        (await sheet(page).getByTestId("term-text").textContent()).trim(),
        "Arithmetic mean, the sum of the variable divided by the number of observations",
      );
      await shot(page, viewport, "glossary-from-card");
      await sheet(page).getByRole("button", { name: "Done" }).click();
      await sheet(page).waitFor({ state: "detached" });
      // The line still reads as one figure.
      assert.match(await ozone.locator(".card-line").filter({ hasText: "Mean" }).textContent(), /^Mean: 42\.1\d*$/);
    });

    it("opens Skew from the variable detail, and the detail's 23 terms", async () => {
      // The example is open from the test before.
      await page.getByRole("button", { name: "Open detail of Ozone" }).click();
      const detail = page.locator("[data-testid=detail]");
      await detail.locator(".figure[data-term=skew] .term-link").click();
      await sheet(page).getByRole("heading", { name: "Skew" }).waitFor();
      assert.match(await sheet(page).getByTestId("term-text").textContent(), /^A measure of how lopsided the distribution is\./);
      await shot(page, viewport, "glossary-from-detail");
      // Back: the detail's terms, in its order.
      await sheet(page).getByRole("button", { name: "Back" }).click();
      await until(async () => (await rowTitles(page)).length === 23, "the detail's 23 terms");
      const titles = await rowTitles(page);
      assert.deepEqual(titles.slice(0, 3), ["Observations", "Unique Values", "Mean"]);
      assert.deepEqual(titles.slice(-3), ["Skew", "Excess Kurtosis", "QQ Plot"]);
      await sheet(page).getByPlaceholder("Search help terms").fill("mean");
      await expectTitles(page, ["Mean", "95% CI of Mean", "Root Mean Square", "Mean Abs Dev"], "mean among the detail's terms");
      await sheet(page).getByRole("button", { name: "Done" }).click();
      await sheet(page).waitFor({ state: "detached" });
      // The detail's own glossary action lists the same terms.
      await page.locator(".overlay-screen").getByRole("button", { name: "Glossary of Terms" }).click();
      await until(async () => (await rowTitles(page)).length === 23, "the detail's 23 terms from its glossary action");
      await sheet(page).getByRole("button", { name: "Done" }).click();
      await sheet(page).waitFor({ state: "detached" });
      await detail.waitFor();
    });
  });
}
