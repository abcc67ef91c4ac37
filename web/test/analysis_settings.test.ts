import { describe, expect, it } from "vitest";
import { levelInForce, requestOf, type Definition } from "../src/screens/analysis_settings";

const v = (num: number, name: string) => ({ num, name, type: "Numeric" as any });

function definition(kind: string, extra: Partial<Definition> = {}): Definition {
  return {
    id: 1,
    type: 5,
    distribution: 0,
    kind,
    built: true,
    displayStyle: "",
    title: "",
    description: "",
    filterLine: "",
    left: v(3, "Ozone"),
    right: v(4, "Wind"),
    columns: [v(5, "Temperature"), v(6, "SolarRadiation")],
    wheres: [{ colNum: 1, op: 4, constant: "May" }],
    wheres2: [{ colNum: 1, op: 4, constant: "June" }],
    settings: { tails: "2", expected: "40" },
    twoWayPercAgg: 0,
    twoWayPercDisplay: 1,
    includeMissing: false,
    expected: 40,
    ...extra,
  };
}

describe("the request that computes a definition", () => {
  it("sends each kind only the variables and filters it takes", () => {
    // A regression refuses a second variable; the others refuse explanatory ones.
    const linear = requestOf(definition("linear"), "linear", "box", null);
    expect(linear.columns).toEqual([5, 6]);
    expect("right" in linear).toBe(false);
    expect("wheres2" in linear).toBe(false);
    const correlation = requestOf(definition("correlation"), "correlation", "box", null);
    expect(correlation.right).toBe(4);
    expect("columns" in correlation).toBe(false);
    expect("wheres2" in correlation).toBe(false);
    const summarize = requestOf(definition("summarize"), "summarize", "density", null);
    expect((summarize.settings as Record<string, string>).view).toBe("density");
  });

  it("sends a test its second filter and the expected value as saved, or as typed", () => {
    const saved = requestOf(definition("means"), "means", "box", null);
    expect(saved.wheres2).toEqual([{ colNum: 1, op: 4, constant: "June" }]);
    expect(saved.settings).toEqual({ tails: "2", expected: "40" });
    // A typed text replaces the saved value, even an empty one (the server
    // then asks for a value).
    for (const text of ["41.5", ""]) {
      const typed = requestOf(definition("means"), "means", "box", text);
      expect(typed.settings).toEqual({ tails: "2", expected: text });
    }
    // The definition's own settings are never changed.
    const d = definition("proportions");
    requestOf(d, "proportions", "box", "0.5");
    expect(d.settings).toEqual({ tails: "2", expected: "40" });
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
