// The shell on every screen at phone and tablet sizes: nothing scrolls
// sideways, axe-core finds no serious or critical fault, chart text stays
// readable; sheets take and give back the focus; the grid's keys; the
// filter sheet's refusal; tips for the pointer in use; the example's saved
// analyses; Share's note; and the installed shell opening without a server.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { describe, it } from "node:test";
import { addExample, assertNoHorizontalScroll, openWorkspace, shot, until, useSession, viewports } from "./harness.mjs";

const axeSource = readFileSync(createRequire(import.meta.url).resolve("axe-core/axe.min.js"), "utf8");
const tabs = (page) => page.locator("nav.tabbar");

// axe-core's serious and critical findings on the page as it is now.
async function assertAccessible(page, where) {
  if (!(await page.evaluate(() => typeof window.axe !== "undefined"))) await page.evaluate(axeSource);
  const found = await page.evaluate(async () => {
    const r = await window.axe.run(document, { resultTypes: ["violations"] });
    return r.violations
      .filter((v) => v.impact === "serious" || v.impact === "critical")
      .map((v) => `${v.id}: ${v.nodes.slice(0, 3).map((n) => n.target.join(" ")).join(" | ")}`);
  });
  assert.deepEqual(found, [], `axe-core on ${where}`);
}

// Every text of every chart at least 11 CSS px. The server's SVG draws text
// as glyph symbols, one set per font size, each set's glyph 0 being the
// missing-glyph box, 0.8828 em tall in DejaVu Sans (its longer side when
// the set is turned, as the y axis title is): a set's size in drawing
// units times the scale its glyphs are drawn at on screen.
async function assertChartTextReadable(page, where) {
  const sizes = await page.evaluate(() => {
    const found = [];
    for (const svg of document.querySelectorAll(".chart-svg svg")) {
      const em = new Map();
      for (const symbol of svg.querySelectorAll("symbol[id$='-0']")) {
        const n = (symbol.querySelector("path")?.getAttribute("d") ?? "").match(/-?\d+(\.\d+)?/g)?.map(Number) ?? [];
        const span = (odd) => {
          const v = n.filter((_, i) => i % 2 === odd);
          return Math.max(...v) - Math.min(...v);
        };
        em.set(symbol.id.slice(0, -2), Math.max(span(0), span(1)) / 0.8828);
      }
      for (const use of svg.querySelectorAll("use")) {
        const set = (use.getAttribute("xlink:href") ?? use.getAttribute("href") ?? "").slice(1).replace(/-\d+$/, "");
        const m = use.getScreenCTM();
        if (em.has(set) && m) found.push(em.get(set) * Math.hypot(m.a, m.b));
      }
    }
    return found;
  });
  assert.ok(sizes.length > 0 || !(await page.locator(".chart-svg svg").count()), `${where}: no chart text found`);
  const least = Math.min(...sizes);
  assert.ok(least >= 10.95, `${where}: chart text drawn at ${least.toFixed(1)} px`);
}

// Each button of the segmented control labelled `label` holds its whole
// word inside its box, apart from the next one's ("Column", "None").
async function assertSegmentsApart(page, label, where) {
  const boxes = await page.locator(`[role=group][aria-label^='${label}']`).evaluate((g) =>
    Array.from(g.querySelectorAll("button")).map((b) => {
      const range = document.createRange();
      range.selectNodeContents(b);
      const text = range.getBoundingClientRect();
      const box = b.getBoundingClientRect();
      return { word: b.textContent, left: text.left, right: text.right, top: text.top, inside: text.left >= box.left && text.right <= box.right, fits: b.scrollWidth <= b.clientWidth };
    }),
  );
  for (const [i, b] of boxes.entries()) {
    assert.ok(b.inside && b.fits, `${where}: "${b.word}" runs out of its button`);
    const next = boxes[i + 1];
    if (next && Math.abs(next.top - b.top) < 2) assert.ok(next.left - b.right >= 8, `${where}: "${b.word}" runs into "${next.word}"`);
  }
}

