import { describe, expect, it } from "vitest";
import { knownTexts } from "../src/i18n";

describe("texts for the browser", () => {
  it("never send the user to a phone's controls or apps", () => {
    const phoneOnly = /Home button|Settings app|Open In menu|email attachment|Open an email|Safari/i;
    expect(knownTexts().filter((text) => phoneOnly.test(text))).toEqual([]);
  });
});
