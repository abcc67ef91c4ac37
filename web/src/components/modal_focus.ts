// Keyboard handling of every sheet, menu and dialog on the page, in one
// place: the newest open one takes the focus, Tab and Shift+Tab stay inside
// it, Esc closes it the way a tap outside or its Close button would, and the
// focus goes back to where it was when it opened. The screens only render
// their dialogs; nothing here knows which screen opened one.

// What counts as a modal surface.
export const modalSelector = '[aria-modal="true"], [role="menu"], [role="alertdialog"]';

const focusableSelector = [
  "a[href]",
  "button:not([disabled])",
  "input:not([disabled]):not([type=hidden])",
  "select:not([disabled])",
  "textarea:not([disabled])",
  "summary",
  '[tabindex]:not([tabindex="-1"])',
].join(",");

// The elements inside `root` that Tab reaches, in document order.
export function focusables(root: Element): HTMLElement[] {
  return Array.from(root.querySelectorAll<HTMLElement>(focusableSelector)).filter(
    (el) => el.tabIndex >= 0 && !el.closest("[inert]") && el.getClientRects().length > 0,
  );
}

interface Open {
  el: HTMLElement;
  // Where the focus was when this surface opened.
  returnTo: Element | null;
}

// Closes `el` as the user would without the keyboard: its own Esc target
// (data-dismiss), the Close button of a full-screen overlay, the Cancel of an
// alert with one, else a tap on the scrim around it.
function dismiss(el: HTMLElement): boolean {
  const own = el.querySelector<HTMLElement>("[data-dismiss]");
  if (own) {
    own.click();
    return true;
  }
  if (el.classList.contains("overlay-screen")) {
    const close = el.querySelector<HTMLElement>(".overlay-header > button");
    if (close) {
      close.click();
      return true;
    }
  }
  const scrim = el.parentElement?.classList.contains("scrim") ? el.parentElement : null;
  if (scrim) {
    // The scrim closes its sheet on a click aimed at the scrim itself.
    scrim.dispatchEvent(new MouseEvent("click", { bubbles: true, cancelable: true }));
    return true;
  }
  return false;
}

// Starts watching the page; returns a function that stops.
export function installModalFocus(root: HTMLElement = document.body): () => void {
  const stack: Open[] = [];
  let lastFocus: Element | null = document.activeElement;

  const top = () => stack[stack.length - 1];

  const enter = (el: HTMLElement) => {
    if (stack.some((o) => o.el === el)) return;
    // A surface that itself holds a newer one (an overlay with a sheet) is
    // entered only once; order follows the document.
    stack.push({ el, returnTo: el.contains(lastFocus) ? null : lastFocus });
    if (!el.contains(document.activeElement)) {
      const auto = el.querySelector<HTMLElement>("[autofocus], [data-autofocus]");
      const first = auto ?? focusables(el)[0];
      if (first) first.focus();
      else {
        if (!el.hasAttribute("tabindex")) el.setAttribute("tabindex", "-1");
        el.focus();
      }
    }
  };

  const leave = (o: Open) => {
    stack.splice(stack.indexOf(o), 1);
    if (document.activeElement && document.activeElement !== document.body && document.contains(document.activeElement))
      return;
    const back = o.returnTo && document.contains(o.returnTo) ? (o.returnTo as HTMLElement) : null;
    if (back) back.focus();
    else if (top()) (focusables(top()!.el)[0] ?? top()!.el).focus();
  };

  const scan = () => {
    for (const o of [...stack]) if (!document.contains(o.el)) leave(o);
    const found = Array.from(root.querySelectorAll<HTMLElement>(modalSelector));
    for (const el of found) enter(el);
  };

  const onKey = (e: KeyboardEvent) => {
    const o = top();
    if (!o) return;
    if (e.key === "Escape") {
      if (dismiss(o.el)) {
        e.preventDefault();
        e.stopPropagation();
      }
      return;
    }
    if (e.key !== "Tab") return;
    const items = focusables(o.el);
    if (items.length === 0) {
      e.preventDefault();
      return;
    }
    const at = items.indexOf(document.activeElement as HTMLElement);
    if (e.shiftKey && (at <= 0 || at === -1)) {
      e.preventDefault();
      items[items.length - 1].focus();
    } else if (!e.shiftKey && (at === items.length - 1 || at === -1)) {
      e.preventDefault();
      items[0].focus();
    }
  };

  // Focus that lands behind the newest surface (a click on the page, a
  // screen reader's jump) is brought back into it.
  const onFocusIn = (e: FocusEvent) => {
    const o = top();
    const target = e.target as Element;
    if (o && !o.el.contains(target)) {
      // A surface opened later but not seen yet by the observer: let it be.
      if (target.closest(modalSelector)) return;
      (focusables(o.el)[0] ?? o.el).focus();
      return;
    }
    lastFocus = target;
  };
  const noteFocus = () => {
    if (!top()) lastFocus = document.activeElement;
  };

  const observer = new MutationObserver(scan);
  observer.observe(root, { childList: true, subtree: true });
  document.addEventListener("keydown", onKey, true);
  document.addEventListener("focusin", onFocusIn);
  document.addEventListener("pointerdown", noteFocus, true);
  scan();
  return () => {
    observer.disconnect();
    document.removeEventListener("keydown", onKey, true);
    document.removeEventListener("focusin", onFocusIn);
    document.removeEventListener("pointerdown", noteFocus, true);
  };
}
