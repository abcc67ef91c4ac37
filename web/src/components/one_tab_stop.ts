// A group of controls that Tab passes as one stop (a variable card with its
// open, derive, delete and glossary buttons): the group itself takes the
// focus, Enter does its main action, the arrow keys walk its controls and
// Esc returns to the group.
import { useEffect, useRef } from "preact/hooks";

const controls = "a[href], button, input, select, textarea, summary";

export function useOneTabStop<T extends HTMLElement>(onEnter?: () => void) {
  const ref = useRef<T | null>(null);
  // After every render: controls drawn since (a summary's glossary link)
  // leave the tab order too.
  useEffect(() => {
    ref.current?.querySelectorAll<HTMLElement>(controls).forEach((c) => (c.tabIndex = -1));
  });
  const onKeyDown = (e: KeyboardEvent) => {
    const group = ref.current;
    if (!group) return;
    // A picker's own arrows choose its value.
    if ((e.target as HTMLElement).tagName === "SELECT" && (e.key === "ArrowUp" || e.key === "ArrowDown")) return;
    const items = Array.from(group.querySelectorAll<HTMLElement>(controls)).filter(
      (c) => !(c as HTMLButtonElement).disabled && c.getClientRects().length > 0,
    );
    const at = items.indexOf(e.target as HTMLElement);
    const step = e.key === "ArrowDown" || e.key === "ArrowRight" ? 1 : e.key === "ArrowUp" || e.key === "ArrowLeft" ? -1 : 0;
    if (e.target === group && e.key === "Enter" && onEnter) {
      e.preventDefault();
      onEnter();
    } else if (step !== 0 && items.length) {
      e.preventDefault();
      const next = at < 0 ? (step > 0 ? 0 : items.length - 1) : (at + step + items.length) % items.length;
      items[next].focus();
    } else if (e.key === "Escape" && at >= 0) {
      e.preventDefault();
      group.focus();
    }
  };
  return { ref, onKeyDown };
}
