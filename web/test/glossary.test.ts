import { describe, expect, it } from "vitest";
import { glossaryFromHash } from "../src/components/glossary";

describe("glossary locations", () => {
  it("opens the list or a term's page from the hash, over any tab", () => {
    expect(glossaryFromHash("#/about/glossary")).toEqual({ keys: null, term: undefined });
    expect(glossaryFromHash("#/variables/glossary/skew")).toEqual({ keys: null, term: "skew" });
    expect(glossaryFromHash("#/glossary/AIC/")).toEqual({ keys: null, term: "AIC" });
  });

  it("leaves other locations alone", () => {
    expect(glossaryFromHash("")).toBeNull();
    expect(glossaryFromHash("#/about")).toBeNull();
    expect(glossaryFromHash("#/about/glossaryx")).toBeNull();
    expect(glossaryFromHash("#/about/glossary/a/b")).toBeNull();
    expect(glossaryFromHash("#/about/glossary/<img>")).toBeNull();
  });
});
