import { describe, expect, it } from "vitest";
import { deriveStatus, previewLine, readConstant, type DeriveState, type Transformation } from "../src/screens/derive";

const tr = (code: number, usesX: boolean, usesY: boolean, usesC: boolean, preview: string): Transformation => ({
  code,
  category: 0,
  label: "",
  usesX,
  usesY,
  usesC,
  preview,
  note: "",
});
const log = tr(300, true, false, false, "%@ = log(%@)");
const div = tr(311, true, false, true, "%@ = %@ / %@");
const sum = tr(316, true, true, false, "%@ = %@ + %@");
const abs = tr(338, true, false, false, "%@ = |x|");
const base: DeriveState = { name: "r", equation: 300, x: null, y: null, c: null };

describe("derived-variable editor", () => {
  it("reads constants with a point whatever the locale", () => {
    expect(readConstant("2.5")).toBe(2.5);
    expect(readConstant("-.5")).toBe(-0.5);
    expect(readConstant("1e3")).toBe(1000);
    for (const bad of ["", "abc", "1,5", "1.2.3", "Infinity", "NaN", " 2", "-", ".", "0x10"]) expect(readConstant(bad)).toBeNull();
  });

  it("shows the first status that applies, in order", () => {
    const names = ["Ozone"];
    expect(deriveStatus({ ...base, name: "" }, log, names)).toBe("Please provide a name for the new variable");
    expect(deriveStatus({ ...base, name: "Ozone" }, log, names)).toBe("Another variable already exists with the name Ozone");
    expect(deriveStatus({ ...base, name: "ozone" }, log, names)).toBe("Please select a variable to transform");
    const x = { id: 1, name: "Ozone" };
    expect(deriveStatus({ ...base, x }, log, names)).toBe("");
    expect(deriveStatus({ ...base, equation: 311, x }, div, names)).toBe("Please enter a numerical constant");
    expect(deriveStatus({ ...base, equation: 311, x, c: 0 }, div, names)).toBe("Make constant non-zero for division");
    expect(deriveStatus({ ...base, equation: 316, x }, sum, names)).toBe("Please select a variable to transform");
  });

  it("fills the preview with the name, then the inputs used or their letters", () => {
    const x = { id: 1, name: "Ozone" };
    expect(previewLine({ ...base, name: "" }, log)).toBe("x = log(x)");
    expect(previewLine({ ...base, x }, log)).toBe("r = log(Ozone)");
    expect(previewLine({ ...base, x, c: 0.25 }, div)).toBe("r = Ozone / 0.25");
    expect(previewLine({ ...base, x }, div)).toBe("r = Ozone / c");
    expect(previewLine({ ...base, x }, sum)).toBe("r = Ozone + y");
    expect(previewLine({ ...base, x }, abs)).toBe("r = |x|");
  });
});
