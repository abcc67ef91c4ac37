// The application shell: five tabs, the shared status of the open
// workspace, and the modal screens (new workspace, import progress, alerts).
import { useCallback, useEffect, useState } from "preact/hooks";
import { api, ApiError, onServerAlert, shellHeaders, type Status } from "./api";
import { chartBoxWidth, chartUnits } from "./components/chart_size";
import { AlertHost, showAlert, showAlertOnce, ToastHost } from "./components/alerts";
import { installModalFocus } from "./components/modal_focus";
import { Offline } from "./components/offline";
import { GlossaryHost } from "./components/glossary";
import { ChartIcon, FolderIcon, GridIcon, InfoIcon, VariablesIcon } from "./components/icons";
import { t } from "./i18n";
import { AboutScreen } from "./screens/about";
import { AnalysisScreen } from "./screens/analysis";
import { BrowseScreen } from "./screens/browse";
import { ImportProgress, type ImportRun } from "./screens/import_progress";
import { NewWorkspace, type NewWorkspaceRequest } from "./screens/new_workspace";
import { VariablesScreen } from "./screens/variables";
import { WorkspacesScreen } from "./screens/workspaces";
import { useWide } from "./use_wide";

export type Tab = "workspaces" | "browse" | "variables" | "analysis" | "about";

const tabs: { id: Tab; title: string; Icon: typeof FolderIcon }[] = [
  { id: "workspaces", title: "Workspaces", Icon: FolderIcon },
  { id: "browse", title: "Browse", Icon: GridIcon },
  { id: "variables", title: "Variables", Icon: VariablesIcon },
  { id: "analysis", title: "Analysis", Icon: ChartIcon },
  { id: "about", title: "About", Icon: InfoIcon },
];

// What every screen may use of the shell.
export interface Shell {
  status: Status | null;
  wide: boolean;
  // Asks the server for the status again (after another page changed it).
  refreshStatus: () => Promise<void>;
  // Takes a status the server returned with an answer.
  setStatus: (s: Status) => void;
  go: (tab: Tab) => void;
  newWorkspace: (req: NewWorkspaceRequest) => void;
  startImport: (run: ImportRun) => void;
  // Reports a failed request with an alert.
  fail: (e: unknown) => void;
  // While Browse is in edit mode the other tabs are disabled.
  setEditing: (editing: boolean) => void;
}

