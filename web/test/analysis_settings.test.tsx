// @vitest-environment happy-dom
import { describe, expect, it, vi } from "vitest";
import { hasItsChoices, levelInForce, settingsLine, SettingsPanel, type Definition, type Levels } from "../src/screens/analysis_settings";
import type { KindDescription } from "../src/kinds";
import { click, mount, texts, type } from "./dom";
// The kinds as the server describes them (`tabulix analyze W.tbx --kinds`).
import described from "./kinds.json";

const kinds = described as KindDescription[];
const kindNamed = (name: string) => kinds.find((k) => k.name === name)!;

const def = (over: Partial<Definition> = {}): Definition => ({
  id: 1,
  type: 0,
  distribution: null,
  kind: null,
  built: true,
  displayStyle: "",
  title: "",
  description: "",
  filterLine: "",
  left: null,
  right: null,
  columns: [],
  wheres: [],
  wheres2: [],
  settings: {},
  twoWayPercAgg: 0,
  twoWayPercDisplay: 1,
  includeMissing: false,
  ...over,
});

// Mounts the panel of `kind` (a name or a description) with spies for everything it asks of its screen.
function panel(kind: string | KindDescription, over: Partial<Definition> = {}, levels: Levels | null = null, extra: Record<string, string> = {}) {
  const description = typeof kind === "string" ? kindNamed(kind) : kind;
  const actions = { choose: vi.fn(), setColumns: vi.fn(), store: vi.fn(), filterSecond: vi.fn(), chooseGroup: vi.fn() };
  const setExtra = vi.fn();
  const onExpected = vi.fn();
  const root = mount(
    <SettingsPanel
      def={def({ kind: description.name, ...over })}
      kind={description}
      levels={levels}
      extra={extra}
      setExtra={setExtra}
      onExpected={onExpected}
      actions={actions}
    />,
  );
  // The segmented control labelled `label`, its buttons and the pressed one.
  const group = (label: string) => {
    const g = root.querySelector(`[role=group][aria-label="${label}"]`);
    if (!g) throw new Error(`no group ${label}`);
    const buttons = [...g.querySelectorAll<HTMLButtonElement>("button")];
    return { buttons, pressed: buttons.filter((b) => b.getAttribute("aria-pressed") === "true").map((b) => b.textContent) };
  };
  const pick = (label: string, choice: string) => click(group(label).buttons.find((b) => b.textContent === choice)!);
  return { root, actions, setExtra, onExpected, group, pick };
}

const groups = (root: HTMLElement) => [...root.querySelectorAll("[role=group]")].map((g) => g.getAttribute("aria-label"));
const lines = (root: HTMLElement) => texts(".setting-line > span:first-child", root);

