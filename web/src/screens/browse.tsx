// The Browse tab: the open workspace as a grid, cells exactly as stored.
// Rows arrive by window as the grid scrolls, so every row can be reached;
// a filter (one condition per column) lives with this page; edit mode
// changes cells, names, rows and variables.
import { useCallback, useEffect, useRef, useState } from "preact/hooks";
import { api, ApiError, followJob, type Status } from "../api";
import type { Shell } from "../app";
import { FilterIcon } from "../components/icons";
import { t } from "../i18n";
import { blobOf, download } from "../components/layout_view";
import { FilterEditor, type Where } from "./filter_editor";

interface Column {
  num: number;
  name: string;
  type: string;
  where?: Where;
}

interface Window {
  columns: Column[];
  rows: { num: number; cells: (string | null)[] }[];
  first: number;
  total: number;
  rowCount: number;
  status: Status;
  filterDescription: string;
  rowsShown: string;
}

// Every row is drawn this tall, so that a scroll position is a row index.
const ROW_H = 40;
const WINDOW = 60;
const AHEAD = 15;

// The filter of this page, kept per open workspace while the page lives.
const filters = new Map<number, Map<number, Where>>();
function filterOf(generation: number): Map<number, Where> {
  if (!filters.has(generation)) filters.set(generation, new Map());
  return filters.get(generation)!;
}

export function NoWorkspace({ shell }: { shell: Shell }) {
  return (
    <div class="empty-state">
      <p class="empty-title">{t("No workspace is open.")}</p>
      <p>{t("Open or create a workspace on the Workspaces tab.")}</p>
      <button class="primary-button" onClick={() => shell.go("workspaces")}>
        {t("Workspaces")}
      </button>
    </div>
  );
}

function sameWhere(a: Where | undefined, b: Where): boolean {
  if (!a || a.op !== b.op) return false;
  if (b.op === 10) return JSON.stringify([...(a.levels ?? [])].sort()) === JSON.stringify([...(b.levels ?? [])].sort());
  return (a.constant ?? "") === (b.constant ?? "");
}

function complete(w: Where): boolean {
  return w.op === 10 ? (w.levels?.length ?? 0) > 0 : (w.constant ?? "") !== "";
}

