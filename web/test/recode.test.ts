import { describe, expect, it } from "vitest";
import { moved } from "../src/components/level_order";
import { recodeBody, splitList } from "../src/screens/recode";

const age = { num: 3, name: "age", numeric: true };

describe("recode editor", () => {
  it("splits lists on commas, keeping escaped ones", () => {
    expect(splitList(" 18, 30 ,50")).toEqual(["18", "30", "50"]);
    expect(splitList("a\\,b,c")).toEqual(["a,b", "c"]);
    expect(splitList("  ")).toEqual([]);
  });

  it("builds the request or says what is missing", () => {
    expect(recodeBody(null, "breaks", "18", "", [], "").status).toBe("Please choose a variable to recode");
    expect(recodeBody(age, "breaks", "18, 30", "", [], "young, mid, old").body).toEqual({
      x: 3,
      method: "breaks",
      breaks: [18, 30],
      labels: ["young", "mid", "old"],
    });
    // A number is read with a point; an empty item or a comma decimal is refused.
    for (const bad of ["", "18,,30", "1e", "0x10", "abc"]) expect(recodeBody(age, "breaks", bad, "", [], "").body).toBeUndefined();
    expect(recodeBody(age, "quantiles", "", "4", [], "").body).toEqual({ x: 3, method: "quantiles", groups: 4 });
    expect(recodeBody(age, "bins", "", "2.5", [], "").body).toBeUndefined();
    // A mapping sends every pair and never labels.
    const map = [{ from: "a", to: "x" }, { from: "b", to: "b" }];
    expect(recodeBody(age, "map", "", "", map, "ignored").body).toEqual({ x: 3, method: "map", map: [["a", "x"], ["b", "b"]] });
  });

  it("moves a level to its new place", () => {
    expect(moved(["a", "b", "c", "d"], 3, 1)).toEqual(["a", "d", "b", "c"]);
    expect(moved(["a", "b", "c"], 0, 2)).toEqual(["b", "c", "a"]);
  });
});