describe("the settings panel shows each kind's controls", () => {
  it.each([
    ["summarize", {}, ["Choose Numeric Variable", "Choose Categorical Variable"], ["Pairwise comparisons:"], ["View", "Pairwise comparisons:"]],
    [
      "twoway",
      {},
      ["Choose Variable", "Choose Variable"],
      ["Calculate percentages by ", "Include missing values:", "Adjusted residuals:"],
      ["Calculate percentages by "],
    ],
    ["correlation", {}, ["Choose variable x...", "Choose variable y..."], ["x:", "y:"], []],
    ["linear", {}, ["Choose Variable...", "Choose Variables..."], ["Dependent variable:", "Independent variables:"], []],
    ["logistic", {}, ["Choose Variable...", "Choose Variables..."], ["Dependent variable:", "Independent variables:"], []],
    [
      "means",
      { samples: 1 },
      ["Choose Variable..."],
      ["compare sample", "to value", "Alternative hypothesis is"],
      ["Test of", "Samples", "Alternative hypothesis is"],
    ],
    [
      "means",
      { samples: 2 },
      ["Choose Variable...", "Choose Variable..."],
      ["compare sample 1", "to sample 2", "Sample 2 filter:", "Alternative hypothesis is"],
      ["Test of", "Samples", "Alternative hypothesis is"],
    ],
    [
      "proportions",
      { samples: 1 },
      ["Choose Variable..."],
      ["compare sample", "to value", "Alternative hypothesis is", "Test:"],
      ["Test of", "Samples", "Alternative hypothesis is"],
    ],
  ])("%s %o", (kind, over, buttons, labels, segments) => {
    // Every text the panel looks up, the descriptions' labels too, is in the table.
    const warn = vi.spyOn(console, "warn");
    const { root } = panel(kind, over);
    expect(warn.mock.calls.filter((c) => c[0] === "untranslated text:")).toEqual([]);
    warn.mockRestore();
    expect(texts("button[data-position]", root)).toEqual(buttons);
    expect(lines(root)).toEqual(labels);
    expect(groups(root)).toEqual(segments);
    expect(root.querySelector("[data-testid=include-missing]") !== null).toBe(kind === "twoway");
    expect(root.querySelector("[data-testid=expected-value]") !== null).toBe(labels.includes("to value"));
    expect(root.querySelector("[data-testid=test-choice]") !== null).toBe(kind === "proportions");
    expect(root.querySelector("[data-testid=regressors]") !== null).toBe(kind === "linear" || kind === "logistic");
  });

  it("names the chosen variables on their buttons and asks for a position's choices on a tap", () => {
    const { root, actions } = panel("correlation", { left: { num: 3, name: "Ozone", type: "Numeric" } as any });
    expect(texts("button[data-position]", root)).toEqual(["Ozone", "Choose variable y..."]);
    click("button[data-position='2']", root);
    click("button[data-position='1']", root);
    expect(actions.choose.mock.calls).toEqual([[2], [1]]);
  });
});

