// Steps of the analysis screens the end-to-end tests share: the command
// line's reference results, a new analysis from the menu, the folded
// settings opened, a variable chosen for a position, a text waited for in
// the result, a segment, the shared CSV.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before } from "node:test";
import { binary } from "./harness.mjs";

// A copy of the example that the command line computes the same analyses
// on, made before the tests of a describe block and removed after them.
// Returns `cli(...args)`: the command line's CSV export of one analysis.
export function useReference() {
  let dir, reference;
  before(() => {
    dir = mkdtempSync(join(tmpdir(), "tabulix-e2e-ref-"));
    reference = join(dir, "reference.tbx");
    const r = spawnSync(binary, ["example", reference], { encoding: "utf8" });
    assert.equal(r.status, 0, r.stderr);
  });
  after(() => {
    if (dir) rmSync(dir, { recursive: true, force: true });
  });
  return (...args) => {
    const r = spawnSync(binary, ["analyze", reference, ...args, "--csv", "-"], { encoding: "utf8" });
    assert.equal(r.status, 0, r.stderr);
    return r.stdout;
  };
}

export async function newAnalysis(page, title) {
  await page.getByRole("button", { name: "New Analysis" }).click();
  // The title starts the row (another row's description may hold it too).
  await page.locator("[data-testid=analysis-menu] button.row").filter({ hasText: new RegExp(`^${title}`) }).click();
  await page.locator("[data-testid=analysis-settings]").waitFor();
}

export const chooser = (page) => page.locator("[data-testid=variable-chooser]");

export const settingsLine = (page) => page.locator("[data-testid=settings-summary]");

// Opens the analysis settings when they are folded to their line (as they
// are once the analysis has its variables).
export async function openSettings(page) {
  if (!(await settingsLine(page).count())) return;
  await settingsLine(page).click();
  await page.locator("[data-testid=analysis-settings]").waitFor();
}

// Picks one variable for a position (the chooser fills in once its offers
// arrive); the variable's button, or the folded settings' line, names it.
export async function choose(page, position, name) {
  await openSettings(page);
  await page.locator(`.choose-variable[data-position='${position}']`).click();
  await chooser(page).getByRole("button", { name, exact: true }).click();
  await chooser(page).waitFor({ state: "detached" });
  await page
    .locator(`.choose-variable[data-position='${position}']`)
    .filter({ hasText: name })
    .or(settingsLine(page).filter({ hasText: name }))
    .waitFor();
}

export const view = (page) => page.locator("[data-testid=analysis-view]");
export const message = (page, text) => view(page).locator("[data-testid=analysis-error]").filter({ hasText: text }).waitFor();
export const shown = (page, text, selector = ".layout-view") => view(page).locator(selector).filter({ hasText: text }).first().waitFor();

// Shares the result shown (both files downloaded) and returns the CSV text.
export async function sharedCsv(page, baseName) {
  const downloads = [];
  const listen = (d) => downloads.push(d);
  page.on("download", listen);
  await page.locator("[data-testid=analysis-share]:not([disabled])").click();
  for (let i = 0; i < 200 && downloads.length < 2; i++) await page.waitForTimeout(100);
  page.off("download", listen);
  assert.deepEqual(downloads.map((d) => d.suggestedFilename()).sort(), [`${baseName}.csv`, `${baseName}.pdf`]);
  return readFileSync(await downloads.find((d) => d.suggestedFilename().endsWith(".csv")).path(), "utf8");
}

export async function close(page) {
  await page.getByRole("button", { name: "Close", exact: true }).first().click();
  await page.locator("[data-testid=analysis-view]").waitFor({ state: "detached" });
}

export const segment = (page, group, name) => page.getByRole("group", { name: group }).getByRole("button", { name, exact: true });