function tabFromHash(): Tab {
  // "#/<tab>" and deeper locations such as "#/<tab>/glossary/<term>".
  const h = location.hash.replace(/^#\/?/, "").split("/")[0];
  return (tabs.find((x) => x.id === h)?.id ?? "workspaces") as Tab;
}

// Reports a failed request. Requests that fail together (a screen asking
// for its list and the status at once while the server is down) show one
// alert: an alert equal to one still open is not queued again.
export function failAlert(e: unknown): void {
  // The alerts the server raised (the store failure's "Error!") were shown
  // already and say what went wrong.
  if (e instanceof ApiError && Array.isArray(e.body?.alerts) && e.body.alerts.length > 0 && !e.alert) return;
  if (e instanceof ApiError && e.alert) {
    void showAlertOnce(e.alert);
  } else if (e instanceof ApiError && e.status === 0) {
    void showAlertOnce({ title: t("Request failed"), message: t("The server could not be reached."), buttons: [t("OK")] });
  } else {
    // The server words its refusals through its own translation lookup.
    const msg = e instanceof ApiError ? (e.body?.message ?? e.code) : String(e);
    void showAlertOnce({ title: t("Request failed"), message: msg, buttons: [t("OK")] });
  }
}

export function App() {
  const [tab, setTab] = useState<Tab>(tabFromHash());
  const [status, setStatusState] = useState<Status | null>(null);
  const [sheet, setSheet] = useState<NewWorkspaceRequest | null>(null);
  const [importRun, setImportRun] = useState<ImportRun | null>(null);
  const [editing, setEditing] = useState(false);
  // The first status request found no server (the installed app opened
  // from its cache while the server is stopped).
  const [unreachable, setUnreachable] = useState(false);
  const wide = useWide();

  // Answers can arrive out of order (a status request that waited behind an
  // import's end, the import's own end event): a status from an older
  // generation of the open workspace never replaces a newer one.
  const acceptStatus = useCallback(
    (s: Status) => setStatusState((prev) => (prev && (s.generation ?? 0) < (prev.generation ?? 0) ? prev : s)),
    [],
  );
  const setStatus = acceptStatus;
  // The page speaks the language its numbers are written in.
  useEffect(() => {
    if (status?.locale) document.documentElement.lang = status.locale;
  }, [status?.locale]);
  const refreshStatus = useCallback(async () => {
    try {
      acceptStatus(await api.get<Status>("/api/status"));
      setUnreachable(false);
    } catch (e) {
      if (e instanceof ApiError && e.status === 0) setUnreachable(true);
      else failAlert(e);
    }
  }, []);
  const go = useCallback((next: Tab) => {
    setTab(next);
    if (location.hash !== `#/${next}`) history.replaceState(null, "", `#/${next}`);
  }, []);

  useEffect(() => installModalFocus(), []);

  // Charts are drawn for the width this page shows them at.
  useEffect(() => {
    const size = () => {
      shellHeaders["X-Tabulix-Chart-Width"] = String(chartUnits(chartBoxWidth(window.innerWidth, wide)));
    };
    size();
    window.addEventListener("resize", size);
    return () => window.removeEventListener("resize", size);
  }, [wide]);

  useEffect(() => {
    onServerAlert((a) => void showAlert(a));
    const onHash = () => setTab(tabFromHash());
    window.addEventListener("hashchange", onHash);
    void refreshStatus();
    // A file shared into the installed app, or handed over by the share
    // target, arrives as ?open=<file in the documents folder>.
    const params = new URLSearchParams(location.search);
    const shared = params.get("open");
    if (shared) {
      history.replaceState(null, "", location.pathname + "#/workspaces");
      setTab("workspaces");
      handOver(shared);
    }
    // Another page may open a workspace; look again when this one returns.
    const onVisible = () => {
      if (document.visibilityState === "visible") void refreshStatus();
    };
    document.addEventListener("visibilitychange", onVisible);
    return () => {
      window.removeEventListener("hashchange", onHash);
      document.removeEventListener("visibilitychange", onVisible);
    };
  }, []);

  // A file handed over by the system: a workspace opens, anything else is imported.
  const handOver = (file: string) => {
    if (file.toLowerCase().endsWith(".tbx")) {
      api
        .post<{ status: Status }>("/api/workspaces/open", { name: file })
        .then((r) => {
          acceptStatus(r.status);
          go("browse");
        })
        .catch(failAlert);
    } else {
      setSheet({ mode: "import", file });
    }
  };

  const shell: Shell = {
    status,
    wide,
    refreshStatus,
    setStatus,
    go,
    newWorkspace: setSheet,
    startImport: setImportRun,
    fail: failAlert,
    setEditing,
  };
  const generation = status?.generation ?? 0;

  if (unreachable && !status) return <Offline onRetry={() => location.reload()} />;

  return (
    <div class={`app ${wide ? "wide" : "narrow"}`}>
      <nav class="tabbar" aria-label="Tabs">
        <div class="tabbar-brand" aria-hidden="true">
          <img src="/icons/icon.svg" alt="" width="36" height="36" />
        </div>
        {tabs.map(({ id, title, Icon }) => (
          <button
            class={`tab ${tab === id ? "selected" : ""}`}
            aria-current={tab === id ? "page" : undefined}
            disabled={editing && id !== tab}
            onClick={() => {
              go(id);
              void refreshStatus();
            }}
          >
            <Icon size={24} />
            <span class="tab-title">{t(title)}</span>
          </button>
        ))}
      </nav>
      <main class="content">
        {tab === "workspaces" && <WorkspacesScreen shell={shell} onHandOver={handOver} />}
        {tab === "browse" && <BrowseScreen key={`b${generation}`} shell={shell} />}
        {tab === "variables" && <VariablesScreen key={`v${generation}`} shell={shell} />}
        {tab === "analysis" && <AnalysisScreen key={`a${generation}`} shell={shell} />}
        {tab === "about" && <AboutScreen shell={shell} />}
      </main>
      {sheet && <NewWorkspace request={sheet} shell={shell} onClose={() => setSheet(null)} />}
      {importRun && <ImportProgress run={importRun} shell={shell} onClose={() => setImportRun(null)} />}
      <GlossaryHost />
      <AlertHost />
      <ToastHost />
    </div>
  );
}
