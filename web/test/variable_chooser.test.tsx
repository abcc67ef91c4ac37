// @vitest-environment happy-dom
import { describe, expect, it, vi } from "vitest";
import { VariableChooser, type Choices } from "../src/components/variable_chooser";
import { click, mount, texts } from "./dom";

const offered = [
  { num: 4, name: "age" },
  { num: 2, name: "height" },
  { num: 9, name: "weight" },
];
const choices = (over: Partial<Choices>): Choices => ({
  position: 1,
  multiple: false,
  addAll: false,
  offered,
  chosen: [],
  ...over,
});
const rows = (root: HTMLElement) => [...root.querySelectorAll<HTMLButtonElement>("[data-testid=variable-chooser] button")];

describe("variable chooser", () => {
  it("chooses one variable with one tap, or closes on Cancel and on the scrim only", () => {
    const onChoose = vi.fn();
    const onClose = vi.fn();
    const root = mount(<VariableChooser choices={choices({})} onChoose={onChoose} onClose={onClose} />);
    expect(texts("[data-testid=variable-chooser] button", root)).toEqual(["age", "height", "weight"]);
    // A single position has neither Done nor ticks.
    expect(rows(root).map((b) => b.getAttribute("aria-pressed"))).toEqual([null, null, null]);
    expect(texts(".sheet-header button", root)).toEqual(["Cancel"]);
    click(rows(root)[2]);
    expect(onChoose).toHaveBeenCalledWith([9]);

    click(".sheet", root); // inside the sheet: not a tap on the scrim
    expect(onClose).not.toHaveBeenCalled();
    click(".scrim", root);
    click(".sheet-header button", root);
    expect(onClose).toHaveBeenCalledTimes(2);
  });

  it("collects ticks from the chosen ones until Done, in tap order; Add All takes every offer", () => {
    const onChoose = vi.fn();
    const root = mount(
      <VariableChooser
        choices={choices({ position: 3, multiple: true, addAll: true, chosen: [offered[1]] })}
        onChoose={onChoose}
        onClose={() => {}}
      />,
    );
    const pressed = () => rows(root).map((b) => b.getAttribute("aria-pressed"));
    expect(pressed()).toEqual(["false", "true", "false"]);
    expect(rows(root)[1].textContent).toBe("✓ height");
    click(rows(root)[2]);
    click(rows(root)[0]);
    click(rows(root)[1]); // untick
    expect(pressed()).toEqual(["true", "false", "true"]);
    expect(onChoose).not.toHaveBeenCalled();
    const done = [...root.querySelectorAll<HTMLButtonElement>(".sheet-header button")].find((b) => b.textContent === "Done");
    click(done!);
    expect(onChoose).toHaveBeenLastCalledWith([9, 4]);
    const addAll = [...root.querySelectorAll<HTMLButtonElement>(".text-button")].find((b) => b.textContent === "Add All");
    click(addAll!);
    expect(onChoose).toHaveBeenLastCalledWith([4, 2, 9]);
  });

  it("says so when no variable fits and offers Add All only where the position allows it", () => {
    const root = mount(
      <VariableChooser choices={choices({ multiple: true, offered: [] })} onChoose={() => {}} onClose={() => {}} />,
    );
    expect(texts(".empty-row", root)).toEqual(["No variables of the types this position takes."]);
    expect(texts(".text-button", root)).not.toContain("Add All");
  });
});
