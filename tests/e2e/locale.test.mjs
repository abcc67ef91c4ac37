// A browser in French at phone size reads numbers and dates the French way,
// and the page declares its language; the server itself runs in en_US.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { join } from "node:path";
import { after, before, describe, it } from "node:test";
import { addExample, shot, until, useSession, viewports } from "./harness.mjs";

const phone = viewports.find((v) => v.name === "phone");


describe("Numbers and dates in the browser's language", () => {
  let server, page;
  useSession(phone, (s) => ({ server, page } = s), { locale: "fr-FR" });
  before(async () => {
    addExample(server);
  });

  it("shows the example's summaries in French", async () => {
    const help = page.waitForResponse((r) => r.url().includes("/api/help/import"));
    await page.goto(`${server.url}#/workspaces`);
    if ((await (await help).json()).show) {
      await page.getByRole("alertdialog").getByRole("button", { name: "OK" }).click();
    }
    await page.locator("[data-testid=workspace-list] button.row[data-name='example.tbx']").click();
    // Opening ends on Browse; going on before would be undone by that switch.
    await page.getByRole("heading", { name: "Browse", exact: true }).waitFor();
    await until(async () => (await page.locator("html").getAttribute("lang")) === "fr-FR", "<html lang=fr-FR>", 20000);
    await page.locator("nav.tabbar").getByRole("button", { name: "Variables" }).click();
    const lines = page.locator("[data-testid=variable-card] .card-line");
    // The summaries refreshed by the server's background work, in French: a
    // decimal comma, and dates as day/month/year.
    let texts = [];
    await until(async () => {
      texts = await lines.allTextContents();
      return texts.some((t) => /^Mean: \d+,\d+$/.test(t));
    }, "a mean with a decimal comma");
    assert.ok(texts.some((t) => /^Min: 01\/05\/1973$/.test(t)), texts.join(" | "));
    assert.ok(!texts.some((t) => /^Mean: \d+\.\d+$/.test(t)), texts.join(" | "));
    await shot(page, phone, "locale-fr-variables");
  });
});
