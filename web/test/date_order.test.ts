import { describe, expect, it } from "vitest";
import { firstDateFields, localeOrder, looksLikeDate, orderEvidence, orderFor, readDate } from "../src/date_order";
import { datePreview } from "../src/screens/new_workspace";

describe("dates in text files, as the import reads them", () => {
  it("reads A/B/C in the chosen order and refuses impossible parts", () => {
    expect(readDate("05/03/2024", "dmy")).toEqual({ year: 2024, month: 3, day: 5 });
    expect(readDate("05/03/2024", "mdy")).toEqual({ year: 2024, month: 5, day: 3 });
    expect(readDate("13/05/2024", "mdy")).toBeNull(); // month 13
    expect(readDate("31/13/1999 23:59", "dmy")).toBeNull();
    expect(readDate("29.02.2023", "dmy")).toBeNull(); // no leap year
    expect(readDate("29-02-2024", "dmy")).toEqual({ year: 2024, month: 2, day: 29 });
    expect(readDate("05/03/2024", "ymd")).toBeNull(); // year first takes a two-digit year
    expect(readDate("24/05/13", "ymd", 2026)).toEqual({ year: 2024, month: 5, day: 13 });
    // Two-digit years fall within the 80 years before and the 20 after now.
    expect(readDate("1/2/45", "mdy", 2026)?.year).toBe(2045);
    expect(readDate("1/2/46", "mdy", 2026)?.year).toBe(1946);
    // A four-digit year first reads year, month, day whatever the order.
    for (const o of ["dmy", "mdy", "ymd"] as const) expect(readDate("2024-03-05", o)).toEqual({ year: 2024, month: 3, day: 5 });
    expect(readDate("5/3/123", "dmy")).toBeNull();
  });

  it("settles automatic order on the first field above 12, else the locale's", () => {
    expect(orderEvidence("13/05/2024")).toBe("dmy");
    expect(orderEvidence("05/13/2024")).toBe("mdy");
    expect(orderEvidence("05/03/2024")).toBeNull();
    expect(orderEvidence("2024-05-13")).toBeNull();
    expect(orderEvidence("32/05/2024")).toBeNull();
    const rows = [["05/03/2024", "1"], ["x", "13/05/2024"], ["05/14/2024"]];
    expect(orderFor("auto", rows, "mdy")).toBe("dmy");
    expect(orderFor("auto", [["05/03/2024"]], "mdy")).toBe("mdy");
    expect(orderFor("auto", [["05/03/2024"]], "dmy")).toBe("dmy");
    expect(orderFor("ymd", rows, "mdy")).toBe("ymd");
    expect(localeOrder("en-US")).toBe("mdy");
    expect(localeOrder("de-DE")).toBe("dmy");
    expect(localeOrder("ja-JP")).toBe("ymd");
  });

  it("speaks about fields that start with a numeric date only", () => {
    expect(looksLikeDate("05/03/2024 10:30")).toBe(true);
    expect(looksLikeDate("2024-03-05T10:30")).toBe(true);
    for (const f of ["1.2.3.4", "v2.0.1", "1.5", "05/03", "05/03/2024x", "3/5/123"]) expect(looksLikeDate(f)).toBe(false);
    expect(firstDateFields([["a", "05/03/2024"], ["05/03/2024", "1.2.3"], ["13/05/2024"], ["1/1/24"], ["2/2/24"]])).toEqual([
      "05/03/2024",
      "13/05/2024",
      "1/1/24",
    ]);
  });

  it("previews the first dates of the sheet's lines under the chosen order", () => {
    const lines = ["d,v", "05/03/2024,1", "13/05/2024,2"];
    expect(datePreview(lines, ",", true, "dmy", "mdy", "en-GB")).toEqual([
      "05/03/2024 reads as 5 March 2024",
      "13/05/2024 reads as 13 May 2024",
    ]);
    expect(datePreview(lines, ",", true, "mdy", "mdy", "en-GB")).toEqual([
      "05/03/2024 reads as 3 May 2024",
      "13/05/2024 is no date in this order and stays text.",
    ]);
    // Automatic: 13/05 settles day first for the whole file.
    expect(datePreview(lines, ",", true, "auto", "mdy", "en-US")[0]).toBe("05/03/2024 reads as March 5, 2024");
    // Without a header the first line is data; a semicolon file splits at its delimiter.
    expect(datePreview(["05/03/2024;1"], ";", false, "auto", "mdy", "en-US")).toEqual(["05/03/2024 reads as May 3, 2024"]);
    expect(datePreview(["a,b", "1,2"], ",", true, "auto", "mdy")).toEqual([]);
  });
});
