// The new-workspace screen: a name, and for an import the header switch,
// the delimiter or sheet, the decimal point and the order of dates.
import { useEffect, useRef, useState } from "preact/hooks";
import { api, ApiError, type Status } from "../api";
import type { Shell } from "../app";
import { showAlert } from "../components/alerts";
import { ChevronIcon, CloseIcon } from "../components/icons";
import {
  firstDateFields,
  localeOrder,
  orderFor,
  readDate,
  type DateOrder,
  type FixedOrder,
} from "../date_order";
import { t } from "../i18n";

export interface NewWorkspaceRequest {
  mode: "blank" | "example" | "import";
  file?: string; // the data file, relative to the documents folder
}

interface Inspection {
  name: string;
  workbook: boolean;
  sheets: string[] | null;
  delimiter: number;
  delimiters: string[];
  decimalSeparator: string;
  // SPSS, Stata and SAS files: names, labels and formats come from the file.
  statFile?: boolean;
  // Delimited text only: the first lines and the delimiter that fits them.
  preview?: string[];
  delimiterChar?: string;
  // The order of day, month and year "auto" falls back on (the locale's).
  localeDates?: FixedOrder;
}

// The orders of day, month and year a text file's dates may be read in.
const dateOrders: { order: DateOrder; name: string }[] = [
  { order: "auto", name: "Automatic" },
  { order: "dmy", name: "Day first" },
  { order: "mdy", name: "Month first" },
  { order: "ymd", name: "Year first" },
];

function dateOrderLabel(order: DateOrder): string {
  return t(dateOrders.find((d) => d.order === order)?.name ?? "Automatic");
}

// How the first dates of the previewed lines read under the chosen order:
// one sentence each, with the date written out in the page's language.
export function datePreview(
  lines: string[],
  delimiter: string,
  hasHeader: boolean,
  choice: DateOrder,
  fallback: FixedOrder,
  lang = typeof document === "undefined" ? undefined : document.documentElement.lang || undefined,
): string[] {
  const rows = lines.slice(hasHeader ? 1 : 0).map((l) => splitLine(l, delimiter));
  const order = orderFor(choice, rows, fallback);
  return firstDateFields(rows).map((field) => {
    const d = readDate(field, order);
    if (!d) return t("%@ is no date in this order and stays text.", field);
    let written: string;
    try {
      written = new Intl.DateTimeFormat(lang, { dateStyle: "long", timeZone: "UTC" }).format(
        Date.UTC(d.year, d.month - 1, d.day),
      );
    } catch {
      written = `${d.year}-${String(d.month).padStart(2, "0")}-${String(d.day).padStart(2, "0")}`;
    }
    return t("%@ reads as %@", field, written);
  });
}

// The named delimiters, in the order of the chooser; any other single
// character can be typed in.
const namedDelimiters: { name: string; char: string }[] = [
  { name: "comma", char: "," },
  { name: "tab", char: "\t" },
  { name: "space", char: " " },
  { name: "semicolon", char: ";" },
];

function delimiterLabel(char: string): string {
  const named = namedDelimiters.find((d) => d.char === char);
  return named ? t(named.name) : `“${char}”`;
}

// Splits a preview line at the delimiter, keeping quoted delimiters in
// their field (a preview only: quotes stay as written).
export function splitLine(line: string, delimiter: string): string[] {
  const fields: string[] = [];
  let field = "";
  let quoted = false;
  for (const c of line) {
    if (c === '"') quoted = !quoted;
    if (c === delimiter && !quoted) {
      fields.push(field);
      field = "";
    } else {
      field += c;
    }
  }
  fields.push(field);
  return fields;
}

