// What a phone user waits for on 100,000 rows, in headless Chromium at
// 390 x 844: for every analysis kind, the time from the tap that opens a
// saved analysis, and from the last change of a setting, to its result drawn
// (its charts in the page). The variable detail is timed from the tap on its
// card. Each figure is the median of RUNS (default 5) runs; the load average
// is printed beside them. Not a test: the machine's load decides the figures.
//   (cd tests/e2e && npm ci)   once, for playwright-core
//   node bench/browser_results.mjs [BINARY]   (default build/release/cli/tabulix)
import {spawnSync} from "node:child_process";
import {writeFileSync} from "node:fs";
import {loadavg} from "node:os";
import {join} from "node:path";

if (process.argv[2]) process.env.TABULIX_BIN = process.argv[2];
const {binary, letIn, openWorkspace, startBrowser, startServer, viewports} =
    await import("../tests/e2e/harness.mjs");
const {openSettings, segment} = await import("../tests/e2e/analysis_steps.mjs");

const runs = Number(process.env.RUNS ?? 5);
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

// The same rows as bench/analysis_payload.sh: x y z numeric, flag 0/1, group g0/g1, band b0..b3.
function rowsCsv() {
  let seed = 5;
  const rand = () => ((seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648);
  const lines = ["x,y,z,flag,group,band"];
  for (let i = 1; i <= 100000; i++) {
    const x = rand() * 100, z = rand() * 10;
    const y = 3 + 0.5 * x - 2 * z + 20 * (rand() - 0.5);
    lines.push(`${x.toFixed(4)},${y.toFixed(4)},${z.toFixed(4)},${y + 30 * (rand() - 0.5) > 25 ? 1 : 0},g${
        i % 2},b${Math.floor(rand() * 4)}`);
  }
  return lines.join("\n") + "\n";
}

// kind, its `tabulix analyze` options, and a setting to change: [segment group, two values to alternate].
const kinds = [
  ["correlation", ["--left", "x", "--right", "y"], null],
  ["linear", ["--left", "y", "--columns", "x,z"], null],
  ["logistic", ["--left", "flag", "--columns", "x,z"], null],
  [
    "means", ["--left", "x", "--set", "expected=50"],
    ["Alternative hypothesis is", ["One tail less", "Two tails"]]
  ],
  [
    "means", ["--left", "x", "--right", "z", "--set", "samples=2"],
    ["Alternative hypothesis is", ["One tail less", "Two tails"]]
  ],
  [
    "proportions", ["--left", "flag", "--set", "expected=0.5"],
    ["Alternative hypothesis is", ["One tail less", "Two tails"]]
  ],
  [
    "ranks", ["--left", "x", "--set", "expected=50"],
    ["Alternative hypothesis is", ["One tail less", "Two tails"]]
  ],
  ["summarize", ["--left", "x", "--right", "band"], ["Pairwise comparisons:", ["Tukey", "None"]]],
  ["twoway", ["--left", "group", "--right", "band"], ["Calculate percentages by ", ["Row", "Cell"]]],
];

const run = (args) => {
  const r = spawnSync(binary, args, {encoding: "utf8"});
  if (r.status !== 0) throw new Error(`tabulix ${args.join(" ")}: ${r.stderr}`);
  return r.stdout;
};

const server = await startServer();
const browser = await startBrowser(viewports[0]);
try {
  await letIn(browser, server);
  const csv = join(server.documents, "rows.csv");
  writeFileSync(csv, rowsCsv());
  const ws = join(server.documents, "rows.tbx");
  run(["--locale", "en_US", "import", csv, "-o", ws, "--delimiter", "comma", "--decimal", "."]);
  for (const [kind, options] of kinds) run(["analyze", ws, kind, ...options, "--save"]);
  const saved = JSON.parse(run(["analyses", ws])).reverse();  // oldest first, as saved above

  const page = await browser.context.newPage();
  await openWorkspace(page, server.url, "rows.tbx");
  // Waits until a chart drawn after the last `mark` is in the page.
  const drawn = async (what) => {
    const end = Date.now() + 60000;
    while (Date.now() < end) {
      if (await page.locator(".chart-svg svg:not([data-old])").count()) return;
      await page.waitForTimeout(5);
    }
    throw new Error(`no result drawn for ${what}`);
  };
  const mark = () => page.evaluate(
      () => document.querySelectorAll(".chart-svg svg").forEach((s) => s.setAttribute("data-old", "")));

  const rows = [];
  // The variable detail, from the tap on its card.
  {
    const times = [];
    for (let i = 0; i < runs; i++) {
      await page.locator("nav").getByRole("button", {name: "Variables"}).click();
      const card = page.locator("[data-testid=variable-card]").filter({
        has: page.getByRole("button", {name: "Open detail of x"})
      });
      await card.waitFor();
      const t0 = Date.now();
      await card.locator(".card-open").click();
      await drawn("the detail of x");
      times.push(Date.now() - t0);
      await page.getByRole("button", {name: "Close", exact: true}).first().click();
      await page.locator("[data-testid=detail]").waitFor({state: "detached"});
    }
    rows.push(["detail", median(times), null]);
  }
  await page.locator("nav").getByRole("button", {name: "Analysis"}).click();
  const entries = page.locator("[data-testid=analysis-entry]");
  await entries.first().waitFor();
  for (let k = 0; k < kinds.length; k++) {
    const [kind, , setting] = kinds[k];
    const title = saved[k].title;
    const opens = [], changes = [];
    for (let i = 0; i < runs; i++) {
      const entry = entries.filter({hasText: title}).first();
      const t0 = Date.now();
      await entry.locator("button").first().click();
      await drawn(title);
      opens.push(Date.now() - t0);
      if (setting) {
        await openSettings(page);
        for (const value of setting[1]) {
          await mark();
          const t1 = Date.now();
          await segment(page, setting[0], value).click();
          await drawn(`${title}: ${value}`);
          changes.push(Date.now() - t1);
        }
      }
      await page.getByRole("button", {name: "Close", exact: true}).first().click();
      await page.locator("[data-testid=analysis-view]").waitFor({state: "detached"});
    }
    rows.push([
      kind + (kind === "means" && saved[k].title.includes("two sample") ? "2" : ""), median(opens),
      changes.length ? median(changes) : null
    ]);
  }
  console.log(
      `load: ${loadavg().map((l) => l.toFixed(2)).join(" ")}, phone 390 x 844, ${runs} runs (medians)`);
  console.log("kind           open→drawn ms   setting→drawn ms");
  for (const [kind, open, change] of rows)
    console.log(`${kind.padEnd(15)}${String(open).padStart(10)}   ${
        change === null ? "           —" : String(change).padStart(12)}`);
} finally {
  await browser.close();
  await server.stop();
}
