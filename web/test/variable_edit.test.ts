import { describe, expect, it } from "vitest";
import { parseRowList } from "../src/screens/browse";
import { noConstant } from "../src/screens/filter_editor";
import { whereText } from "../src/screens/detail";

describe("managing variables and rows", () => {
  it("reads rows to delete as numbers and ranges, or refuses the whole text", () => {
    expect(parseRowList("3, 7-9,3")).toEqual([3, 7, 8, 9]);
    expect(parseRowList(" 12 - 13 ,")).toEqual([12, 13]);
    for (const bad of ["", " , ", "0", "2-", "9-7", "a", "1.5", "1-200000"]) expect(parseRowList(bad)).toBeNull();
  });

  it("writes the missing operators without a value", () => {
    expect(noConstant(20) && noConstant(21) && !noConstant(10) && !noConstant(4)).toBe(true);
    expect(whereText({ colNum: 0, op: 20, constant: "ignored" }, "Ozone")).toBe("Ozone is missing");
    expect(whereText({ colNum: 0, op: 21 }, "Ozone")).toBe("Ozone is not missing");
  });
});
