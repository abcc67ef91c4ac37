// @vitest-environment happy-dom
import { describe, expect, it } from "vitest";
import { AlertHost, showAlert } from "../src/components/alerts";
import { click, mount, texts, waitFor } from "./dom";

describe("alerts", () => {
  it("shows queued alerts one at a time, in order, each resolving with its button", async () => {
    const root = mount(<AlertHost />);
    expect(root.querySelector("[role=alertdialog]")).toBeNull();
    const first = showAlert({ title: "Confirm Delete", message: "Really?", buttons: ["Cancel", "Delete"] }, 1);
    const second = showAlert({ title: "Done", message: "", buttons: [] });
    const third = showAlert({ title: "Pick", message: "m", buttons: ["a", "b", "c"] });

    await waitFor(() => root.querySelector("#alert-title"));
    expect(root.querySelector("#alert-title")?.textContent).toBe("Confirm Delete");
    expect(root.querySelector("#alert-message")?.textContent).toBe("Really?");
    const buttons = [...root.querySelectorAll<HTMLButtonElement>(".alert-button")];
    expect(buttons.map((b) => b.classList.contains("destructive"))).toEqual([false, true]);
    expect(document.activeElement).toBe(buttons[0]);
    click(buttons[1]);
    expect(await first).toBe(1);

    // No buttons given: one OK; no message: no paragraph the dialog points at.
    await waitFor(() => root.querySelector("#alert-title")?.textContent === "Done");
    expect(texts(".alert-button", root)).toEqual(["OK"]);
    expect(root.querySelector("#alert-message")).toBeNull();
    expect(root.querySelector(".destructive")).toBeNull();
    click(".alert-button", root);
    expect(await second).toBe(0);

    await waitFor(() => root.querySelector("#alert-title")?.textContent === "Pick");
    expect(root.querySelector(".alert-buttons")?.classList.contains("stacked")).toBe(true);
    click(root.querySelectorAll(".alert-button")[2]);
    expect(await third).toBe(2);
    await waitFor(() => root.querySelector("[role=alertdialog]") === null);
  });

  it("shows an alert raised before its host is mounted", async () => {
    const pending = showAlert({ title: "Early", message: "", buttons: ["Yes", "No"] });
    const root = mount(<AlertHost />);
    await waitFor(() => root.querySelector("#alert-title")?.textContent === "Early");
    expect(root.querySelector(".alert-buttons")?.classList.contains("stacked")).toBe(false);
    click(root.querySelectorAll(".alert-button")[1]);
    expect(await pending).toBe(1);
  });
});
