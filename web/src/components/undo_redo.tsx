// Undo and Redo for the screens that change data (Browse, Variables): two
// buttons naming the step they would take back or bring back, and
// Ctrl/Cmd+Z, Shift+Ctrl/Cmd+Z. The history lives in the workspace, so the
// names come with every status the server sends.
import { useEffect, useRef } from "preact/hooks";
import { api, type Status } from "../api";
import type { Shell } from "../app";
import { t } from "../i18n";
import { showToast } from "./alerts";
import { RedoIcon, UndoIcon } from "./icons";

interface Moved {
  step: string;
  message: string;
  status: Status;
}

// True when a key press belongs to a text field (its own undo applies there).
function inTextField(target: EventTarget | null): boolean {
  const el = target as HTMLElement | null;
  if (!el) return false;
  return el.tagName === "INPUT" || el.tagName === "TEXTAREA" || el.isContentEditable;
}

export function UndoRedo({ shell, onMoved }: { shell: Shell; onMoved: () => void }) {
  const history = shell.status?.history;
  const busy = useRef(false);

  const move = async (forward: boolean) => {
    const name = forward ? history?.redo : history?.undo;
    if (!name || busy.current) return;
    busy.current = true;
    try {
      const r = await api.post<Moved>(forward ? "/api/history/redo" : "/api/history/undo");
      shell.setStatus(r.status);
      showToast(r.message);
      onMoved();
    } catch (e) {
      shell.fail(e);
      void shell.refreshStatus();
    } finally {
      busy.current = false;
    }
  };

  // The latest handlers for the one key listener.
  const handler = useRef(move);
  handler.current = move;
  useEffect(() => {
    const onKey = (e: KeyboardEvent) => {
      if (!(e.ctrlKey || e.metaKey) || e.altKey || e.key.toLowerCase() !== "z") return;
      if (inTextField(e.target) || document.querySelector("[aria-modal='true']")) return;
      e.preventDefault();
      void handler.current(e.shiftKey);
    };
    document.addEventListener("keydown", onKey);
    return () => document.removeEventListener("keydown", onKey);
  }, []);

  const button = (forward: boolean) => {
    const name = forward ? history?.redo : history?.undo;
    // Disabled buttons show no tooltip in some browsers: the button stays
    // focusable and says why it does nothing.
    const label = name
      ? t(forward ? "Redo %@" : "Undo %@", name)
      : t(forward ? "Nothing to redo" : "Nothing to undo");
    return (
      <button
        class={`icon-button history-button ${name ? "" : "inactive"}`}
        data-testid={forward ? "redo" : "undo"}
        aria-disabled={name ? undefined : "true"}
        aria-label={label}
        title={label}
        onClick={() => void move(forward)}
      >
        {forward ? <RedoIcon /> : <UndoIcon />}
      </button>
    );
  };
  return (
    <>
      {button(false)}
      {button(true)}
    </>
  );
}