// The tip on screen lies inside the window, points up at the action at the
// end of the header (its arrow 22 px from its right end) and covers neither
// the search box nor the grid nor the status line.
async function assertTipClear(page, where) {
  const tip = page.locator(".tip");
  await tip.waitFor();
  const found = await tip.evaluate((t) => {
    const r = t.getBoundingClientRect();
    const actions = t.closest("section").querySelectorAll(".screen-header .header-actions > button, .screen-header .header-actions > * button");
    const action = actions[actions.length - 1]?.getBoundingClientRect();
    const covered = [];
    for (const el of document.querySelectorAll(".search-bar, [data-testid=grid], .status-line")) {
      const b = el.getBoundingClientRect();
      if (Math.min(r.right, b.right) > Math.max(r.left, b.left) && Math.min(r.bottom, b.bottom) > Math.max(r.top, b.top)) covered.push(el.className);
    }
    const arrow = r.right - 22;
    return { inside: r.left >= 0 && r.top >= 0 && r.right <= innerWidth && r.bottom <= innerHeight, covered, points: !!action && arrow >= action.left && arrow <= action.right };
  });
  assert.deepEqual(found, { inside: true, covered: [], points: true }, `the tip of ${where}`);
}

// No text on screen ends in "…" for want of room, but the grid's cells and a
// card's frequent values, which keep their column's width.
async function assertNothingCutShort(page, where) {
  const cut = await page.evaluate(() =>
    Array.from(document.querySelectorAll("body *"))
      .filter((el) => !el.closest(".grid, .freq-value") && getComputedStyle(el).textOverflow === "ellipsis" && el.scrollWidth > el.clientWidth + 1)
      .map((el) => el.textContent.slice(0, 40)),
  );
  assert.deepEqual(cut, [], `${where}: texts cut short`);
}

// Whether the focus is inside the element `selector` finds.
const focusInside = (page, selector) =>
  page.evaluate((s) => !!document.activeElement?.closest(s), selector);
const focusedLabel = (page) => page.evaluate(() => document.activeElement?.getAttribute("aria-label") ?? "");
const focusedCell = (page) =>
  page.evaluate(() => {
    const el = document.activeElement;
    return [Number(el?.closest("tr")?.dataset.row), Number(el?.closest("[data-col]")?.dataset.col), el?.tagName];
  });

