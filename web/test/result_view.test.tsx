// @vitest-environment happy-dom
import { describe, expect, it, vi } from "vitest";
import { ResultView } from "../src/components/result_view";
import type { Computed, LayoutElement } from "../src/components/layout_view";
import { click, mount, texts, waitFor } from "./dom";

const at: [number, number, number, number] = [0, 0, 100, 20];
const computed = (command?: string): Computed => ({
  result: command === undefined ? {} : { command },
  layout: {
    kind: "container",
    frame: at,
    children: [
      { kind: "label", role: "title", frame: at, text: "Correlation" },
      { kind: "container", role: "block", frame: at, children: [{ kind: "label", frame: at, text: "R²: 0.49", term: "r2" }] },
    ] as LayoutElement[],
  },
  charts: [],
  baseName: "x",
  id: "7",
});

describe("result view", () => {
  it("says it is calculating, or shows the validity message, until a result comes", () => {
    const waiting = mount(<ResultView computed={null} error={null} terms={[]} wide={false} />);
    expect(texts(".layout-view p", waiting)).toEqual(["Calculating..."]);
    const refused = mount(<ResultView computed={null} error="Choose two variables." terms={[]} wide={false} />);
    expect(texts(".layout-view p", refused)).toEqual(["Choose two variables."]);
    expect(refused.querySelector(".result-error")).not.toBeNull();
  });

  it("shows the result with the command line, which Copy puts on the clipboard", async () => {
    const writeText = vi.fn(() => Promise.resolve());
    vi.stubGlobal("navigator", { clipboard: { writeText } });
    const root = mount(<ResultView computed={computed("tabulix analyze w.tbx correlation")} error={null} terms={["r2"]} wide />);
    expect(texts(".result-title", root)).toEqual(["Correlation"]);
    expect(root.querySelector(".loading")).toBeNull();
    expect(texts("[data-testid=result-command] code", root)).toEqual(["tabulix analyze w.tbx correlation"]);
    // Without a glossary handler the figures do not link and there is no glossary link.
    expect(root.querySelector(".term-link")).toBeNull();
    expect(root.querySelector(".link-button")).toBeNull();
    click("[data-testid=result-command] button", root);
    expect(writeText).toHaveBeenCalledWith("tabulix analyze w.tbx correlation");
    await waitFor(() => root.querySelector("[data-testid=result-command] button")?.textContent === "Copied");
    // A result without a command has no command line.
    expect(mount(<ResultView computed={computed()} error={null} terms={[]} wide />).querySelector("[data-testid=result-command]")).toBeNull();
  });

  it("links the figures to the glossary, with a glossary link on a phone only", () => {
    const onGlossary = vi.fn();
    const phone = mount(<ResultView computed={computed()} error={null} terms={["r2"]} wide={false} onGlossary={onGlossary} />);
    click(".term-link", phone);
    click(".link-button", phone);
    expect(onGlossary.mock.calls).toEqual([["r2"], []]);
    expect(texts(".link-button", phone)).toEqual(["Glossary of Terms"]);
    const tablet = mount(<ResultView computed={computed()} error={null} terms={["r2"]} wide onGlossary={onGlossary} />);
    expect(tablet.querySelector(".term-link")).not.toBeNull();
    expect(tablet.querySelector(".link-button")).toBeNull();
  });
});
