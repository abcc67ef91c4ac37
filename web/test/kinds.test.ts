// @vitest-environment happy-dom
import { afterEach, describe, expect, it, vi } from "vitest";
import { settingValue, storedForm, type SettingDescription } from "../src/kinds";
import { stubFetch } from "./dom";

afterEach(() => vi.unstubAllGlobals());

describe("the kinds' descriptions", () => {
  it("are asked for once for the page, and again only after a failed request", async () => {
    // A fresh module each time: the descriptions are kept in it.
    vi.resetModules();
    const { loadKinds } = await import("../src/kinds");
    let fail = true;
    const seen = stubFetch((_m, url) =>
      url.endsWith("/api/kinds") ? (fail ? [500, { error: "internal" }] : [200, [{ name: "twoway" }]]) : undefined,
    );
    await expect(loadKinds()).rejects.toBeTruthy();
    fail = false;
    const [a, b] = await Promise.all([loadKinds(), loadKinds()]);
    expect(await loadKinds()).toBe(a);
    expect(b).toBe(a);
    expect(a.map((k) => k.name)).toEqual(["twoway"]);
    expect(seen.map((r) => r.url.replace(/^.*\/api/, "/api"))).toEqual(["/api/kinds", "/api/kinds"]);
  });

  it("read a setting where its field keeps it and store it in the form the server takes", () => {
    const s = (over: Partial<SettingDescription>): SettingDescription => ({
      key: "k",
      type: "choice",
      default: "0",
      label: "",
      help: "",
      ...over,
    });
    const def = { tails: 2, includeMissing: true, test: null, settings: { expected: "3,5" } };
    expect(settingValue(s({ field: "tails" }), def, {})).toBe("2");
    expect(settingValue(s({ field: "includeMissing", type: "flag" }), def, {})).toBe("1");
    // Cleared (null) or never stored: the default.
    expect(settingValue(s({ field: "test", default: "" }), def, {})).toBe("");
    expect(settingValue(s({ field: "expected", type: "text" }), def, {})).toBe("3,5");
    // Not stored: the page's own choice, else the default.
    expect(settingValue(s({ key: "view", default: "box" }), def, { view: "density" })).toBe("density");
    expect(settingValue(s({ key: "view", default: "box" }), def, {})).toBe("box");
    expect(storedForm(s({ values: ["0", "1", "2"] }), "2")).toBe(2);
    expect(storedForm(s({ values: ["1", "2", "related"] }), "related")).toBe("related");
    expect(storedForm(s({ type: "flag", values: ["0", "1"] }), "0")).toBe(false);
    expect(storedForm(s({ type: "text" }), "12")).toBe("12");
  });
});