for (const viewport of viewports) {
  const touch = viewport.name === "phone";
  describe(`The shell at ${viewport.name} size`, () => {
    let server, page;
    useSession(viewport, (s) => ({ server, page } = s));

    it("fits every tab and every result, passes axe-core, and words tips for the pointer", async () => {
      addExample(server);
      await openWorkspace(page, server.url);
      // The first visit of Browse shows its tip, worded for this pointer.
      await page.locator(".tip").filter({ hasText: touch ? "Tap to edit or enter data" : "Click to edit or enter data" }).waitFor();
      await assertTipClear(page, "Browse");
      for (const [tab, heading] of [
        ["Browse", "Browse"],
        ["Variables", "Variables"],
        ["Analysis", "Analysis"],
        ["About", "About"],
        ["Workspaces", "Workspaces"],
      ]) {
        // The Workspaces tab may show its import help by itself: close it.
        const asked = tab === "Workspaces" ? page.waitForResponse((r) => r.url().includes("/api/help/import")) : null;
        await tabs(page).getByRole("button", { name: tab }).click();
        await page.getByRole("heading", { name: heading, exact: true }).waitFor();
        if (asked && (await (await asked).json()).show) {
          await page.getByRole("alertdialog").getByRole("button", { name: "OK", exact: true }).click();
          await page.getByRole("alertdialog").waitFor({ state: "detached" });
        }
        if (tab === "Variables") await page.locator("[data-testid=variable-card]").first().waitFor();
        // Their first visit shows their tips, worded for this pointer too.
        if (tab === "Variables" || tab === "Analysis") {
          await page.locator(".tip").filter({ hasText: touch ? /^Tap to / : /^Click to / }).waitFor();
          await assertTipClear(page, tab);
        }
        await shot(page, viewport, `shell-tab-${tab.toLowerCase()}`);
        await assertNoHorizontalScroll(page);
        await assertNothingCutShort(page, `the ${tab} tab`);
        await assertAccessible(page, `the ${tab} tab`);
      }

      // The example ships analyses of each main kind; each result fits.
      await tabs(page).getByRole("button", { name: "Analysis" }).click();
      const entries = page.locator("[data-testid=analysis-entry]");
      await until(async () => (await entries.count()) === 4, "the example's four analyses");
      const titles = await entries.locator(".analysis-title").allTextContents();
      assert.deepEqual(titles, [
        "Linear regression explaining variation in Temperature",
        "Bivariate analysis of Temperature and Wind",
        "One-way ANOVA of Temperature by Month.",
        "Two way table of frequencies for DayType and Month",
      ]);
      for (let i = 0; i < titles.length; i++) {
        const opener = entries.nth(i).locator("button.row-text");
        await opener.click();
        const view = page.locator("[data-testid=analysis-view]");
        await view.locator(".layout-view .result-title").waitFor({ timeout: 30000 });
        // Opened with its variables chosen, its settings are one line above the result.
        const line = view.locator("[data-testid=settings-summary]");
        await line.waitFor();
        assert.equal(await view.locator("[data-testid=analysis-settings]").count(), 0, "the settings folded");
        await shot(page, viewport, `shell-result-${i + 1}`);
        await assertNoHorizontalScroll(page);
        await assertNothingCutShort(page, titles[i]);
        await assertChartTextReadable(page, titles[i]);
        await assertAccessible(page, titles[i]);
        // A wide table scrolls in its own box with its first column kept.
        const sticky = await view.locator("table.result-table tbody tr:first-child > :first-child").first().evaluate((c) => getComputedStyle(c).position);
        assert.equal(sticky, "sticky");
        // Scrolled sideways, a table too wide for its box keeps its first column where it was.
        const kept = await view.locator(".result-table-scroll").evaluateAll((boxes) =>
          boxes
            .filter((b) => b.scrollWidth > b.clientWidth)
            .map((b) => {
              const first = b.querySelector("tbody tr > :first-child");
              const before = first.getBoundingClientRect().left;
              b.scrollLeft = 60;
              const moved = first.getBoundingClientRect().left - before;
              b.scrollLeft = 0;
              return b.scrollWidth > b.clientWidth && moved === 0;
            }),
        );
        assert.ok(kept.every((k) => k), `${titles[i]}: a wide table's first column scrolled away`);
        // On a phone the ANOVA's tables are wider than the screen.
        if (touch && i === 2) assert.ok(kept.length > 0, "no wide table on the phone");
        if (i === 3) {
          // A tap opens them again, the keyboard on their first control.
          await line.click();
          await view.locator("[data-testid=analysis-settings]").waitFor();
          await until(() => focusInside(page, "[data-testid=analysis-settings]"), "the focus on the opened settings");
          await assertSegmentsApart(page, "Calculate percentages by", titles[i]);
          await shot(page, viewport, "shell-result-4-settings");
          await assertNoHorizontalScroll(page);
          await assertAccessible(page, `the settings of ${titles[i]}`);
        }
        // Esc closes the result and gives the focus back to its entry.
        await page.keyboard.press("Escape");
        await page.locator("[data-testid=analysis-view]").waitFor({ state: "detached" });
        assert.equal(await focusInside(page, "[data-testid=analysis-entry]"), true, "focus back on the list");
      }

      // A new analysis shows its settings open until its variables are
      // chosen, and is listed only once they are.
      await page.getByRole("button", { name: "New Analysis" }).click();
      const created = page.waitForResponse((r) => r.url().endsWith("/api/analyses") && r.request().method() === "POST");
      await page.locator("[data-testid=analysis-menu] button.row").filter({ hasText: /^Hypothesis test of means/ }).click();
      const createdId = (await (await created).json()).id;
      await page.locator("[data-testid=analysis-settings]").waitFor();
      await assertSegmentsApart(page, "Test of", "a new test of means");
      await assertSegmentsApart(page, "Alternative hypothesis is", "a new test of means");
      await assertNoHorizontalScroll(page);
      await assertAccessible(page, "a new test of means");
      await page.keyboard.press("Escape");
      await page.locator("[data-testid=analysis-view]").waitFor({ state: "detached" });
      await page.waitForTimeout(300);
      assert.equal(await entries.count(), 4, "an analysis without variables is not listed");
      // Nor kept: closed before its variables were chosen, it is gone from the workspace.
      const status = () => page.evaluate(async (id) => (await fetch(`/api/analyses/${id}`)).status, createdId);
      await until(async () => (await status()) === 404, "the analysis left without variables deleted");

      // A variable's detail: its charts and figures fit too.
      await tabs(page).getByRole("button", { name: "Variables" }).click();
      const ozone = page.locator("[data-testid=variable-card]").filter({ has: page.getByRole("button", { name: "Open detail of Ozone" }) });
      await ozone.locator(".card-open").click();
      await page.locator("[data-testid=detail] .chart-svg svg").first().waitFor({ timeout: 30000 });
      await shot(page, viewport, "shell-detail");
      await assertNoHorizontalScroll(page);
      await assertNothingCutShort(page, "the detail of Ozone");
      await assertChartTextReadable(page, "the detail of Ozone");
      await assertAccessible(page, "the detail of Ozone");
      await page.keyboard.press("Escape");
      await page.locator("[data-testid=detail]").waitFor({ state: "detached" });
    });

    it("gives each variable card one tab stop and opens it with Enter", async () => {
      await tabs(page).getByRole("button", { name: "Variables" }).click();
      const cards = page.locator("[data-testid=variable-card]");
      await cards.nth(1).waitFor();
      await cards.first().focus();
      await page.keyboard.press("Tab");
      // Tab leaves the card for the next card, past its buttons.
      assert.equal(await page.evaluate(() => document.activeElement?.dataset.testid), "variable-card");
      assert.equal(await cards.nth(1).evaluate((c) => c === document.activeElement), true);
      // The arrows walk the card's own controls (its glossary links among them).
      await page.keyboard.press("ArrowDown");
      assert.equal(await focusedLabel(page), `Open detail of ${await cards.nth(1).locator(".card-open").textContent()}`);
      await page.keyboard.press("Escape");
      await page.keyboard.press("Enter");
      await page.locator("[data-testid=detail]").waitFor();
      await page.keyboard.press("Escape");
      await page.locator("[data-testid=detail]").waitFor({ state: "detached" });
    });

    it("keeps the focus inside a sheet, closes it with Esc and gives the focus back", async () => {
      await tabs(page).getByRole("button", { name: "Browse" }).click();
      const filterButton = page.getByRole("button", { name: "Filter Wind", exact: true });
      await filterButton.click();
      const sheet = page.getByRole("dialog").filter({ has: page.locator("#filter-title") });
      await sheet.waitFor();
      await until(() => focusInside(page, "[role=dialog]"), "the sheet to take the focus");
      for (let i = 0; i < 12; i++) {
        await page.keyboard.press(i % 4 === 3 ? "Shift+Tab" : "Tab");
        assert.equal(await focusInside(page, "[role=dialog]"), true, `Tab ${i + 1} left the sheet`);
      }
      // A constant Wind cannot read: Apply is off and says why; no preview.
      await sheet.locator("[data-testid=filter-constant]").fill("1,5x");
      await sheet.locator("[data-testid=filter-reason]").filter({ hasText: "1,5x is not a number" }).waitFor();
      assert.equal(await sheet.locator("[data-testid=filter-apply]").isDisabled(), true);
      assert.equal(await sheet.locator("[data-testid=filter-summary]").count(), 0);
      assert.notEqual(await sheet.locator("[data-testid=filter-apply]").evaluate((b) => getComputedStyle(b).color), await sheet.getByRole("button", { name: "Cancel" }).evaluate((b) => getComputedStyle(b).color));
      await shot(page, viewport, "shell-filter-refused");
      await assertAccessible(page, "the filter sheet");
      await sheet.locator("[data-testid=filter-constant]").fill("15");
      await sheet.locator("[data-testid=filter-summary]").filter({ hasText: "15" }).waitFor();
      assert.equal(await sheet.locator("[data-testid=filter-apply]").isDisabled(), false);
      await page.keyboard.press("Escape");
      await sheet.waitFor({ state: "detached" });
      assert.equal(await focusedLabel(page), "Filter Wind");
    });

    it("moves through the grid with Enter, Tab and the arrow keys, browsing and editing", async () => {
      const grid = page.locator("[data-testid=grid]");
      await grid.locator("tbody tr[data-row='1'] > [data-col='1']").click();
      assert.deepEqual(await focusedCell(page), [1, 1, "TD"]);
      await page.keyboard.press("ArrowDown");
      await page.keyboard.press("ArrowRight");
      assert.deepEqual(await focusedCell(page), [2, 2, "TD"]);
      await page.keyboard.press("Enter");
      await page.keyboard.press("ArrowLeft");
      assert.deepEqual(await focusedCell(page), [3, 1, "TD"]);
      await page.keyboard.press("ArrowUp");
      assert.deepEqual(await focusedCell(page), [2, 1, "TD"]);

      await page.locator("[data-testid=edit-toggle]").click();
      await grid.locator("input.cell-input").first().waitFor();
      assert.equal(await page.locator("thead input.name-input").nth(2).getAttribute("aria-label"), "Name of variable 3");
      await grid.locator("tbody tr[data-row='1'] > [data-col='0'] input").focus();
      assert.equal(await focusedLabel(page), "Date, row 1");
      await page.keyboard.press("Enter");
      assert.deepEqual(await focusedCell(page), [2, 0, "INPUT"]);
      await page.keyboard.press("Tab");
      assert.deepEqual(await focusedCell(page), [2, 1, "INPUT"]);
      await page.keyboard.press("ArrowUp");
      assert.deepEqual(await focusedCell(page), [1, 1, "INPUT"]);
      // Left and right move the caret inside a field until it reaches an end.
      await page.keyboard.press("End");
      await page.keyboard.press("ArrowLeft");
      assert.deepEqual(await focusedCell(page), [1, 1, "INPUT"]);
      await page.keyboard.press("End");
      await page.keyboard.press("ArrowRight");
      assert.deepEqual(await focusedCell(page), [1, 2, "INPUT"]);
      await shot(page, viewport, "shell-grid-editing");
      await page.locator("[data-testid=edit-toggle]").click();
      await grid.locator("input.cell-input").first().waitFor({ state: "detached", timeout: 30000 });
    });

    it("passes axe-core on every sheet, each closing with Esc", async () => {
      // Each: the tab, the button that opens the sheet, the sheet's heading.
      for (const [tab, opener, heading] of [
        ["Workspaces", () => page.getByRole("button", { name: "Create a new empty workspace." }), "Create New Workspace"],
        ["Variables", () => page.getByRole("button", { name: "Add Variable" }), null],
        ["Analysis", () => page.getByRole("button", { name: "New Analysis" }), "New Analysis"],
        ["About", () => page.locator("[data-testid=open-glossary]"), null],
      ]) {
        const asked = tab === "Workspaces" ? page.waitForResponse((r) => r.url().includes("/api/help/import")) : null;
        await tabs(page).getByRole("button", { name: tab }).click();
        if (asked && (await (await asked).json()).show) {
          await page.getByRole("alertdialog").getByRole("button", { name: "OK", exact: true }).click();
          await page.getByRole("alertdialog").waitFor({ state: "detached" });
        }
        await opener().click();
        const sheet = page.getByRole("dialog");
        await sheet.waitFor();
        if (heading) await sheet.getByRole("heading", { name: heading }).waitFor();
        await until(() => focusInside(page, "[role=dialog]"), `the ${tab} sheet to take the focus`);
        await shot(page, viewport, `shell-sheet-${tab.toLowerCase()}`);
        await assertNoHorizontalScroll(page);
        await assertNothingCutShort(page, `the ${tab} sheet`);
        await assertAccessible(page, `the ${tab} sheet`);
        await page.keyboard.press("Escape");
        await sheet.waitFor({ state: "detached" });
      }
    });

    it("says what Share saved where the browser cannot share files", async () => {
      await tabs(page).getByRole("button", { name: "Analysis" }).click();
      await page.locator("[data-testid=analysis-entry] button.row-text").first().click();
      const downloads = [];
      const listen = (d) => downloads.push(d);
      page.on("download", listen);
      await page.locator("[data-testid=analysis-share]:not([disabled])").click({ timeout: 30000 });
      const note = page.locator("[data-testid=toast]");
      await note.waitFor({ timeout: 30000 });
      page.off("download", listen);
      assert.match(await note.textContent(), /^Saved Linear regression .*\.pdf and .*\.csv to your downloads folder\.$/);
      await page.keyboard.press("Escape");
      await page.locator("[data-testid=analysis-view]").waitFor({ state: "detached" });
    });

    it("opens the installed shell without its server and says how to start it", async () => {
      await until(() => page.evaluate(() => !!navigator.serviceWorker?.controller), "the service worker to take the page", 30000);
      await server.stop();
      // The page still open: the requests of a tab change fail together and
      // say so once.
      await tabs(page).getByRole("button", { name: "Variables" }).click();
      const failed = page.getByRole("alertdialog").filter({ hasText: "The server could not be reached." });
      await failed.waitFor();
      await page.waitForTimeout(500);
      await failed.getByRole("button", { name: "OK" }).click();
      await failed.waitFor({ state: "detached" });
      await page.waitForTimeout(500);
      assert.equal(await page.getByRole("alertdialog").count(), 0, "a second alert for the same failure");
      await page.reload();
      const offline = page.locator("[data-testid=offline]");
      await offline.getByRole("heading", { name: "The Tabulix server is not reachable" }).waitFor();
      assert.match(await offline.textContent(), /tabulix serve/);
      // One plain page, no pile of alerts.
      assert.equal(await page.getByRole("alertdialog").count(), 0);
      await shot(page, viewport, "shell-offline");
      await assertNoHorizontalScroll(page);
      await assertAccessible(page, "the offline page");
      // API answers were never kept: the status is not served from the cache.
      const cached = await page.evaluate(async () => {
        const names = await caches.keys();
        const urls = [];
        for (const n of names) for (const r of await (await caches.open(n)).keys()) urls.push(new URL(r.url).pathname);
        return urls;
      });
      assert.ok(cached.includes("/"), "the page is kept");
      assert.deepEqual(cached.filter((u) => u.startsWith("/api/")), []);
    });
  });
}
