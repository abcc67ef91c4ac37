// The derived-variable editor: a name, a transformation chosen by category,
// the inputs it uses (x, y, the constant c), the status line that says what
// is missing, the formula preview, and the creation on the server's worker.
import { useEffect, useRef, useState } from "preact/hooks";
import { api, ApiError, followJob, type Alert, type Status } from "../api";
import type { Shell } from "../app";
import { showAlert } from "../components/alerts";
import { ChevronIcon, CloseIcon } from "../components/icons";
import { format, t } from "../i18n";
import { RecodeEditor } from "./recode";
import type { Card } from "./variables";

export interface Transformation {
  code: number;
  category: number;
  label: string;
  usesX: boolean;
  usesY: boolean;
  usesC: boolean;
  preview: string;
  note: string;
}

export interface Variable {
  id: number;
  name: string;
}

export interface DeriveOptions {
  categories: string[];
  transformations: Transformation[];
  variables: Variable[];
  names: string[];
  proposedName: string;
  status: Status;
}

export interface DeriveState {
  name: string;
  equation: number;
  x: Variable | null;
  y: Variable | null;
  c: number | null;
}

export interface Created {
  card: Card;
  canAdd: boolean;
  saved: boolean;
  status: Status;
}

// A constant as typed: a point is the decimal separator whatever the locale.
export function readConstant(text: string): number | null {
  if (!/^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(text)) return null;
  const v = Number(text);
  return Number.isFinite(v) ? v : null;
}

// The first rule that keeps the variable from being created, or "".
export function deriveStatus(s: DeriveState, tr: Transformation | undefined, names: string[]): string {
  if (!s.name) return t("Please provide a name for the new variable");
  if (names.includes(s.name)) return t("Another variable already exists with the name %@", s.name);
  if ((tr?.usesX && !s.x) || (tr?.usesY && !s.y)) return t("Please select a variable to transform");
  if (s.equation === 311 && s.c === 0) return t("Make constant non-zero for division");
  if (tr?.usesC && s.c === null) return t("Please enter a numerical constant");
  return "";
}

// The formula line: the new name (x when empty), then the inputs used.
export function previewLine(s: DeriveState, tr: Transformation | undefined): string {
  if (!tr) return "";
  const args = [s.name || "x"];
  if (tr.usesX) args.push(s.x?.name ?? "x");
  if (tr.usesY) args.push(s.y?.name ?? "y");
  if (tr.usesC) args.push(s.c === null ? "c" : String(s.c));
  return format(tr.preview, ...args);
}

