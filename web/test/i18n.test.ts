import { readdirSync, readFileSync, statSync } from "node:fs";
import { join } from "node:path";
import { fileURLToPath } from "node:url";
import { describe, expect, it } from "vitest";
import { format, knownTexts, setTable, t } from "../src/i18n";
import { analysisTexts } from "../src/screens/analysis";

function sources(dir: string): string[] {
  return readdirSync(dir).flatMap((f) => {
    const p = join(dir, f);
    return statSync(p).isDirectory() ? sources(p) : /\.tsx?$/.test(f) ? [p] : [];
  });
}

describe("text lookup", () => {
  it("fills placeholders in order and keeps extra ones", () => {
    expect(format("Delimiter: %@", "comma")).toBe("Delimiter: comma");
    expect(format("%u of %u variables", 3, 10)).toBe("3 of 10 variables");
    expect(format("%d Variable Limit Reached", 500)).toBe("500 Variable Limit Reached");
    expect(format("Really delete file\n%@? \nCannot be undone.", "a.tbx")).toBe("Really delete file\na.tbx? \nCannot be undone.");
    expect(format("%@ and %@", "x")).toBe("x and %@");
  });

  it("looks texts up by their English wording, English being the fallback", () => {
    expect(t("Workspaces")).toBe("Workspaces");
    setTable({ Workspaces: "Arbeitsbereiche", "Sheet: %@": "Blatt: %@" });
    expect(t("Workspaces")).toBe("Arbeitsbereiche");
    expect(t("Sheet: %@", "Data")).toBe("Blatt: Data");
    expect(t("Browse")).toBe("Browse");
    setTable({});
    expect(t("Workspaces")).toBe("Workspaces");
  });

  it("knows every text the interface looks up", () => {
    const known = new Set(knownTexts());
    const missing: string[] = [];
    for (const file of sources(fileURLToPath(new URL("../src", import.meta.url)))) {
      const code = readFileSync(file, "utf8");
      // t("…") with a plain string literal; escapes as JSON reads them.
      for (const m of code.matchAll(/\bt\(\s*"((?:[^"\\]|\\.)*)"/g)) {
        const text = JSON.parse(`"${m[1]}"`);
        if (!known.has(text)) missing.push(`${file}: ${text}`);
      }
    }
    // Texts passed through variables: the analysis screen's buttons and segments, the delimiters and tab titles.
    for (const s of analysisTexts()) if (!known.has(s)) missing.push(s);
    for (const s of ["comma", "tab", "space", "Workspaces", "Browse", "Variables", "Analysis", "About", "Automatic", "Day first", "Month first", "Year first"])
      if (!known.has(s)) missing.push(s);
    expect(missing).toEqual([]);
  });
});
