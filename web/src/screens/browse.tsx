// The Browse tab: the open workspace as a grid, cells exactly as stored.
// Rows arrive by window as the grid scrolls, so every row can be reached;
// a filter (one condition per column) lives with this page; edit mode
// changes cells, names, rows and variables.
import { useCallback, useEffect, useRef, useState } from "preact/hooks";
import { api, ApiError, followJob, type Status } from "../api";
import type { Shell } from "../app";
import { FilterIcon } from "../components/icons";
import { UndoRedo } from "../components/undo_redo";
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

// "3, 7-9" as row numbers; null when any part is not a number or a range.
export function parseRowList(text: string): number[] | null {
  const rows = new Set<number>();
  const parts = text.split(",").map((p) => p.trim());
  if (!parts.some((p) => p !== "")) return null;
  for (const p of parts) {
    if (p === "") continue;
    const m = /^(\d+)(?:\s*-\s*(\d+))?$/.exec(p);
    if (!m) return null;
    const a = Number(m[1]);
    const b = m[2] === undefined ? a : Number(m[2]);
    if (a < 1 || b < a || b - a >= 100000) return null;
    for (let r = a; r <= b; r++) rows.add(r);
  }
  return [...rows].sort((x, y) => x - y);
}

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
      // Once the fields are drawn the first takes the focus, unless the user
      // has already moved into the grid: a late focus would pull them back.
      setTimeout(() => {
        if (document.querySelector(".grid")?.contains(document.activeElement)) return;
        (document.querySelector(".grid input.cell-input") as HTMLInputElement | null)?.focus();
      }, 150);
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

  // Deleting rows in edit mode: "3, 7-9"; the rows after them move up.
  const [deletingRows, setDeletingRows] = useState(false);
  const [rowsText, setRowsText] = useState("");
  const deleteRows = async () => {
    const rows = parseRowList(rowsText);
    if (!rows) return;
    try {
      await api.post("/api/browse/edit/deleteRows", { session: editing, rows });
      setDeletingRows(false);
      setRowsText("");
      load(firstShown.current, wheres, editing ?? undefined);
    } catch (e) {
      shell.fail(e);
    }
  };

  // The cell the keyboard is on: the grid's one tab stop while browsing.
  const [active, setActive] = useState<{ row: number; col: number }>({ row: 1, col: 0 });

  // Moves the keyboard from the cell at (row, col) by rows and columns. A
  // row not drawn yet is scrolled to, and focused once its window arrives.
  const moveFrom = (row: number, col: number, dRow: number, dCol: number): boolean => {
    if (!win) return false;
    const at = win.rows.findIndex((r) => r.num === row);
    const nextCol = col + dCol;
    if (nextCol < 0 || nextCol >= win.columns.length) return false;
    // Rows are numbered in the order shown only without a filter: step
    // through the drawn rows, and beyond them by row height.
    const drawn = win.rows[at + dRow];
    const wanted = drawn ? drawn.num : null;
    const index = win.first + at + dRow;
    if (index < 0 || index >= win.total) return false;
    const focusCell = (num: number) => {
      const el = scroller.current?.querySelector<HTMLElement>(`tr[data-row="${num}"] > [data-col="${nextCol}"]`);
      if (!el) return false;
      const target = el.querySelector<HTMLElement>("input") ?? el;
      target.focus();
      target.scrollIntoView({ block: "nearest", inline: "nearest" });
      if (target instanceof HTMLInputElement) target.select();
      return true;
    };
    if (wanted !== null) return focusCell(wanted);
    const el = scroller.current;
    if (!el) return false;
    el.scrollTop = Math.max(0, index * ROW_H - el.clientHeight / 2);
    // The window for that place is being fetched; focus its row when drawn.
    let tries = 0;
    const retry = () => {
      const row = scroller.current?.querySelectorAll<HTMLElement>("tbody tr[data-row]");
      const hit = Array.from(row ?? []).find((tr) => Number(tr.dataset.index) === index);
      if (hit && focusCell(Number(hit.dataset.row))) return;
      if (++tries < 40) setTimeout(retry, 50);
    };
    setTimeout(retry, 50);
    return true;
  };

  // Enter moves down, Tab right (Shift back), the arrow keys to the next
  // cell; while a field is edited, left and right move the caret until it
  // reaches the field's end.
  const onGridKey = (e: KeyboardEvent) => {
    const target = e.target as HTMLElement;
    const cell = target.closest<HTMLElement>("[data-col]");
    const tr = target.closest<HTMLElement>("tr[data-row]");
    if (!cell || !tr) return;
    const row = Number(tr.dataset.row);
    const col = Number(cell.dataset.col);
    const input = target instanceof HTMLInputElement ? target : null;
    const caretAtStart = !input || (input.selectionStart === 0 && input.selectionEnd === 0);
    const caretAtEnd = !input || (input.selectionStart === input.value.length && input.selectionEnd === input.value.length);
    const whole = !!input && input.selectionStart === 0 && input.selectionEnd === input.value.length;
    let moved = false;
    if (e.key === "Enter") {
      moved = moveFrom(row, col, e.shiftKey ? -1 : 1, 0);
      if (!moved && input) input.blur();
      e.preventDefault();
      return;
    }
    if (e.key === "Tab") moved = moveFrom(row, col, 0, e.shiftKey ? -1 : 1);
    else if (e.key === "ArrowDown") moved = moveFrom(row, col, 1, 0);
    else if (e.key === "ArrowUp") moved = moveFrom(row, col, -1, 0);
    else if (e.key === "ArrowRight" && (caretAtEnd || whole)) moved = moveFrom(row, col, 0, 1);
    else if (e.key === "ArrowLeft" && (caretAtStart || whole)) moved = moveFrom(row, col, 0, -1);
    else return;
    if (moved || e.key.startsWith("Arrow")) e.preventDefault();
  };

  const status = win?.status ?? shell.status;
  const numeric = win?.columns.map((c) => c.type === "Numeric") ?? [];
  const top = (win?.first ?? 0) * ROW_H;
  const bottom = win ? Math.max(0, win.total - win.first - win.rows.length) * ROW_H : 0;
  const atEnd = win ? win.first + win.rows.length >= win.total : false;
  const hasWorkspace = !!win?.status.workspace;
  // The tab stop stays on a drawn row: the active one, else the first drawn.
  const activeRow = win?.rows.some((r) => r.num === active.row) ? active.row : (win?.rows[0]?.num ?? 0);
  const activeCol = Math.min(active.col, Math.max(0, (win?.columns.length ?? 1) - 1));
  return (
    <section class={`screen browse ${editing ? "editing" : ""}`}>
      <header class="screen-header">
        <h1>{editing ? t("Edit") : t("Browse")}</h1>
        {hasWorkspace && (
          <div class="header-actions">
            <UndoRedo shell={shell} onMoved={() => load(firstShown.current, wheres, editing ?? undefined)} />
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
          {wheres.size > 0 && (
            <button
              class="text-button destructive"
              data-testid="clear-filters"
              onClick={() => {
                filterOf(generation).clear();
                const none = new Map<number, Where>();
                setWheres(none);
                load(0, none, editing ?? undefined);
              }}
            >
              {t("Clear all filters")}
            </button>
          )}
          {editing && (
            <button class="text-button destructive" data-testid="delete-rows" onClick={() => setDeletingRows(true)}>
              {t("Delete rows")}
            </button>
          )}
        </div>
      )}
      {deletingRows && editing && (
        <form
          class="delete-rows-form"
          onSubmit={(e) => {
            e.preventDefault();
            void deleteRows();
          }}
        >
          <label for="rows-to-delete">{t("Rows to delete (for example 3, 7-9):")}</label>
          <input
            id="rows-to-delete"
            class="text-input"
            data-testid="rows-to-delete"
            value={rowsText}
            inputMode="numeric"
            onInput={(e) => setRowsText(e.currentTarget.value)}
            autoFocus
          />
          <button class="text-button" type="button" onClick={() => setDeletingRows(false)}>
            {t("Cancel")}
          </button>
          <button class="text-button destructive" type="submit" disabled={!parseRowList(rowsText)}>
            {t("Delete")}
          </button>
        </form>
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
                {win.columns.map((c, i) => (
                  <th scope="col" class={`col-header ${wheres.has(c.num) ? "filtered" : ""}`} data-num={c.num}>
                    {editing ? (
                      <input
                        class="name-input"
                        aria-label={t("Name of variable %u", i + 1)}
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
            <tbody
              onKeyDown={onGridKey}
              onFocusIn={(e) => {
                const cell = (e.target as HTMLElement).closest<HTMLElement>("[data-col]");
                const tr = (e.target as HTMLElement).closest<HTMLElement>("tr[data-row]");
                if (cell && tr) setActive({ row: Number(tr.dataset.row), col: Number(cell.dataset.col) });
              }}
            >
              {top > 0 && <tr class="spacer" style={{ height: `${top}px` }} aria-hidden="true" />}
              {win.rows.map((r, index) => (
                <tr key={r.num} data-row={r.num} data-index={win.first + index}>
                  <th scope="row" class="row-header">
                    {r.num}
                  </th>
                  {r.cells.map((c, i) =>
                    editing ? (
                      <td class="edit-cell" data-col={i}>
                        <input
                          class={`cell-input ${numeric[i] ? "num" : ""}`}
                          aria-label={t("%@, row %u", win.columns[i].name, r.num)}
                          value={c ?? ""}
                          onBlur={(e) => {
                            const text = e.currentTarget.value;
                            if (text !== (c ?? "")) editCell(win.columns[i].num, r.num, text);
                          }}
                        />
                      </td>
                    ) : (
                      <td
                        class={c === null ? "absent" : numeric[i] ? "num" : undefined}
                        data-col={i}
                        tabIndex={r.num === activeRow && i === activeCol ? 0 : -1}
                      >
                        {c ?? ""}
                      </td>
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

