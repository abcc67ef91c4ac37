import { describe, expect, it } from "vitest";
import { chartBoxWidth, chartUnits } from "../src/components/chart_size";
import { forPointer, setTable, t } from "../src/i18n";

describe("chart drawing width", () => {
  it("keeps the smallest (8-unit) labels at 11 px or more in every box, drawing at 360 units where that suffices", () => {
    for (const [viewport, wide] of [
      [360, false],
      [390, false],
      [767, false],
      [768, true],
      [1024, true],
      [1440, true],
    ] as const) {
      const box = chartBoxWidth(viewport, wide);
      const units = chartUnits(box);
      expect((box / units) * 8).toBeGreaterThanOrEqual(11);
      expect(units).toBeLessThanOrEqual(360);
    }
    expect(chartUnits(chartBoxWidth(1440, true))).toBe(360);
    expect(chartUnits(chartBoxWidth(390, false))).toBeLessThan(300);
    // A box too narrow for any readable chart is drawn at the narrowest
    // width the server draws; a 320 px phone keeps its 9-unit labels at 11 px.
    expect(chartUnits(100)).toBe(200);
    expect((chartBoxWidth(320, false) / chartUnits(chartBoxWidth(320, false))) * 9).toBeGreaterThanOrEqual(11);
  });
});

describe("tips for the pointer in use", () => {
  it("say Click without a touch screen when the table has that wording, else keep Tap", () => {
    expect(forPointer("Tap to edit or enter data", false)).toBe("Click to edit or enter data");
    expect(forPointer("Tap to edit or enter data", true)).toBe("Tap to edit or enter data");
    expect(forPointer("Tap nowhere in particular", false)).toBe("Tap nowhere in particular");
    expect(forPointer("Taper", false)).toBe("Taper");
    setTable({ "Click to start a new analysis": "Cliquez pour commencer une analyse" });
    expect(t(forPointer("Tap to start a new analysis", false))).toBe("Cliquez pour commencer une analyse");
    setTable({});
  });
});
