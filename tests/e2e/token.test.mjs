// The access token in headless Chromium: a browser without it is told in
// words how to get in, and the address `tabulix serve` printed lets it in.
import assert from "node:assert/strict";
import { after, before, describe, it } from "node:test";
import { startBrowser, startServer, viewports } from "./harness.mjs";

describe("Access token", () => {
  let server, browser;
  before(async () => {
    server = await startServer();
    browser = await startBrowser(viewports[0]);
  });
  after(async () => {
    await browser?.close();
    await server?.stop();
  });

  it("explains how to get in without the token, and lets the printed address in", async () => {
    assert.ok(server.token.length === 64, "the printed address carries a token");
    const page = await browser.context.newPage();
    const answer = await page.goto(server.url);
    assert.equal(answer.status(), 401);
    const text = await page.locator("body").innerText();
    assert.match(text, /Access token required/);
    assert.match(text, /Open the address that tabulix serve printed/);
    const api = await page.evaluate(async () => (await fetch("/api/status")).status);
    assert.equal(api, 401);

    await page.goto(server.tokenUrl);
    assert.equal(new URL(page.url()).search, "", "the token leaves the address bar");
    await page.locator("nav.tabbar").waitFor();
    const cookies = await browser.context.cookies(server.url);
    const cookie = cookies.find((c) => c.name === "tabulix_token");
    assert.ok(cookie?.httpOnly && cookie.sameSite === "Strict");
    assert.equal(await page.evaluate(async () => (await fetch("/api/status")).status), 200);
  });
});
