// The recode editor beside the derived variables: a new Categorical variable
// from a Numeric one cut at breaks, into equal-width bins or quantile groups,
// or from any variable by mapping its values to new labels, with a preview
// of the new levels and their counts computed by the server as it is typed.
import { useEffect, useRef, useState } from "preact/hooks";
import { api, ApiError } from "../api";
import type { Shell } from "../app";
import { showAlert } from "../components/alerts";
import { ChevronIcon, CloseIcon } from "../components/icons";
import { t } from "../i18n";
import { readConstant, type Created } from "./derive";

interface RecodeVariable {
  num: number;
  name: string;
  numeric: boolean;
}

type Method = "breaks" | "bins" | "quantiles" | "map";

interface Preview {
  levels: string[];
  counts: number[];
  missing: number;
}

// Splits a comma-separated list, trimming each item; "\," is a comma inside one.
export function splitList(text: string): string[] {
  if (!text.trim()) return [];
  return text
    .split(/(?<!\\),/)
    .map((s) => s.replace(/\\,/g, ",").trim());
}

// The request body for the server, or a message saying what is missing.
export function recodeBody(
  x: RecodeVariable | null,
  method: Method,
  breaks: string,
  groups: string,
  mapping: { from: string; to: string }[],
  labels: string,
): { body?: Record<string, unknown>; status: string } {
  if (!x) return { status: t("Please choose a variable to recode") };
  const body: Record<string, unknown> = { x: x.num, method };
  if (method === "breaks") {
    // Read as the derived variables' constant is: a point whatever the locale.
    const values = splitList(breaks).map(readConstant);
    if (values.length === 0 || values.some((v) => v === null)) return { status: t("Please enter a numerical constant") };
    body.breaks = values;
  } else if (method === "map") {
    body.map = mapping.map((m) => [m.from, m.to]);
  } else {
    const k = readConstant(groups.trim());
    if (k === null || !Number.isInteger(k)) return { status: t("Please enter a numerical constant") };
    body.groups = k;
  }
  const names = splitList(labels);
  if (method !== "map" && names.length) body.labels = names;
  return { body, status: "" };
}

