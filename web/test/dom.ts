// Helpers of the component tests: mounting a component into the test's
// document, user actions wrapped in Preact's act(), waiting for what the
// component shows after a request, and a fetch stand-in that answers the
// API routes a test gives it. A test file that uses them starts with
// `// @vitest-environment happy-dom`.
import { render, type ComponentChild } from "preact";
import { act } from "preact/test-utils";
import { afterEach, vi } from "vitest";

let roots: HTMLElement[] = [];

// Renders `node` into a fresh element of the document; unmounted after the test.
export function mount(node: ComponentChild): HTMLElement {
  const root = document.createElement("div");
  document.body.appendChild(root);
  roots.push(root);
  act(() => render(node, root));
  return root;
}

afterEach(() => {
  for (const root of roots) {
    act(() => render(null, root));
    root.remove();
  }
  roots = [];
  vi.unstubAllGlobals();
});

// Clicks an element (found by selector under `within` when given a string).
export function click(target: Element | string, within: ParentNode = document): void {
  const el = typeof target === "string" ? within.querySelector(target) : target;
  if (!el) throw new Error(`nothing to click at ${String(target)}`);
  act(() => (el as HTMLElement).click());
}

// Types `text` into an input as one input event, as a paste would.
export function type(input: Element | null, text: string): void {
  if (!input) throw new Error("no input to type into");
  act(() => {
    (input as HTMLInputElement).value = text;
    input.dispatchEvent(new Event("input", { bubbles: true }));
  });
}

// Presses a key on the window (the sheets listen there).
export function press(key: string): void {
  act(() => {
    window.dispatchEvent(new KeyboardEvent("keydown", { key }));
  });
}

// Waits until `check` returns a value other than null, undefined or false
// (requests, timers and re-renders run in between); fails after `ms`.
export async function waitFor<T>(check: () => T | null | undefined | false, ms = 3000): Promise<T> {
  const until = Date.now() + ms;
  for (;;) {
    let value: T | null | undefined | false = null;
    await act(async () => {
      await new Promise((r) => setTimeout(r, 10));
      value = check();
    });
    if (value !== null && value !== undefined && value !== false) return value as T;
    if (Date.now() > until) throw new Error(`waited ${ms} ms in vain for ${check.toString()}`);
  }
}

// A request the stand-in saw, and how to answer it when the route is held.
export interface SeenRequest {
  method: string;
  url: string;
  answer: (status: number, body: unknown) => void;
}

// Replaces fetch: `route` returns [status, body] for a request, or "hold"
// to answer it later through the returned list. Unknown routes answer 404.
export function stubFetch(route: (method: string, url: string) => [number, unknown] | "hold" | undefined): SeenRequest[] {
  const seen: SeenRequest[] = [];
  vi.stubGlobal("fetch", (input: string, init?: RequestInit) => {
    const method = init?.method ?? "GET";
    const url = String(input);
    return new Promise<Response>((resolve) => {
      const answer = (status: number, body: unknown) =>
        resolve(new Response(JSON.stringify(body), { status, headers: { "Content-Type": "application/json" } }));
      seen.push({ method, url, answer });
      const r = route(method, url);
      if (r === "hold") return;
      if (r) answer(r[0], r[1]);
      else answer(404, { error: "notFound" });
    });
  });
  return seen;
}

// The visible text of every element matching `selector`.
export function texts(selector: string, within: ParentNode = document): string[] {
  return [...within.querySelectorAll(selector)].map((e) => e.textContent ?? "");
}