export function DeriveEditor({
  shell,
  options,
  initialX,
  onClose,
  onCreated,
}: {
  shell: Shell;
  options: DeriveOptions;
  initialX?: number;
  onClose: () => void;
  onCreated: (c: Created) => void;
}) {
  const [state, setState] = useState<DeriveState>({
    name: options.proposedName,
    equation: 300,
    x: options.variables.find((v) => v.id === initialX) ?? null,
    y: null,
    c: null,
  });
  const [category, setCategory] = useState(0);
  const [cText, setCText] = useState("");
  const [choosing, setChoosing] = useState<"x" | "y" | null>(null);
  const [busy, setBusy] = useState(false);
  const [recoding, setRecoding] = useState(false);
  const stop = useRef<(() => void) | null>(null);
  // Set at once, before the busy state shows, so that a second tap creates nothing.
  const started = useRef(false);

  useEffect(() => {
    const onKey = (e: KeyboardEvent) => {
      if (e.key === "Escape" && !busy) onClose();
    };
    window.addEventListener("keydown", onKey);
    return () => window.removeEventListener("keydown", onKey);
  }, [busy]);
  useEffect(() => () => stop.current?.(), []);

  const tr = options.transformations.find((x) => x.code === state.equation);
  const status = deriveStatus(state, tr, options.names);
  const set = (patch: Partial<DeriveState>) => setState((s) => ({ ...s, ...patch }));

  // A number is taken as soon as it is typed; text that is not a number
  // leaves the constant as it was and, once the field is left, puts its
  // previous value back.
  const typeConstant = (text: string) => {
    setCText(text);
    const v = readConstant(text);
    if (v !== null) set({ c: v });
  };
  const leaveConstant = () => {
    if (readConstant(cText) === null) setCText(state.c === null ? "" : String(state.c));
  };

  const fail = (message: string, alert?: Alert) =>
    void showAlert(alert ?? { title: t("Variable not created"), message, buttons: [t("OK")] });

  const create = async () => {
    if (status || started.current) return;
    started.current = true;
    setBusy(true);
    try {
      const r = await api.post<{ job: string }>("/api/derive", {
        name: state.name,
        equation: state.equation,
        x: tr?.usesX ? state.x?.id : null,
        y: tr?.usesY ? state.y?.id : null,
        c: tr?.usesC ? state.c : null,
      });
      stop.current = followJob(r.job, {
        onEvent: () => {},
        onEnd: (result) => {
          started.current = false;
          setBusy(false);
          if (!result || result.error) {
            fail(result?.error ?? t("The server could not be reached."), result?.alert);
            return;
          }
          onCreated(result as Created);
        },
      });
    } catch (e) {
      started.current = false;
      setBusy(false);
      if (e instanceof ApiError && !e.alert && e.body?.message) fail(e.body.message);
      else shell.fail(e);
    }
  };

  const chooser = choosing && (
    <ul class="list chooser" aria-label={choosing === "x" ? t("Choose variable x...") : t("Choose variable y...")}>
      {options.variables.map((v) => {
        const selected = (choosing === "x" ? state.x : state.y)?.id === v.id;
        return (
          <li>
            <button
              class={`row ${selected ? "selected" : ""}`}
              aria-pressed={selected}
              onClick={() => {
                set(choosing === "x" ? { x: v } : { y: v });
                setChoosing(null);
              }}
            >
              <span class="row-text">{v.name}</span>
              {selected && <span class="check">✓</span>}
            </button>
          </li>
        );
      })}
      {options.variables.length === 0 && <li class="row static">{t("This workspace has no Numeric variables.")}</li>}
    </ul>
  );

  if (recoding) return <RecodeEditor proposedName={state.name} shell={shell} onClose={onClose} onCreated={onCreated} />;
  return (
    <div class="scrim sheet-scrim" onClick={(e) => e.target === e.currentTarget && !busy && onClose()}>
      <div class="sheet derive" role="dialog" aria-modal="true" aria-labelledby="derive-title" aria-busy={busy}>
        <header class="sheet-header">
          <button class="text-button" onClick={onClose} disabled={busy}>
            {t("Cancel")}
          </button>
          <h2 id="derive-title">{choosing ? (choosing === "x" ? t("Choose variable x...") : t("Choose variable y...")) : t("New Variable")}</h2>
          {choosing ? (
            <button class="icon-button" aria-label={t("Close")} onClick={() => setChoosing(null)}>
              <CloseIcon />
            </button>
          ) : (
            <button class="text-button strong" disabled={!!status || busy} onClick={() => void create()}>
              {t("Create")}
            </button>
          )}
        </header>
        {chooser || (
          <form
            class="sheet-body"
            onSubmit={(e) => {
              e.preventDefault();
              void create();
            }}
          >
            <fieldset class="derive-fields" disabled={busy}>
              <label class="field">
                <span class="field-label">{t("Name of the new variable:")}</span>
                <input
                  class="text-input"
                  value={state.name}
                  autocomplete="off"
                  autocapitalize="off"
                  spellcheck={false}
                  onInput={(e) => set({ name: (e.currentTarget as HTMLInputElement).value })}
                />
              </label>

              <button type="button" class="link-button" data-testid="open-recode" onClick={() => setRecoding(true)}>
                {t("Recode into categories...")}
              </button>

              <div class="derive-formula" aria-live="polite">
                <p class="derive-preview" data-testid="derive-preview">
                  {previewLine(state, tr)}
                </p>
                {tr?.note && <p class="derive-note">{tr.note}</p>}
                <p class={`derive-status ${status ? "" : "blank"}`} role="status" data-testid="derive-status">
                  {status || "\u00a0"}
                </p>
              </div>

              {(tr?.usesX || tr?.usesY || tr?.usesC) && (
                <ul class="list">
                  {tr?.usesX && (
                    <li class="row static">
                      <span class="row-text">x</span>
                      <button type="button" class="value-button" onClick={() => setChoosing("x")}>
                        {state.x?.name ?? t("Choose variable x...")}
                        <ChevronIcon size={18} />
                      </button>
                    </li>
                  )}
                  {tr?.usesY && (
                    <li class="row static">
                      <span class="row-text">y</span>
                      <button type="button" class="value-button" onClick={() => setChoosing("y")}>
                        {state.y?.name ?? t("Choose variable y...")}
                        <ChevronIcon size={18} />
                      </button>
                    </li>
                  )}
                  {tr?.usesC && (
                    <li class="row static">
                      <label class="row-text" for="derive-c">
                        c
                      </label>
                      {/* No decimal keypad: in comma locales it offers no point,
                          and the constant is read with a point. */}
                      <input
                        id="derive-c"
                        class="text-input constant-input"
                        autocomplete="off"
                        placeholder={t("Constant")}
                        aria-label={t("Constant")}
                        value={cText}
                        onInput={(e) => typeConstant((e.currentTarget as HTMLInputElement).value)}
                        onChange={leaveConstant}
                        onBlur={leaveConstant}
                      />
                    </li>
                  )}
                </ul>
              )}

              <div class="derive-categories" role="tablist" aria-label={t("Transformation")}>
                {options.categories.map((title, i) => (
                  <button
                    type="button"
                    role="tab"
                    aria-selected={category === i}
                    class={`chip ${category === i ? "on" : ""}`}
                    onClick={() => setCategory(i)}
                  >
                    {title}
                  </button>
                ))}
              </div>
              <h3 class="section-title">{options.categories[category]}</h3>
              <div class="derive-choices">
                {options.transformations
                  .filter((x) => x.category === category)
                  .map((x) => (
                    <button
                      type="button"
                      class={`choice ${x.code === state.equation ? "on" : ""}`}
                      aria-pressed={x.code === state.equation}
                      onClick={() => set({ equation: x.code })}
                    >
                      {x.label}
                    </button>
                  ))}
              </div>
            </fieldset>
          </form>
        )}
        {busy && (
          <div class="derive-busy" role="progressbar" aria-label={t("Creating variable...")}>
            <div class="spinner" />
            <p>{t("Creating variable...")}</p>
          </div>
        )}
      </div>
    </div>
  );
}
