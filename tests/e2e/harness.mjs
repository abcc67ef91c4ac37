// Starts `tabulix serve` on a fresh documents folder and Debian's headless
// Chromium through playwright-core, and keeps screenshots as artifacts.
import { mkdirSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { after, before } from "node:test";
import { spawn, spawnSync } from "node:child_process";
import { chromium } from "playwright-core";

const here = dirname(fileURLToPath(import.meta.url));
export const root = resolve(here, "../..");
export const binary = process.env.TABULIX_BIN ?? join(root, "build/release/cli/tabulix");
export const webDir = process.env.TABULIX_WEB_DIR ?? join(root, "web/dist");
export const artifacts = process.env.TABULIX_E2E_ARTIFACTS ?? join(here, "artifacts");
export const chromiumPath = process.env.TABULIX_CHROMIUM ?? "/usr/bin/chromium";

export const viewports = [
  { name: "phone", width: 390, height: 844 },
  { name: "tablet", width: 1024, height: 1366 },
];

const chromiumFlags = [
  "--headless",
  "--no-sandbox",
  "--disable-gpu",
  "--disable-quic",
  "--no-first-run",
  "--disable-background-networking",
  "--disable-component-update",
  "--disable-sync",
  // Headless Chromium's print preview crashes the page when a framed PDF
  // asks to print (the result screens' Print); without it print() returns.
  "--disable-print-preview",
];

// A server on a free loopback port; `documents` is its folder.
export async function startServer() {
  const base = mkdtempSync(join(tmpdir(), "tabulix-e2e-"));
  const documents = join(base, "docs");
  mkdirSync(documents);
  const child = spawn(binary, ["serve", "--documents", documents, "--port", "0", "--web", webDir, "--locale", "en_US"], {
    env: { ...process.env, TABULIX_CONFIG_DIR: join(base, "config"), ASAN_OPTIONS: "detect_leaks=0" },
    stdio: ["ignore", "pipe", "pipe"],
  });
  let stderr = "";
  child.stderr.on("data", (d) => (stderr += d));
  const url = await new Promise((ok, fail) => {
    let out = "";
    const timer = setTimeout(() => fail(new Error(`server did not start: ${stderr}`)), 15000);
    child.stdout.on("data", (d) => {
      out += d;
      const m = out.match(/Open (http:\/\/\S+)/);
      if (m) {
        clearTimeout(timer);
        ok(m[1]);
      }
    });
    child.on("exit", (code) => fail(new Error(`server exited with ${code}: ${stderr}`)));
  });
  // The printed address carries the access token; the tests' browsers get
  // it as the cookie it is traded for, and use the plain address.
  const printed = new URL(url);
  const token = printed.searchParams.get("token") ?? "";
  return {
    url: `${printed.origin}/`,
    tokenUrl: url,
    token,
    documents,
    base,
    logs: () => stderr,
    async stop() {
      child.kill("SIGTERM");
      await new Promise((r) => (child.exitCode !== null ? r() : child.on("exit", r)));
      rmSync(base, { recursive: true, force: true });
    },
  };
}

// A browser with a fresh profile at one viewport size; `locale` sets its
// language (navigator.language and Accept-Language).
export async function startBrowser(viewport, { locale } = {}) {
  const profile = mkdtempSync(join(tmpdir(), "tabulix-chromium-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    args: chromiumFlags,
    viewport: { width: viewport.width, height: viewport.height },
    deviceScaleFactor: 1,
    isMobile: false,
    hasTouch: viewport.name === "phone",
    ...(locale ? { locale } : {}),
  });
  return {
    context,
    async close() {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Saves a screenshot under artifacts/<viewport>/<name>.png.
export async function shot(page, viewport, name) {
  const dir = join(artifacts, viewport.name);
  mkdirSync(dir, { recursive: true });
  await page.screenshot({ path: join(dir, `${name}.png`) });
}

// Fails when the page scrolls sideways (the grid scrolls inside its own area).
export async function assertNoHorizontalScroll(page) {
  const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
  if (overflow > 0) throw new Error(`the page scrolls sideways by ${overflow}px`);
}

// Gives the browser the server's token cookie, as opening the printed
// address would (HttpOnly, SameSite=Strict).
export async function letIn(browser, server) {
  if (!server.token) return;
  await browser.context.addCookies([
    { name: "tabulix_token", value: server.token, url: server.url, httpOnly: true, sameSite: "Strict" },
  ]);
}

// One server and one browser page for the tests of a describe block: both
// started before its tests and closed after them. `ready` receives
// { server, browser, page } once they are up; `locale` sets the browser's
// language.
export function useSession(viewport, ready, { locale } = {}) {
  let server, browser;
  before(async () => {
    server = await startServer();
    browser = await startBrowser(viewport, { locale });
    await letIn(browser, server);
    const page = await browser.context.newPage();
    page.on("pageerror", (e) => console.error("page error:", e.message));
    ready({ server, browser, page });
  });
  after(async () => {
    await browser?.close();
    await server?.stop();
  });
}

// Copies the example workspace into the server's documents folder as `name`;
// `{ analyses: false }` leaves out the analyses saved in it, for tests that
// count the ones they make.
export function addExample(server, name = "example.tbx", { analyses = true } = {}) {
  const target = join(server.documents, name);
  const r = spawnSync(binary, ["example", target], { encoding: "utf8" });
  if (r.status !== 0) throw new Error(`tabulix example failed: ${r.stderr}`);
  if (analyses) return;
  const list = spawnSync(binary, ["analyses", target], { encoding: "utf8" });
  if (list.status !== 0) throw new Error(`tabulix analyses failed: ${list.stderr}`);
  for (const a of JSON.parse(list.stdout)) {
    const d = spawnSync(binary, ["analyses", target, "--delete", String(a.id)], { encoding: "utf8" });
    if (d.status !== 0) throw new Error(`tabulix analyses --delete failed: ${d.stderr}`);
  }
}

// Polls `check` (the page's policy forbids evaluated code, so waiting is
// done from the test) until it holds; fails naming `what` after `timeout` ms.
export async function until(check, what, timeout = 15000) {
  const end = Date.now() + timeout;
  while (Date.now() < end) {
    if (await check()) return;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error(`timed out waiting for ${what}`);
}

// Goes to the Workspaces tab and closes the import help when it shows by
// itself there (the page asks the server whether to show it on each visit).
export async function openWorkspacesTab(page, url) {
  const target = `${url}#/workspaces`;
  // Going to the URL the page already shows changes nothing: no visit, no question.
  if (page.url() === target) await page.goto("about:blank");
  const asked = page.waitForResponse((r) => r.url().includes("/api/help/import"));
  await page.goto(target);
  const help = await (await asked).json();
  await page.getByRole("heading", { name: "Workspaces", exact: true }).waitFor();
  if (help.show) {
    const a = page.getByRole("alertdialog");
    await a.getByRole("button", { name: "OK", exact: true }).click();
    await a.waitFor({ state: "detached" });
  }
}

// Opens a workspace of the documents folder and waits for its grid.
export async function openWorkspace(page, url, name = "example.tbx") {
  await openWorkspacesTab(page, url);
  await page.locator(`[data-testid=workspace-list] button.row[data-name='${name}']`).click();
  await page.locator("[data-testid=grid] tbody tr").first().waitFor();
}

// Checks the title of the alert on screen, presses one of its buttons and
// returns its message.
export async function answerAlert(page, title, button) {
  const a = page.getByRole("alertdialog");
  await a.waitFor({ timeout: 30000 });
  const shown = await a.locator("h2").textContent();
  if (shown !== title) throw new Error(`expected the alert "${title}", got "${shown}"`);
  const message = await a.locator("p").first().textContent();
  await a.getByRole("button", { name: button, exact: true }).click();
  await a.waitFor({ state: "detached" });
  return message;
}