export function RecodeEditor({
  proposedName,
  shell,
  onClose,
  onCreated,
}: {
  proposedName: string;
  shell: Shell;
  onClose: () => void;
  onCreated: (c: Created) => void;
}) {
  const [variables, setVariables] = useState<RecodeVariable[]>([]);
  const [name, setName] = useState(proposedName);
  const [x, setX] = useState<RecodeVariable | null>(null);
  const [method, setMethod] = useState<Method>("breaks");
  const [breaks, setBreaks] = useState("");
  const [groups, setGroups] = useState("4");
  const [labels, setLabels] = useState("");
  const [mapping, setMapping] = useState<{ from: string; to: string }[]>([]);
  const [choosing, setChoosing] = useState(false);
  const [preview, setPreview] = useState<Preview | null>(null);
  const [problem, setProblem] = useState("");
  const [busy, setBusy] = useState(false);
  const latest = useRef(0);

  useEffect(() => {
    api
      .get<{ variables: RecodeVariable[] }>("/api/recode")
      .then((r) => setVariables(r.variables))
      .catch((e) => shell.fail(e));
  }, []);

  // A mapping starts from the variable's levels, each mapped to itself.
  useEffect(() => {
    if (method !== "map" || !x) return;
    api
      .get<{ levels: string[] }>(`/api/variables/${x.num}/levels`)
      .then((r) => setMapping(r.levels.filter((l) => l !== "").map((l) => ({ from: l, to: l }))))
      .catch(() => setMapping([]));
  }, [method, x?.num]);

  const { body, status } = recodeBody(x, method, breaks, groups, mapping, labels);
  const bodyText = JSON.stringify(body ?? null);

  // The preview follows the inputs; only the latest answer shows.
  useEffect(() => {
    const id = ++latest.current;
    setPreview(null);
    setProblem("");
    if (!body) return;
    const timer = setTimeout(() => {
      api
        .post<Preview>("/api/recode/preview", body)
        .then((p) => id === latest.current && setPreview(p))
        .catch((e) => id === latest.current && setProblem(e instanceof ApiError ? (e.body?.message ?? e.code) : String(e)));
    }, 250);
    return () => clearTimeout(timer);
  }, [bodyText]);

  const nameStatus = !name ? t("Please provide a name for the new variable") : "";
  const shown = nameStatus || status || problem;
  const create = async () => {
    if (shown || busy || !body) return;
    setBusy(true);
    try {
      onCreated(await api.post<Created>("/api/recode", { ...body, name }));
    } catch (e) {
      if (e instanceof ApiError && e.body?.message)
        void showAlert({ title: t("Variable not created"), message: e.body.message, buttons: [t("OK")] });
      else shell.fail(e);
    } finally {
      setBusy(false);
    }
  };

  const methods: [Method, string][] = [
    ["breaks", t("Breaks")],
    ["bins", t("Equal-width bins")],
    ["quantiles", t("Quantile groups")],
    ["map", t("Map values")],
  ];
  const offered = variables.filter((v) => method === "map" || v.numeric);
  return (
    <div class="scrim sheet-scrim" onClick={(e) => e.target === e.currentTarget && !busy && onClose()}>
      <div class="sheet derive recode" role="dialog" aria-modal="true" aria-labelledby="recode-title" aria-busy={busy}>
        <header class="sheet-header">
          <button class="text-button" onClick={onClose} disabled={busy}>
            {t("Cancel")}
          </button>
          <h2 id="recode-title">{choosing ? t("Choose variable...") : t("Recode into Categories")}</h2>
          {choosing ? (
            <button class="icon-button" aria-label={t("Close")} onClick={() => setChoosing(false)}>
              <CloseIcon />
            </button>
          ) : (
            <button class="text-button strong" data-testid="recode-create" disabled={!!shown || busy || !preview} onClick={() => void create()}>
              {t("Create")}
            </button>
          )}
        </header>
        {choosing ? (
          <ul class="list chooser" aria-label={t("Choose variable...")}>
            {offered.map((v) => (
              <li>
                <button
                  class={`row ${x?.num === v.num ? "selected" : ""}`}
                  aria-pressed={x?.num === v.num}
                  onClick={() => {
                    setX(v);
                    setChoosing(false);
                  }}
                >
                  <span class="row-text">{v.name}</span>
                </button>
              </li>
            ))}
          </ul>
        ) : (
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
                <input class="text-input" value={name} autocomplete="off" spellcheck={false} onInput={(e) => setName(e.currentTarget.value)} />
              </label>
              <div class="derive-categories" role="tablist" aria-label={t("Recode into Categories")}>
                {methods.map(([m, title]) => (
                  <button
                    type="button"
                    role="tab"
                    aria-selected={method === m}
                    class={`chip ${method === m ? "on" : ""}`}
                    onClick={() => {
                      setMethod(m);
                      if (m !== "map" && x && !x.numeric) setX(null);
                    }}
                  >
                    {title}
                  </button>
                ))}
              </div>
              <ul class="list">
                <li class="row static">
                  <span class="row-text">{t("Variable to recode:")}</span>
                  <button type="button" class="value-button" data-testid="recode-x" onClick={() => setChoosing(true)}>
                    {x?.name ?? t("Choose variable...")}
                    <ChevronIcon size={18} />
                  </button>
                </li>
              </ul>
              {method === "breaks" && (
                <label class="field">
                  <span class="field-label">{t("Breaks, separated by commas (e.g. 18, 30, 50):")}</span>
                  <input class="text-input" data-testid="recode-breaks" inputMode="text" value={breaks} onInput={(e) => setBreaks(e.currentTarget.value)} />
                </label>
              )}
              {(method === "bins" || method === "quantiles") && (
                <label class="field">
                  <span class="field-label">{t("Number of groups:")}</span>
                  <input class="text-input" data-testid="recode-groups" inputMode="numeric" value={groups} onInput={(e) => setGroups(e.currentTarget.value)} />
                </label>
              )}
              {method !== "map" && (
                <label class="field">
                  <span class="field-label">{t("Group names, separated by commas (optional):")}</span>
                  <input class="text-input" data-testid="recode-labels" value={labels} onInput={(e) => setLabels(e.currentTarget.value)} />
                </label>
              )}
              {method === "map" && mapping.length > 0 && (
                <table class="recode-map">
                  <thead>
                    <tr>
                      <th scope="col">{t("Old value")}</th>
                      <th scope="col">{t("New label")}</th>
                    </tr>
                  </thead>
                  <tbody>
                    {mapping.map((m, i) => (
                      <tr>
                        <td>{m.from}</td>
                        <td>
                          <input
                            class="text-input"
                            aria-label={`${t("New label")}: ${m.from}`}
                            value={m.to}
                            onInput={(e) => {
                              const to = e.currentTarget.value;
                              setMapping((list) => list.map((n, j) => (j === i ? { ...n, to } : n)));
                            }}
                          />
                        </td>
                      </tr>
                    ))}
                  </tbody>
                </table>
              )}
              <p class={`derive-status ${shown ? "" : "blank"}`} role="status" data-testid="recode-status">
                {shown || "\u00a0"}
              </p>
              {preview && (
                <table class="recode-preview" data-testid="recode-preview" aria-label={t("New levels")}>
                  <thead>
                    <tr>
                      <th scope="col">{t("New levels")}</th>
                      <th scope="col">{t("Count")}</th>
                    </tr>
                  </thead>
                  <tbody>
                    {preview.levels.map((l, i) => (
                      <tr>
                        <td>{l}</td>
                        <td class="number">{preview.counts[i]}</td>
                      </tr>
                    ))}
                    {preview.missing > 0 && (
                      <tr class="missing">
                        <td>{t("Missing")}</td>
                        <td class="number">{preview.missing}</td>
                      </tr>
                    )}
                  </tbody>
                </table>
              )}
            </fieldset>
          </form>
        )}
      </div>
    </div>
  );
}