describe("the settings panel stores what the user changes", () => {
  it("post-hoc comparisons and adjusted residuals go with the compute, not to the store", () => {
    const anova = panel("summarize", {}, null, { postHoc: "tukey" });
    expect(anova.group("Pairwise comparisons:").pressed).toEqual(["Tukey"]);
    anova.pick("Pairwise comparisons:", "Games–Howell");
    const table = panel("twoway");
    expect(table.root.querySelector<HTMLInputElement>("[data-testid=residuals]")!.checked).toBe(false);
    click("[data-testid=residuals]", table.root);
    expect([...anova.setExtra.mock.calls, ...table.setExtra.mock.calls]).toEqual([
      ["postHoc", "gamesHowell"],
      ["residuals", "1"],
    ]);
    expect(anova.actions.store).not.toHaveBeenCalled();
    expect(table.actions.store).not.toHaveBeenCalled();
    expect(panel("twoway", {}, null, { residuals: "1" }).root.querySelector<HTMLInputElement>("[data-testid=residuals]")!.checked).toBe(true);
  });

  it("two-way table: the percentage base, None, and the missing values switch", () => {
    const { root, actions, group, pick } = panel("twoway", { twoWayPercAgg: 2, twoWayPercDisplay: 1 });
    expect(group("Calculate percentages by ").pressed).toEqual(["Column"]);
    pick("Calculate percentages by ", "Row");
    pick("Calculate percentages by ", "Cell");
    pick("Calculate percentages by ", "None");
    click("[data-testid=include-missing]", root);
    expect(actions.store.mock.calls).toEqual([
      [{ twoWayPercAgg: 1, twoWayPercDisplay: 1 }],
      [{ twoWayPercAgg: 0, twoWayPercDisplay: 1 }],
      [{ twoWayPercAgg: 0, twoWayPercDisplay: 0 }],
      [{ includeMissing: true }],
    ]);
    // Percentages not shown press None whatever the stored base.
    const hidden = panel("twoway", { twoWayPercAgg: 1, twoWayPercDisplay: 0, includeMissing: true });
    expect(hidden.group("Calculate percentages by ").pressed).toEqual(["None"]);
    expect(hidden.root.querySelector<HTMLInputElement>("[data-testid=include-missing]")!.checked).toBe(true);
    click("[data-testid=include-missing]", hidden.root);
    expect(hidden.actions.store).toHaveBeenCalledWith({ includeMissing: false });
  });

  it("test of means: distribution, samples, tails and the expected value", () => {
    const { root, actions, onExpected, group, pick } = panel("means", { samples: 1, tails: 2, settings: { expected: "3,5" } });
    expect(group("Test of").pressed).toEqual(["Means"]);
    expect(group("Samples").pressed).toEqual(["One sample"]);
    expect(group("Alternative hypothesis is").pressed).toEqual(["One tail greater"]);
    // The alternatives as a number line, whatever the description's order.
    expect(group("Alternative hypothesis is").buttons.map((b) => b.textContent)).toEqual(["One tail less", "Two tails", "One tail greater"]);
    expect(root.querySelector<HTMLInputElement>("[data-testid=expected-value]")!.value).toBe("3,5");
    pick("Test of", "Proportions");
    pick("Samples", "Paired samples");
    pick("Samples", "Two samples");
    pick("Samples", "One sample");
    pick("Alternative hypothesis is", "One tail less");
    pick("Alternative hypothesis is", "Two tails");
    expect(actions.store.mock.calls).toEqual([
      [{ distribution: 2 }],
      [{ samples: 2, isPaired: true }],
      [{ samples: 2, isPaired: false }],
      [{ samples: 1, isPaired: false }],
      [{ tails: 1 }],
      [{ tails: 0 }],
    ]);
    // The expected value goes to the screen as typed; the screen stores it.
    type(root.querySelector("[data-testid=expected-value]"), "4.");
    expect(onExpected).toHaveBeenCalledWith("4.");
    expect(actions.store).toHaveBeenCalledTimes(6);
  });

  it("two and paired samples: the pressed segment and the second sample's filter", () => {
    const two = panel("means", { samples: 2, isPaired: false, wheres2Text: "Filters: sex = F" });
    expect(two.group("Samples").pressed).toEqual(["Two samples"]);
    expect(two.group("Alternative hypothesis is").pressed).toEqual(["Two tails"]);
    expect(texts("[data-testid=second-filter]", two.root)).toEqual(["Filters: sex = F"]);
    click("[data-testid=second-filter]", two.root);
    expect(two.actions.filterSecond).toHaveBeenCalledTimes(1);
    expect(texts("[data-testid=second-filter]", panel("proportions", { samples: 2 }).root)).toEqual(["No filters"]);
    // Paired samples are the same rows: neither a second filter nor an expected value.
    const paired = panel("means", { samples: 2, isPaired: true });
    expect(paired.group("Samples").pressed).toEqual(["Paired samples"]);
    expect(lines(paired.root)).toEqual(["compare sample 1", "to sample 2", "Alternative hypothesis is"]);
  });

  it("tests on ranks: related samples take a list, two samples a grouping variable", () => {
    const related = panel("ranks", { samples: 3 });
    expect(related.group("Samples").pressed).toEqual(["Related samples"]);
    // Friedman's test has no direction and no expected value.
    expect(lines(related.root)).toEqual(["Related variables:"]);
    const left = { num: 0, name: "breaks", type: 3 };
    const two = panel("ranks", { samples: 2, left, right: left, group: { num: 1, name: "wool", type: 1 } });
    expect(texts("[data-testid=group-by]", two.root)).toEqual(["wool"]);
    click("[data-testid=group-by]", two.root);
    expect(two.actions.chooseGroup).toHaveBeenCalledTimes(1);
    two.pick("Samples", "Related samples");
    two.pick("Samples", "Paired samples");
    expect(two.actions.store.mock.calls).toEqual([[{ samples: "related" }], [{ samples: 2, isPaired: true }]]);
    // A test of proportions compares levels, not a grouped variable.
    expect(panel("proportions", { samples: 2, left }).root.querySelector("[data-testid=group-by]")).toBeNull();
  });

  it("test of proportions: the levels coded 1 and the test", () => {
    const { root, actions, group } = panel(
      "proportions",
      { samples: 2, test: 4, settings: { rightLevel1: "F" } },
      { left: ["no", "yes"], right: ["F", "M"] },
    );
    expect(group("Test of").pressed).toEqual(["Proportions"]);
    expect(texts("[data-testid=level-left]", root)).toEqual(["yes"]);
    expect(texts("[data-testid=level-right]", root)).toEqual(["F"]);
    expect(texts("[data-testid=test-choice]", root)).toEqual(["McNemar's test"]);
    click("[data-testid=level-left]", root);
    expect(texts("[data-testid=level-left-list] button", root)).toEqual(["no", "yes"]);
    click(root.querySelectorAll("[data-testid=level-left-list] button")[0]);
    expect(root.querySelector("[data-testid=level-left-list]")).toBeNull();
    click("[data-testid=level-right]", root);
    click(root.querySelectorAll("[data-testid=level-right-list] button")[1]);
    click("[data-testid=test-choice]", root);
    expect(texts("[data-testid=test-choice-list] button", root)).toEqual([
      "Determined by data",
      "Exact binomial testOne sample",
      "Chi-squared testTwo samples",
      "McNemar's testPaired samples",
    ]);
    click(root.querySelectorAll("[data-testid=test-choice-list] button")[1]);
    click("[data-testid=test-choice]", root);
    click(root.querySelectorAll("[data-testid=test-choice-list] button")[0]);
    expect(actions.store.mock.calls).toEqual([[{ leftLevel1: "no" }], [{ rightLevel1: "M" }], [{ test: 2 }], [{ test: null }]]);
    // No test stored: the data determine it; the binomial test's title has a capital B.
    expect(texts("[data-testid=test-choice]", panel("proportions", { samples: 1 }).root)).toEqual(["Determined by data"]);
    expect(texts("[data-testid=test-choice]", panel("proportions", { samples: 1, test: 2 }).root)).toEqual(["Exact Binomial test"]);
  });

  it("logistic regression: the dependent's level coded 1 and the regressors' chips", () => {
    const cols = [
      { num: 2, name: "age" },
      { num: 5, name: "dose" },
    ] as Definition["columns"];
    const { root, actions } = panel("logistic", { columns: cols }, { left: ["alive", "dead"], right: null });
    expect(texts("[data-testid=level-left]", root)).toEqual(["dead"]);
    expect(root.querySelector("[data-testid=level-right]")).toBeNull();
    expect(texts(".regressor", root)).toEqual(["age×", "dose×"]);
    click(root.querySelectorAll(".chip-remove")[0]);
    expect(actions.setColumns).toHaveBeenCalledWith([5]);
    click("button[data-position='3']", root);
    expect(actions.choose).toHaveBeenCalledWith(3);
    // A linear regression has no level to choose.
    expect(panel("linear", {}, { left: ["a", "b"], right: null }).root.querySelector("[data-testid=level-left]")).toBeNull();
  });

  it("one-way ANOVA: the view is the screen's, not stored", () => {
    expect(panel("summarize").group("View").pressed).toEqual(["Box Plot"]);
    const { actions, setExtra, group, pick } = panel("summarize", {}, null, { view: "density" });
    expect(group("View").pressed).toEqual(["Density Plot"]);
    pick("View", "Box Plot");
    expect(setExtra).toHaveBeenCalledWith("view", "box");
    expect(actions.store).not.toHaveBeenCalled();
  });

  it("draws a kind it has never heard of from its description alone", () => {
    const made: KindDescription = {
      name: "madeUp",
      positions: [{ key: "left", label: "Outcome:", minimum: 1, maximum: 1, types: [3], option: "--left" }],
      settings: [
        {
          key: "method",
          type: "choice",
          values: ["0", "1", "2"],
          valueLabels: ["Plain", "Robust", "Bootstrap"],
          default: "0",
          label: "Method",
          help: "",
          field: "method",
        },
        { key: "trim", type: "flag", values: ["0", "1"], default: "1", label: "Trim outliers", help: "", field: "trim" },
        { key: "shade", type: "choice", values: ["light", "dark"], valueLabels: ["Light", "Dark"], default: "dark", label: "Shade", help: "" },
      ],
      secondFilter: false,
      saved: true,
      type: 9,
      distribution: null,
      title: "Made up",
    };
    // Stored values come from the definition's field, in its own settings when it has no field of that name.
    const { root, actions, setExtra, group, pick } = panel(made, { settings: { method: "1", trim: "0" } });
    expect(texts("button[data-position]", root)).toEqual(["Choose Variable..."]);
    expect(lines(root)).toEqual(["Outcome:", "Method", "Trim outliers", "Shade"]);
    expect(group("Method").pressed).toEqual(["Robust"]);
    expect(group("Shade").pressed).toEqual(["Dark"]);
    const trim = root.querySelector<HTMLInputElement>("[data-testid=trim]")!;
    expect(trim.checked).toBe(false);
    pick("Method", "Bootstrap");
    click(trim);
    pick("Shade", "Light");
    // Codes go to the store as numbers, flags as booleans; a setting without a field stays the page's.
    expect(actions.store.mock.calls).toEqual([[{ method: 2 }], [{ trim: true }]]);
    expect(setExtra.mock.calls).toEqual([["shade", "light"]]);
    // Nothing stored: the description's defaults.
    const fresh = panel(made);
    expect(fresh.group("Method").pressed).toEqual(["Plain"]);
    expect(fresh.root.querySelector<HTMLInputElement>("[data-testid=trim]")!.checked).toBe(true);
  });
});