export function BrowseScreen({ shell }: { shell: Shell }) {
  const generation = shell.status?.generation ?? 0;
  const [win, setWin] = useState<Window | null>(null);
  const [wheres, setWheres] = useState<Map<number, Where>>(() => new Map(filterOf(generation)));
  const [editing, setEditing] = useState<string | null>(null);
  const [processing, setProcessing] = useState<string | null>(null);
  const [editorFor, setEditorFor] = useState<Column | null>(null);
  const [tip, setTip] = useState(false);
  const [exportMenu, setExportMenu] = useState(false);
  const [exporting, setExporting] = useState<string | null>(null);
  const scroller = useRef<HTMLDivElement>(null);
  const latest = useRef(0);
  const firstShown = useRef(0);

  const load = useCallback(
    (first: number, conditions = wheres, session = editing) => {
      const id = ++latest.current;
      const start = Math.max(0, first - AHEAD);
      api
        .post<Window>("/api/browse/window", {
          first: start,
          count: WINDOW,
          wheres: [...conditions.values()],
          session: session ?? undefined,
        })
        .then((w) => {
          if (id !== latest.current) return; // a later scroll asked again
          setWin(w);
          shell.setStatus(w.status);
        })
        .catch(shell.fail);
    },
    [wheres, editing],
  );

  useEffect(() => {
    load(0);
    api
      .get<{ show: boolean }>("/api/help/browse")
      .then((h) => {
        if (h.show) {
          setTip(true);
          void api.post("/api/help/browse/shown").catch(() => {});
        }
      })
      .catch(() => {});
  }, []);

  // A workspace just created empty starts in edit mode, once.
  useEffect(() => {
    if (win?.status.workspace && win.status.initialEdit && !editing) void beginEditing();
  }, [win?.status.initialEdit]);

  useEffect(() => {
    shell.setEditing(editing !== null || exporting !== null);
    return () => shell.setEditing(false);
  }, [editing, exporting]);

  // The data set export: written by the server in the background, then
  // handed to the share sheet (where the browser shares files) or downloaded.
  const exportData = async (filtered: boolean, share: boolean) => {
    setExportMenu(false);
    setExporting(t("Exporting dataset..."));
    try {
      const r = await api.post<{ job: string }>("/api/dataset/export", { wheres: filtered ? [...wheres.values()] : [] });
      followJob(r.job, {
        onEvent: (e) => setExporting(e.text ?? ""),
        onEnd: async (result) => {
          try {
            if (result?.error) throw new ApiError(500, result.error, undefined, { message: result.error });
            const f = await api.get<any>(`/api/dataset/export/${result.file}`);
            const blob = blobOf(f);
            const file = new File([blob], f.name, { type: f.type });
            const nav = navigator as any;
            if (share && nav.canShare && nav.canShare({ files: [file] })) {
              try {
                await nav.share({ files: [file], title: f.subject });
                return;
              } catch {
                // Cancelled: download instead.
              }
            }
            download(blob, f.name);
          } catch (e) {
            shell.fail(e);
          } finally {
            setExporting(null);
          }
        },
      });
    } catch (e) {
      setExporting(null);
      shell.fail(e);
    }
  };

  const onScroll = () => {
    const el = scroller.current;
    if (!el || !win) return;
    const first = Math.floor(el.scrollTop / ROW_H);
    firstShown.current = first;
    // Ask again once the rows drawn no longer cover the view.
    const visible = Math.ceil(el.clientHeight / ROW_H) + 1;
    if (first < win.first || first + visible > win.first + win.rows.length) {
      if (win.first + win.rows.length < win.total || first < win.first) load(first);
    }
  };

  const applyWhere = (col: Column, w: Where | null) => {
    const next = new Map(wheres);
    if (!w || !complete(w)) next.delete(col.num);
    else if (sameWhere(next.get(col.num), w)) return;
    else next.set(col.num, w);
    filterOf(generation).clear();
    next.forEach((v, k) => filterOf(generation).set(k, v));
    setWheres(next);
    if (scroller.current) scroller.current.scrollTop = 0;
    load(0, next);
  };

  const beginEditing = async () => {
    try {
      const r = await api.post<{ session: string }>("/api/browse/edit/begin");
      setEditing(r.session);
      setTip(false);
      load(firstShown.current, wheres, r.session);
      setTimeout(() => (document.querySelector(".grid input.cell-input") as HTMLInputElement | null)?.focus(), 150);
    } catch (e) {
      shell.fail(e);
    }
  };

  const endEditing = async () => {
    const session = editing;
    if (!session) return;
    (document.activeElement as HTMLElement | null)?.blur();
    // Let the blur's cell edit reach the server first.
    await new Promise((r) => setTimeout(r, 50));
    await pendingEdits.current;
    try {
      const r = await api.post<{ job: string; title: string }>("/api/browse/edit/end", { session });
      setProcessing("");
      followJob(r.job, {
        onEvent: (e) => setProcessing(e.name ?? ""),
        onEnd: (result) => {
          setProcessing(null);
          setEditing(null);
          if (result?.status) shell.setStatus(result.status);
          if (result?.error) shell.fail(new ApiError(500, result.error, undefined, { message: result.error }));
          load(firstShown.current, wheres, null);
        },
      });
    } catch (e) {
      setEditing(null);
      shell.fail(e);
    }
  };

  // Cell edits are sent in order; leaving edit mode waits for them.
  const pendingEdits = useRef<Promise<void>>(Promise.resolve());
  const editCell = (colNum: number, rowNum: number, text: string) => {
    if (!editing) return;
    const session = editing;
    pendingEdits.current = pendingEdits.current.then(() =>
      api
        .post("/api/browse/edit/cell", { session, colNum, rowNum, text })
        .then(() => {
          setWin((w) =>
            w
              ? {
                  ...w,
                  rows: w.rows.map((r) =>
                    r.num !== rowNum
                      ? r
                      : { ...r, cells: r.cells.map((c, i) => (w.columns[i].num === colNum ? text : c)) },
                  ),
                }
              : w,
          );
        })
        .catch(shell.fail),
    );
  };

  const rename = async (col: Column, input: HTMLInputElement) => {
    if (!editing || input.value === col.name) return;
    try {
      const r = await api.post<{ accepted: boolean; name: string }>("/api/browse/edit/rename", {
        session: editing,
        colNum: col.num,
        name: input.value,
      });
      input.value = r.name; // a refused name goes back to the current one
      if (r.accepted) load(firstShown.current);
    } catch (e) {
      input.value = col.name;
      shell.fail(e);
    }
  };

  const addVariable = async () => {
    try {
      await api.post("/api/browse/edit/variable", { session: editing });
      load(firstShown.current);
      setTimeout(() => {
        if (scroller.current) scroller.current.scrollLeft = scroller.current.scrollWidth;
      }, 100);
    } catch (e) {
      shell.fail(e);
    }
  };

  const addRow = async () => {
    try {
      await api.post("/api/browse/edit/rows", { session: editing, count: 1 });
      const total = (win?.total ?? 0) + 1;
      load(Math.max(0, total - WINDOW + AHEAD));
      setTimeout(() => {
        if (scroller.current) scroller.current.scrollTop = scroller.current.scrollHeight;
      }, 100);
    } catch (e) {
      shell.fail(e);
    }
  };

  // Return moves to the next field of the row, then to the next row's first field.
  const onKey = (e: KeyboardEvent) => {
    if (e.key !== "Enter") return;
    e.preventDefault();
    const inputs = Array.from(document.querySelectorAll<HTMLInputElement>(".grid tbody input.cell-input"));
    const at = inputs.indexOf(e.currentTarget as HTMLInputElement);
    const next = inputs[at + 1];
    if (next) next.focus();
    else (e.currentTarget as HTMLInputElement).blur();
  };

  const status = win?.status ?? shell.status;
  const numeric = win?.columns.map((c) => c.type === "Numeric") ?? [];
  const top = (win?.first ?? 0) * ROW_H;
  const bottom = win ? Math.max(0, win.total - win.first - win.rows.length) * ROW_H : 0;
  const atEnd = win ? win.first + win.rows.length >= win.total : false;
  const hasWorkspace = !!win?.status.workspace;
  return (
    <section class={`screen browse ${editing ? "editing" : ""}`}>
      <header class="screen-header">
        <h1>{editing ? t("Edit") : t("Browse")}</h1>
        {hasWorkspace && (
          <div class="header-actions">
            <button
              class="text-button"
              data-testid="export-data"
              disabled={!!editing || exporting !== null}
              onClick={() => setExportMenu(true)}
            >
              {t("Export")}
            </button>
            <button
              class={`text-button ${editing ? "primary" : ""}`}
              data-testid="edit-toggle"
              disabled={processing !== null}
              onClick={() => (editing ? void endEditing() : void beginEditing())}
            >
              {editing ? t("Done") : t("Edit")}
            </button>
          </div>
        )}
      </header>
      {tip && hasWorkspace && !editing && (
        <div class="tip" role="note" onClick={() => setTip(false)}>
          {t("Tap to edit or enter data")}
        </div>
      )}
      {status && (
        <p class="status-line" data-testid="status-line">
          {shell.wide ? status.statusLineTablet : status.statusLine}
        </p>
      )}
      {win && (
        <div class="filter-row">
          <p class="filter-line" data-testid="filter-line">
            {win.filterDescription}
          </p>
          {hasWorkspace && (
            <span class="rows-shown" data-testid="rows-shown">
              {win.rowsShown}
            </span>
          )}
        </div>
      )}
      {!win && <p class="loading">{t("Loading...")}</p>}
      {win && !hasWorkspace && <NoWorkspace shell={shell} />}
      {win && hasWorkspace && (
        <div class="grid-scroll" data-testid="grid" ref={scroller} onScroll={onScroll}>
          <table class="grid">
            <thead>
              <tr>
                <th class="corner" scope="col">
                  <span class="visually-hidden">{t("Row")}</span>
                </th>
                {win.columns.map((c) => (
                  <th scope="col" class={`col-header ${wheres.has(c.num) ? "filtered" : ""}`} data-num={c.num}>
                    {editing ? (
                      <input
                        class="name-input"
                        aria-label={t("Variable name")}
                        value={c.name}
                        onBlur={(e) => void rename(c, e.currentTarget)}
                        onKeyDown={(e) => e.key === "Enter" && (e.currentTarget as HTMLInputElement).blur()}
                      />
                    ) : (
                      <span class="col-name">{c.name}</span>
                    )}
                    <button
                      class="filter-icon"
                      title={t("Filter")}
                      aria-label={t("Filter %@", c.name)}
                      disabled={!!editing}
                      onClick={() => setEditorFor(c)}
                    >
                      <FilterIcon size={16} />
                    </button>
                  </th>
                ))}
                {editing && (
                  <th class="add-column" scope="col">
                    <button class="text-button" data-testid="add-variable" onClick={() => void addVariable()}>
                      + {t("Add Variable")}
                    </button>
                  </th>
                )}
              </tr>
            </thead>
            <tbody>
              {top > 0 && <tr class="spacer" style={{ height: `${top}px` }} aria-hidden="true" />}
              {win.rows.map((r) => (
                <tr key={r.num} data-row={r.num}>
                  <th scope="row" class="row-header">
                    {r.num}
                  </th>
                  {r.cells.map((c, i) =>
                    editing ? (
                      <td class="edit-cell">
                        <input
                          class={`cell-input ${numeric[i] ? "num" : ""}`}
                          aria-label={`${win.columns[i].name} ${r.num}`}
                          value={c ?? ""}
                          onKeyDown={onKey}
                          onBlur={(e) => {
                            const text = e.currentTarget.value;
                            if (text !== (c ?? "")) editCell(win.columns[i].num, r.num, text);
                          }}
                        />
                      </td>
                    ) : (
                      <td class={c === null ? "absent" : numeric[i] ? "num" : undefined}>{c ?? ""}</td>
                    ),
                  )}
                  {editing && <td class="add-column" />}
                </tr>
              ))}
              {bottom > 0 && <tr class="spacer" style={{ height: `${bottom}px` }} aria-hidden="true" />}
              {editing && atEnd && (
                <tr class="add-row">
                  <th scope="row" class="row-header">
                    <button class="text-button" data-testid="add-row" aria-label={t("Add Row")} onClick={() => void addRow()}>
                      +
                    </button>
                  </th>
                  <td colSpan={win.columns.length + 1} class="add-row-hint">
                    {t("Add Row")}
                  </td>
                </tr>
              )}
            </tbody>
          </table>
        </div>
      )}
      {editorFor && (
        <FilterEditor
          column={editorFor}
          current={wheres.get(editorFor.num)}
          shell={shell}
          onClose={() => setEditorFor(null)}
          onApply={(w) => {
            applyWhere(editorFor, w);
            setEditorFor(null);
          }}
        />
      )}
      {exportMenu && (
        <div class="scrim" onClick={(e) => e.target === e.currentTarget && setExportMenu(false)}>
          <div class="action-menu" role="menu" aria-label={t("Export dataset as text file.")} data-testid="export-menu">
            <p class="action-menu-title">{t("Export dataset as text file.")}</p>
            <button role="menuitem" onClick={() => void exportData(false, true)}>
              {t("Share full data")}
            </button>
            {wheres.size > 0 && (
              <button role="menuitem" onClick={() => void exportData(true, true)}>
                {t("Share filtered data")}
              </button>
            )}
            <button role="menuitem" onClick={() => void exportData(false, false)}>
              {t("Download full data")}
            </button>
            {wheres.size > 0 && (
              <button role="menuitem" onClick={() => void exportData(true, false)}>
                {t("Download filtered data")}
              </button>
            )}
            <button role="menuitem" class="cancel" onClick={() => setExportMenu(false)}>
              {t("Cancel")}
            </button>
          </div>
        </div>
      )}
      {exporting !== null && (
        <div class="scrim" role="alertdialog" aria-live="polite">
          <div class="progress-panel" data-testid="exporting">
            <p class="progress-title">{exporting}</p>
          </div>
        </div>
      )}
      {processing !== null && (
        <div class="scrim" role="alertdialog" aria-live="polite">
          <div class="progress-panel" data-testid="processing">
            <p class="progress-title">{t("Processing Changed Variables")}</p>
            <p>{processing}</p>
          </div>
        </div>
      )}
    </section>
  );
}

