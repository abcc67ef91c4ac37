import { describe, expect, it } from "vitest";
import { levelInForce } from "../src/screens/analysis_settings";

describe("the level coded 1", () => {
  it("is the stored level while the variable has it, else the last", () => {
    expect(levelInForce(["no", "yes"], "no")).toBe("no");
    expect(levelInForce(["no", "yes"], undefined)).toBe("yes");
    expect(levelInForce(["no", "yes"], "maybe")).toBe("yes");
    expect(levelInForce([], "no")).toBe("");
  });
});
