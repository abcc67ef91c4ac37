// Modal alerts: a title, a message and buttons, one at a time, in order.
import { useEffect, useRef, useState } from "preact/hooks";
import type { Alert } from "../api";
import { t } from "../i18n";

interface Pending {
  alert: Alert;
  // Index of the button marked destructive (drawn in red), if any.
  destructive?: number;
  resolve: (button: number) => void;
}

let queue: Pending[] = [];
let notify: () => void = () => {};

// Shows an alert after those already waiting; resolves with the index of the
// button pressed.
export function showAlert(alert: Alert, destructive?: number): Promise<number> {
  return new Promise((resolve) => {
    queue = [...queue, { alert, destructive, resolve }];
    notify();
  });
}

// Shows an alert unless one with the same title and message is open or
// waiting; then resolves with that one's answer.
export function showAlertOnce(alert: Alert, destructive?: number): Promise<number> {
  const same = queue.find((p) => p.alert.title === alert.title && p.alert.message === alert.message);
  if (!same) return showAlert(alert, destructive);
  return new Promise((resolve) => {
    const earlier = same.resolve;
    same.resolve = (b) => {
      earlier(b);
      resolve(b);
    };
  });
}

// Shows a list of choices titled like an alert; resolves with the index
// chosen, or -1 when dismissed.
export function AlertHost() {
  const [, setTick] = useState(0);
  const first = useRef<HTMLButtonElement>(null);
  useEffect(() => {
    notify = () => setTick((n) => n + 1);
    return () => {
      notify = () => {};
    };
  }, []);
  const current = queue[0];
  useEffect(() => {
    first.current?.focus();
  }, [current]);
  if (!current) return null;
  const close = (i: number) => {
    queue = queue.slice(1);
    current.resolve(i);
    setTick((n) => n + 1);
  };
  const { alert } = current;
  const buttons = alert.buttons.length ? alert.buttons : [t("OK")];
  // Esc answers as the Cancel button would, or the only button.
  const escape = buttons.length === 1 ? 0 : buttons.indexOf(t("Cancel"));
  return (
    <div class="scrim" role="presentation">
      <div class="alert" role="alertdialog" aria-modal="true" aria-labelledby="alert-title" aria-describedby="alert-message">
        <h2 id="alert-title">{alert.title}</h2>
        {alert.message && (
          <p id="alert-message" class="alert-message">
            {alert.message}
          </p>
        )}
        <div class={`alert-buttons ${buttons.length > 2 ? "stacked" : ""}`}>
          {buttons.map((b, i) => (
            <button
              ref={i === 0 ? first : undefined}
              data-dismiss={i === escape ? "" : undefined}
              class={`alert-button ${current.destructive === i ? "destructive" : ""}`}
              onClick={() => close(i)}
            >
              {b}
            </button>
          ))}
        </div>
      </div>
    </div>
  );
}

let toastText = "";
let toastTimer: number | undefined;
let toastNotify: () => void = () => {};

// A short note that needs no answer ("Saved ... to your downloads folder"):
// shown at the foot of the page for a few seconds, read out by screen
// readers, never in the way of a tap.
export function showToast(text: string): void {
  toastText = text;
  window.clearTimeout(toastTimer);
  toastTimer = window.setTimeout(() => {
    toastText = "";
    toastNotify();
  }, 6000);
  toastNotify();
}

export function ToastHost() {
  const [, setTick] = useState(0);
  useEffect(() => {
    toastNotify = () => setTick((n) => n + 1);
    return () => {
      toastNotify = () => {};
    };
  }, []);
  return (
    <div class="toast-region" role="status" aria-live="polite">
      {toastText && (
        <p class="toast" data-testid="toast">
          {toastText}
        </p>
      )}
    </div>
  );
}