export function NewWorkspace({
  request,
  shell,
  onClose,
}: {
  request: NewWorkspaceRequest;
  shell: Shell;
  onClose: () => void;
}) {
  const { mode, file } = request;
  const [name, setName] = useState(mode === "blank" ? t("Untitled") : mode === "example" ? t("example") : "");
  const [hasHeader, setHasHeader] = useState(true);
  const [sheet, setSheet] = useState(0);
  const [delimiter, setDelimiter] = useState(file && file.endsWith(".csv") ? "," : "\t");
  const [otherDelimiter, setOtherDelimiter] = useState("");
  const [decimal, setDecimal] = useState(".");
  const [dates, setDates] = useState<DateOrder>("auto");
  const [inspection, setInspection] = useState<Inspection | null>(null);
  // The list shown in place of the form: the delimiters or sheets, or the date orders.
  const [choosing, setChoosing] = useState<false | "options" | "dates">(false);
  const [busy, setBusy] = useState(false);
  const nameInput = useRef<HTMLInputElement>(null);

  useEffect(() => {
    if (mode === "import" && file) {
      const base = file.split("/").pop() ?? file;
      setName(base.replace(/\.[^.]*$/, ""));
      api
        .get<Inspection>(`/api/inspect?file=${encodeURIComponent(file)}`)
        .then((r) => {
          setInspection(r);
          setName(r.name);
          setDelimiter(r.delimiterChar ?? namedDelimiters[r.delimiter]?.char ?? "\t");
          if (r.delimiterChar && !namedDelimiters.some((d) => d.char === r.delimiterChar)) setOtherDelimiter(r.delimiterChar);
          setDecimal(r.decimalSeparator);
        })
        .catch((e) => {
          // A workbook that cannot be read: say why, and leave the screen.
          shell.fail(e);
          onClose();
        });
    } else {
      api
        .get<{ decimalSeparator: string }>("/api/documents")
        .then((r) => setDecimal(r.decimalSeparator))
        .catch(() => {});
    }
    nameInput.current?.focus();
    const onKey = (e: KeyboardEvent) => {
      if (e.key === "Escape") onClose();
    };
    window.addEventListener("keydown", onKey);
    return () => window.removeEventListener("keydown", onKey);
  }, []);

  const isWorkbook = !!file && /\.xlsx?$/i.test(file);
  const isStatFile = !!file && /\.(sav|zsav|por|dta|sas7bdat|xpt)$/.test(file);
  const sheets = inspection?.sheets ?? null;
  const chooserLabel = isWorkbook
    ? sheets
      ? t("Sheet: %@", sheets[sheet] ?? "")
      : t("Finding sheets...")
    : t("Delimiter: %@", delimiterLabel(delimiter));
  const preview = !isWorkbook ? (inspection?.preview ?? []) : [];
  // Workbooks and statistical files bring their dates as dates.
  const textFile = !isWorkbook && !isStatFile;
  const dateLines = textFile
    ? datePreview(preview, delimiter, hasHeader, dates, inspection?.localeDates ?? localeOrder(document.documentElement.lang || undefined))
    : [];

  const create = async (replace = false) => {
    if (!name.trim()) return;
    setBusy(true);
    try {
      const index = namedDelimiters.findIndex((d) => d.char === delimiter);
      const body = {
        mode,
        name: name.trim(),
        file,
        hasHeader,
        sheet,
        delimiter: index >= 0 && index < 3 ? index : 1,
        delimiterChar: delimiter,
        decimalSeparator: decimal,
        ...(textFile && mode === "import" ? { dates } : {}),
        replace,
      };
      const r = await api.post<{ status?: Status; job?: string; workspace?: string }>("/api/workspaces/create", body);
      onClose();
      if (r.job) {
        shell.startImport({ job: r.job, workspace: r.workspace ?? name });
      } else if (r.status) {
        shell.setStatus(r.status);
        shell.go("browse");
      }
    } catch (e) {
      if (e instanceof ApiError && e.code === "exists" && e.alert) {
        const choice = await showAlert(e.alert, 1);
        if (choice === 1) return create(true);
      } else {
        shell.fail(e);
      }
    } finally {
      setBusy(false);
    }
  };

  const source =
    mode === "blank"
      ? t("Create a new empty workspace.")
      : mode === "example"
        ? t("Create a new workspace based on example.")
        : t("Create a workspace with data from:");

  return (
    <div class="scrim sheet-scrim" onClick={(e) => e.target === e.currentTarget && onClose()}>
      <div class="sheet" role="dialog" aria-modal="true" aria-labelledby="new-ws-title">
        <header class="sheet-header">
          <button class="text-button" onClick={onClose}>
            {t("Cancel")}
          </button>
          <h2 id="new-ws-title">
            {choosing === "dates"
              ? t("Choose Date Order")
              : choosing
                ? isWorkbook
                  ? t("Choose Sheet")
                  : t("Choose Delimiter")
                : t("Create New Workspace")}
          </h2>
          {choosing ? (
            <button class="icon-button" aria-label={t("Close")} onClick={() => setChoosing(false)}>
              <CloseIcon />
            </button>
          ) : (
            <span class="header-spacer" />
          )}
        </header>

        {choosing === "dates" ? (
          <ul class="list chooser">
            {dateOrders.map((d) => (
              <li>
                <button
                  class={`row ${d.order === dates ? "selected" : ""}`}
                  aria-pressed={d.order === dates}
                  onClick={() => {
                    setDates(d.order);
                    setChoosing(false);
                  }}
                >
                  <span class="row-text">{t(d.name)}</span>
                  {d.order === dates && <span class="check">✓</span>}
                </button>
              </li>
            ))}
          </ul>
        ) : choosing ? (
          <ul class="list chooser">
            {(isWorkbook ? (sheets ?? []) : namedDelimiters.map((d) => t(d.name))).map((label, i) => {
              const selected = isWorkbook ? i === sheet : namedDelimiters[i]?.char === delimiter;
              return (
                <li>
                  <button
                    class={`row ${selected ? "selected" : ""}`}
                    aria-pressed={selected}
                    onClick={() => {
                      if (isWorkbook) setSheet(i);
                      else setDelimiter(namedDelimiters[i]!.char);
                      setChoosing(false);
                    }}
                  >
                    <span class="row-text">{label}</span>
                    {selected && <span class="check">✓</span>}
                  </button>
                </li>
              );
            })}
            {!isWorkbook && (
              <li class="row static">
                <label class="row-text" for="other-delimiter">
                  {t("Other character:")}
                </label>
                <input
                  id="other-delimiter"
                  class="text-input delimiter-input"
                  maxLength={1}
                  value={otherDelimiter}
                  autocomplete="off"
                  spellcheck={false}
                  onInput={(e) => {
                    const c = (e.currentTarget as HTMLInputElement).value;
                    setOtherDelimiter(c);
                    if (c.length === 1 && c !== '"') {
                      setDelimiter(c);
                      setChoosing(false);
                    }
                  }}
                />
              </li>
            )}
          </ul>
        ) : (
          <form
            class="sheet-body"
            onSubmit={(e) => {
              e.preventDefault();
              void create();
            }}
          >
            <p class="source-line">
              {source}
              {mode === "import" && file && <strong class="source-file"> {file.split("/").pop()}</strong>}
            </p>
            <label class="field">
              <span class="field-label">{t("Name your new workspace:")}</span>
              <input
                ref={nameInput}
                class="text-input"
                value={name}
                autocomplete="off"
                autocapitalize="off"
                spellcheck={false}
                onInput={(e) => setName((e.currentTarget as HTMLInputElement).value)}
              />
            </label>
            <button type="submit" class="primary-button" disabled={busy || !name.trim()}>
              {t("Create")}
            </button>

            {mode === "import" && isStatFile && (
              <p class="footnote" data-testid="stat-file-note">
                {t("Variable names, labels and formats come from the file.")}
              </p>
            )}
            {mode === "import" && !isStatFile && (
              <div class="section">
                <h3 class="section-title">{t("Advanced options")}</h3>
                <ul class="list">
                  <li class="row static">
                    <span class="row-text">{t("Header:")}</span>
                    <label class="switch">
                      <input
                        type="checkbox"
                        role="switch"
                        aria-label={t("Header:")}
                        checked={hasHeader}
                        onChange={(e) => setHasHeader((e.currentTarget as HTMLInputElement).checked)}
                      />
                      <span class="switch-track" />
                    </label>
                  </li>
                  <li class="row static">
                    <span class="row-text">{t("Import options:")}</span>
                    <button
                      type="button"
                      class="value-button"
                      disabled={!inspection || (isWorkbook && !sheets?.length)}
                      onClick={() => setChoosing("options")}
                    >
                      {chooserLabel}
                      <ChevronIcon size={18} />
                    </button>
                  </li>
                  <li class="row static">
                    <span class="row-text">{t("Decimal point:")}</span>
                    <div class="segmented" role="radiogroup" aria-label={t("Decimal point:")}>
                      {[".", ","].map((d) => (
                        <button
                          type="button"
                          role="radio"
                          aria-checked={decimal === d}
                          class={decimal === d ? "on" : ""}
                          onClick={() => setDecimal(d)}
                        >
                          {d}
                        </button>
                      ))}
                    </div>
                  </li>
                  {textFile && (
                    <li class="row static">
                      <span class="row-text">{t("Dates:")}</span>
                      <button type="button" class="value-button" data-testid="date-order" onClick={() => setChoosing("dates")}>
                        {dateOrderLabel(dates)}
                        <ChevronIcon size={18} />
                      </button>
                    </li>
                  )}
                </ul>
                <p class="footnote">
                  {t(
                    "Set decimal point for this dataset. Tabulix defaults to the number format of your browser's language.",
                  )}
                </p>
                {preview.length > 0 && (
                  <div class="import-preview">
                    <h3 class="section-title">{t("Preview:")}</h3>
                    <div class="preview-scroll">
                      <table class="preview-table" data-testid="import-preview">
                        <tbody>
                          {preview.map((line, row) => (
                            <tr class={row === 0 && hasHeader ? "preview-header" : ""}>
                              {splitLine(line, delimiter).map((field) => (
                                <td>{field}</td>
                              ))}
                            </tr>
                          ))}
                        </tbody>
                      </table>
                    </div>
                    {dateLines.length > 0 && (
                      <ul class="date-preview" data-testid="date-preview">
                        {dateLines.map((l) => (
                          <li>{l}</li>
                        ))}
                      </ul>
                    )}
                  </div>
                )}
              </div>
            )}
          </form>
        )}
      </div>
    </div>
  );
}
