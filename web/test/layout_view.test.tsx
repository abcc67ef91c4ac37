// @vitest-environment happy-dom
import { describe, expect, it, vi } from "vitest";
import { LayoutView, type Computed, type LayoutElement } from "../src/components/layout_view";
import { click, mount, texts } from "./dom";

const at: [number, number, number, number] = [0, 0, 100, 20];
const label = (text: string, extra: Partial<LayoutElement> = {}): LayoutElement => ({ kind: "label", frame: at, text, ...extra });
const block = (...children: LayoutElement[]): LayoutElement => ({ kind: "container", role: "block", frame: at, children });
const chart = (title: string): LayoutElement => ({ kind: "chart", frame: at, title });
const row = (...cells: LayoutElement[]): LayoutElement => ({ kind: "container", frame: at, children: cells });
const table = (...rows: LayoutElement[]): LayoutElement => ({ kind: "table", role: "coefficients", frame: at, children: rows });

function computed(children: LayoutElement[], charts: string[] = []): Computed {
  return { result: {}, layout: { kind: "container", frame: at, children }, charts, baseName: "x", id: "1" };
}

describe("result layout on screen", () => {
  it("keeps the layout's order, grouping adjacent blocks and adjacent charts", () => {
    const root = mount(
      <LayoutView
        computed={computed(
          [
            label("Regression", { role: "title" }),
            block(label("N: 10")),
            block(label("R²: 0.5")),
            chart("Residuals"),
            label("hidden note", { hidden: true }),
            chart("Fitted"),
            label("Coefficients", { role: "heading" }),
            block(label("after")),
          ],
          ["<svg id='first'/>", "<svg id='second'/>"],
        )}
      />,
    );
    const view = root.querySelector(".layout-view")!;
    expect([...view.children].map((c) => c.className)).toEqual([
      "result-title",
      "figure-blocks",
      "result-charts",
      "result-heading",
      "figure-blocks",
    ]);
    expect(view.querySelectorAll(".figure-blocks")[0].children).toHaveLength(2);
    // Charts take the SVGs in order even with a hidden element between them.
    const figures = [...view.querySelectorAll("figure.result-chart")];
    expect(figures.map((f) => f.getAttribute("data-title"))).toEqual(["Residuals", "Fitted"]);
    expect(figures.map((f) => f.querySelector("svg")?.id)).toEqual(["first", "second"]);
    expect(view.textContent).not.toContain("hidden note");
  });

  it("draws a table with a header row, row headers and aligned numbers", () => {
    const root = mount(
      <LayoutView
        computed={computed([
          table(
            row(label(""), label("Estimate", { align: "right" })),
            row(label("Wind", { bold: true }), label("-5.73", { align: "right" })),
            row(label("plain"), label("x", { align: "centre" })),
          ),
        ])}
      />,
    );
    const t = root.querySelector("table.result-table")!;
    expect(t.getAttribute("data-role")).toBe("coefficients");
    expect(texts("thead th", t)).toEqual(["", "Estimate"]);
    expect(t.querySelector("thead th.num")?.textContent).toBe("Estimate");
    const body = [...t.querySelectorAll("tbody tr")];
    expect(body).toHaveLength(2);
    expect(body[0].querySelector("th[scope=row]")?.textContent).toBe("Wind");
    expect(body[0].querySelector("td.num")?.textContent).toBe("-5.73");
    // A cell that is not bold stays a data cell.
    expect(body[1].querySelector("th")).toBeNull();
    expect(body[1].querySelector("td.centre")?.textContent).toBe("x");
  });

  it("links a figure's label to its glossary term, only for terms the glossary has", () => {
    const onTerm = vi.fn();
    const root = mount(
      <LayoutView
        computed={computed([
          block(
            label("Mean: 3.25", { term: "mean" }),
            label("t = 2.1", { term: "tstat" }),
            label("Skewness", { term: "skew" }),
            label("Odd: 1", { term: "unknown" }),
            label(""),
          ),
          label("Std Dev: 2", { role: "heading", term: "sd" }),
        ])}
        onTerm={onTerm}
        terms={["mean", "tstat", "skew", "sd"]}
      />,
    );
    expect(texts(".term-link", root)).toEqual(["Mean", "t", "Skewness", "Std Dev"]);
    const lines = [...root.querySelectorAll("p.figure")];
    expect(lines.map((p) => p.textContent)).toEqual(["Mean: 3.25", "t = 2.1", "Skewness", "Odd: 1"]);
    expect(lines[3].querySelector("button")).toBeNull();
    expect(root.querySelectorAll(".figure-gap")).toHaveLength(1);
    click(root.querySelectorAll(".term-link")[1]);
    click("h3 .term-link", root);
    expect(onTerm.mock.calls).toEqual([["tstat"], ["sd"]]);
  });

  it("shows plain text without a term handler", () => {
    const root = mount(<LayoutView computed={computed([block(label("Mean: 3", { term: "mean" })), label("x: 1", { term: "mean" })])} />);
    expect(root.querySelector("button")).toBeNull();
    expect(texts("p", root)).toEqual(["Mean: 3", "x: 1"]);
  });
});
