// @vitest-environment happy-dom
import { beforeEach, describe, expect, it } from "vitest";
import { GlossaryButton, GlossaryHost, TermLabel } from "../src/components/glossary";
import { click, mount, press, stubFetch, texts, type, waitFor } from "./dom";

const titles: Record<string, string> = { mean: "Mean", median: "Median", sd: "Standard Deviation" };
const termsOf = (keys: string[]) => ({ terms: keys.map((key) => ({ key, title: titles[key] ?? key })) });

// The glossary routes: the list (with keys and search) and one term's page.
function glossaryRoute(method: string, url: string): [number, unknown] | undefined {
  const u = new URL(url, "http://host");
  if (method !== "GET") return undefined;
  if (u.pathname === "/api/glossary") {
    const keys = u.searchParams.get("keys")?.split(",") ?? Object.keys(titles);
    const search = (u.searchParams.get("search") ?? "").toLowerCase();
    return [200, termsOf(keys.filter((k) => (titles[k] ?? k).toLowerCase().includes(search)))];
  }
  const m = /^\/api\/glossary\/terms\/(\w+)$/.exec(u.pathname);
  if (m && titles[m[1]]) return [200, { key: m[1], title: titles[m[1]], text: "", html: `<p class="page">About ${m[1]}</p>` }];
  return undefined;
}

beforeEach(() => history.replaceState(null, "", "#/"));

describe("glossary sheet", () => {
  it("opens a figure's term page, goes back to the screen's terms and closes", async () => {
    const seen = stubFetch(glossaryRoute);
    const root = mount(
      <>
        <TermLabel term="sd" terms={["mean", "sd"]}>
          Std Dev
        </TermLabel>
        <GlossaryHost />
      </>,
    );
    click(".term-label", root);
    await waitFor(() => root.querySelector(".page"));
    expect(root.querySelector("#glossary-title")?.textContent).toBe("Standard Deviation");
    expect(root.querySelector("[data-testid=term-text]")?.innerHTML).toContain("About sd");

    click(".back-button", root);
    await waitFor(() => root.querySelector("[data-testid=glossary-terms]"));
    expect(texts("[data-testid=glossary-terms] .row-text", root)).toEqual(["Mean", "Standard Deviation"]);
    expect(seen.map((r) => r.url)).toContain("/api/glossary?keys=mean%2Csd");

    click("[data-term=mean].row", root);
    await waitFor(() => root.querySelector(".page")?.textContent === "About mean");
    press("Escape");
    expect(root.querySelector(".sheet")).toBeNull();
  });

  it("shows only the answer to the latest search", async () => {
    const seen = stubFetch((method, url) => (url.includes("search=") ? "hold" : glossaryRoute(method, url)));
    const root = mount(
      <>
        <GlossaryButton terms={["mean", "median", "sd"]} />
        <GlossaryHost />
      </>,
    );
    click(".icon-button", root);
    await waitFor(() => root.querySelectorAll("[data-testid=glossary-terms] li").length === 3);
    const input = root.querySelector(".search-input");
    type(input, "m");
    const slow = await waitFor(() => seen.find((r) => r.url.includes("search=m") && !r.url.includes("search=me")));
    type(input, "me");
    const fast = await waitFor(() => seen.find((r) => r.url.includes("search=me")));
    fast.answer(200, termsOf(["mean", "median"]));
    await waitFor(() => root.querySelectorAll("[data-testid=glossary-terms] li").length === 2);
    // The older request answers last; its list must not replace the newer one.
    slow.answer(200, termsOf(["sd"]));
    await new Promise((r) => setTimeout(r, 50));
    await waitFor(() => root.querySelector("[data-testid=glossary-terms]"));
    expect(texts("[data-testid=glossary-terms] .row-text", root)).toEqual(["Mean", "Median"]);
  });

  it("opens from the location and leaves the location at its tab when closed", async () => {
    stubFetch(glossaryRoute);
    history.replaceState(null, "", "#/variables/glossary/median");
    const root = mount(<GlossaryHost />);
    await waitFor(() => root.querySelector(".page")?.textContent === "About median");
    click(".sheet-header .text-button", root);
    expect(root.querySelector(".sheet")).toBeNull();
    expect(location.hash).toBe("#/variables");
  });

  it("says so when the server cannot be reached", async () => {
    stubFetch(() => [500, { error: "internal" }]);
    const root = mount(
      <>
        <TermLabel term="nosuch">x</TermLabel>
        <GlossaryHost />
      </>,
    );
    click(".term-label", root);
    await waitFor(() => root.querySelector(".empty-row"));
    expect(root.querySelector(".empty-row")?.textContent).toBe("The server could not be reached.");
  });
});