describe("the level coded 1", () => {
  it("is the stored level while the variable has it, else the last", () => {
    expect(levelInForce(["no", "yes"], "no")).toBe("no");
    expect(levelInForce(["no", "yes"], undefined)).toBe("yes");
    expect(levelInForce(["no", "yes"], "maybe")).toBe("yes");
    expect(levelInForce([], "no")).toBe("");
  });
});

describe("the settings fold to one line once the choices are made", () => {
  const v = (num: number, name: string) => ({ num, name, type: "Numeric" }) as any;
  it("only when the kind has every variable it needs, and a one-sample test its expected value", () => {
    const cases: [string, Partial<Definition>, boolean][] = [
      ["twoway", { left: v(1, "Month") }, false],
      ["twoway", { left: v(1, "Month"), right: v(2, "DayType") }, true],
      ["linear", { left: v(1, "Ozone") }, false],
      ["linear", { left: v(1, "Ozone"), columns: [v(2, "Wind")] }, true],
      ["means", { samples: 1, left: v(1, "Ozone") }, false],
      ["means", { samples: 1, left: v(1, "Ozone"), settings: { expected: "40" } }, true],
      ["means", { samples: 2, left: v(1, "Ozone") }, false],
      ["means", { samples: 2, left: v(1, "Ozone"), group: v(3, "DayType") }, true],
      // Paired samples need the second variable itself.
      ["means", { samples: 2, isPaired: true, left: v(1, "Ozone"), group: v(3, "DayType") }, false],
      ["ranks", { samples: 3, columns: [v(1, "a"), v(2, "b")] }, false],
      ["ranks", { samples: 3, columns: [v(1, "a"), v(2, "b"), v(3, "c")] }, true],
    ];
    for (const [kind, over, done] of cases) expect([kind, over, hasItsChoices(kind, def({ kind, ...over }))]).toEqual([kind, over, done]);
  });

  it("the line names the variables, then the choices that shape the result", () => {
    expect(settingsLine(kindNamed("summarize"), def({ left: v(1, "Ozone"), right: v(2, "Month") }), { view: "density", postHoc: "tukey" })).toBe(
      "Ozone, Month · Density Plot · Tukey",
    );
    expect(settingsLine(kindNamed("twoway"), def({ left: v(1, "Month"), right: v(2, "DayType"), twoWayPercAgg: 2 }), { residuals: "1" })).toBe(
      "Month, DayType · Calculate percentages by Column",
    );
    expect(settingsLine(kindNamed("means"), def({ samples: 1, tails: 2, left: v(1, "Ozone"), settings: { expected: "40" } }))).toBe(
      "Ozone · One sample · to value 40 · One tail greater",
    );
    expect(settingsLine(kindNamed("ranks"), def({ samples: 2, left: v(1, "Ozone"), right: v(1, "Ozone"), group: v(3, "DayType") }))).toBe(
      "Ozone, DayType · Two samples · Two tails",
    );
    expect(settingsLine(kindNamed("linear"), def({ left: v(1, "Ozone"), columns: [v(2, "Wind"), v(3, "Temp")] }))).toBe("Ozone, Wind, Temp");
  });
});
