// The Browse tab: the open workspace as a grid, cells exactly as stored.
import { useEffect, useState } from "preact/hooks";
import { api, type Status } from "../api";
import type { Shell } from "../app";
import { FilterIcon } from "../components/icons";
import { t } from "../i18n";

interface Grid {
  columns: { num: number; name: string; type: string }[];
  rows: { num: number; cells: (string | null)[] }[];
  cellCount: number;
  rowCount: number;
  columnCount: number;
  truncated: boolean;
  status: Status;
  filterDescription: string;
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

export function BrowseScreen({ shell }: { shell: Shell }) {
  const [grid, setGrid] = useState<Grid | null>(null);

  useEffect(() => {
    api
      .get<Grid>("/api/browse")
      .then((g) => {
        setGrid(g);
        shell.setStatus(g.status);
      })
      .catch(shell.fail);
  }, []);

  const status = grid?.status ?? shell.status;
  // Numbers line up on the right; the texts themselves are shown as stored.
  const numeric = grid?.columns.map((c) => c.type === "Numeric") ?? [];
  return (
    <section class="screen browse">
      <header class="screen-header">
        <h1>{t("Browse")}</h1>
      </header>
      {status && (
        <p class="status-line" data-testid="status-line">
          {shell.wide ? status.statusLineTablet : status.statusLine}
        </p>
      )}
      {grid && <p class="filter-line" data-testid="filter-line">{grid.filterDescription}</p>}
      {!grid && <p class="loading">{t("Loading...")}</p>}
      {grid && !grid.status.workspace && <NoWorkspace shell={shell} />}
      {grid && grid.status.workspace && (
        <div class="grid-scroll" data-testid="grid">
          <table class="grid">
            <thead>
              <tr>
                <th class="corner" scope="col">
                  <span class="visually-hidden">{t("Row")}</span>
                </th>
                {grid.columns.map((c) => (
                  <th scope="col" class="col-header" data-num={c.num}>
                    <span class="col-name">{c.name}</span>
                    <span class="filter-icon" title={t("Filter")} aria-hidden="true">
                      <FilterIcon size={16} />
                    </span>
                  </th>
                ))}
              </tr>
            </thead>
            <tbody>
              {grid.rows.map((r) => (
                <tr>
                  <th scope="row" class="row-header">
                    {r.num}
                  </th>
                  {r.cells.map((c, i) => (
                    <td class={c === null ? "absent" : numeric[i] ? "num" : undefined}>{c ?? ""}</td>
                  ))}
                </tr>
              ))}
            </tbody>
          </table>
          {grid.truncated && <p class="grid-note">{t("Showing the first %u cells.", grid.cellCount)}</p>}
        </div>
      )}
    </section>
  );
}
