// The Workspaces tab: create, open, import and delete the documents.
import { useEffect, useRef, useState } from "preact/hooks";
import { api, ApiError, type Status } from "../api";
import type { Shell } from "../app";
import { showAlert } from "../components/alerts";
import {
  ChevronIcon,
  DocIcon,
  HelpIcon,
  PencilIcon,
  SparkIcon,
  TableFileIcon,
  TrashIcon,
  UploadIcon,
} from "../components/icons";
import { t } from "../i18n";

interface Documents {
  workspaces: { name: string; open: boolean; importing: boolean }[];
  dataFiles: { name: string; extension: string }[];
  status: Status;
}

const helpText =
  "1) Tap Upload File and choose a file on this device; on a computer you can also drop the file on this page.\n2) With Tabulix installed from the browser's menu, share a file from another app and choose Tabulix.\n*Tabulix supports csv, txt, and Excel files.";

const accepted = ".csv,.txt,.xls,.xlsx,.sav,.zsav,.por,.dta,.sas7bdat,.xpt,.tbx,text/csv,text/plain";

// Calls `onLong` when the element is pressed for half a second (delete mode
// is entered by a long press on a list).
function useLongPress(onLong: () => void) {
  const timer = useRef<number | null>(null);
  const fired = useRef(false);
  const clear = () => {
    if (timer.current !== null) window.clearTimeout(timer.current);
    timer.current = null;
  };
  return {
    onPointerDown: () => {
      fired.current = false;
      clear();
      timer.current = window.setTimeout(() => {
        fired.current = true;
        onLong();
      }, 550);
    },
    onPointerUp: clear,
    onPointerLeave: clear,
    onPointerCancel: clear,
    onContextMenu: (e: Event) => e.preventDefault(),
    // A click that ended a long press does not also open the row.
    wasLong: () => fired.current,
  };
}

export function WorkspacesScreen({ shell, onHandOver }: { shell: Shell; onHandOver: (file: string) => void }) {
  const [docs, setDocs] = useState<Documents | null>(null);
  const [deleting, setDeleting] = useState(false);
  const [dragging, setDragging] = useState(false);
  // The percent of an upload sent so far; none while nothing is uploading.
  const [uploaded, setUploaded] = useState<number | null>(null);
  const fileInput = useRef<HTMLInputElement>(null);
  const longPress = useLongPress(() => setDeleting(true));

  const load = async () => {
    try {
      const d = await api.get<Documents>("/api/documents");
      setDocs(d);
      shell.setStatus(d.status);
    } catch (e) {
      shell.fail(e);
    }
  };

  const showHelp = async (counted: boolean) => {
    if (counted) await api.post(`/api/help/import/shown`).catch(() => {});
    await showAlert({ title: t("How to import data"), message: t(helpText), buttons: [t("OK")] });
  };

  useEffect(() => {
    void load();
    // The help shows by itself until it has been seen twice.
    api
      .get<{ show: boolean }>("/api/help/import")
      .then((h) => {
        if (h.show) void showHelp(true);
      })
      .catch(() => {});
  }, []);

  const open = async (name: string) => {
    try {
      const r = await api.post<{ status: Status }>("/api/workspaces/open", { name });
      shell.setStatus(r.status);
      // A file that failed to open (the "Error!" alert) leaves the user here.
      if (r.status.workspace) shell.go("browse");
      else await load();
    } catch (e) {
      shell.fail(e);
    }
  };

  const remove = async (name: string) => {
    const isOpen = docs?.workspaces.some((w) => w.name === name && w.open);
    if (isOpen) {
      await showAlert({ title: t("Confirm Delete"), message: `${t("Cannot delete open workspace:")} ${name}`, buttons: [t("Cancel")] });
      return;
    }
    const choice = await showAlert(
      {
        title: t("Confirm Delete"),
        message: t("Really delete file\n%@? \nCannot be undone.", name),
        buttons: [t("Cancel"), t("Delete")],
      },
      1,
    );
    if (choice !== 1) return;
    try {
      await api.del(`/api/documents?name=${encodeURIComponent(name)}`);
    } catch (e) {
      // The server refuses the open workspace too (another page may have opened it).
      shell.fail(e);
    }
    await load();
  };

  const upload = async (file: File) => {
    setUploaded(0);
    try {
      const r = await api.upload<{ file: string }>(`/api/upload?name=${encodeURIComponent(file.name)}`, file, (f) =>
        setUploaded((u) => Math.max(u ?? 0, Math.floor(f * 100))),
      );
      setUploaded(null);
      onHandOver(r.file);
    } catch (e) {
      setUploaded(null);
      if (e instanceof ApiError && e.status === 413) {
        void showAlert({ title: t("Request failed"), message: e.body?.message ?? e.code, buttons: [t("OK")] });
      } else {
        shell.fail(e);
      }
    }
  };

  const rowProps = (action: () => void) => ({
    ...longPress,
    onClick: () => {
      if (longPress.wasLong() || deleting) return;
      action();
    },
  });

  return (
    <section
      class={`screen workspaces ${dragging ? "dragging" : ""}`}
      onDragOver={(e) => {
        e.preventDefault();
        setDragging(true);
      }}
      onDragLeave={() => setDragging(false)}
      onDrop={(e) => {
        e.preventDefault();
        setDragging(false);
        const f = e.dataTransfer?.files?.[0];
        if (f) void upload(f);
      }}
    >
      <header class="screen-header">
        <h1>{t("Workspaces")}</h1>
        <div class="header-actions">
          <button class="icon-button" aria-label={t("Help")} title={t("Help")} onClick={() => void showHelp(false)}>
            <HelpIcon />
          </button>
          <button class="text-button" onClick={() => setDeleting(!deleting)} aria-pressed={deleting}>
            {deleting ? t("Done") : t("Edit")}
          </button>
        </div>
      </header>
      {shell.status && (
        <p class="status-line" data-testid="status-line">
          {shell.wide ? shell.status.statusLineTablet : shell.status.statusLine}
        </p>
      )}

      <div class="sections">
        <div class="section">
          <h2 class="section-title">{t("Enter Data Manually")}</h2>
          <ul class="list">
            <li>
              <button class="row" disabled={deleting} onClick={() => shell.newWorkspace({ mode: "blank" })}>
                <PencilIcon class="row-icon" />
                <span class="row-text">{t("Create a new empty workspace.")}</span>
                <ChevronIcon class="chevron" />
              </button>
            </li>
          </ul>
        </div>

        <div class="section">
          <h2 class="section-title">{t("Open Example")}</h2>
          <ul class="list">
            <li>
              <button class="row" disabled={deleting} onClick={() => shell.newWorkspace({ mode: "example" })}>
                <SparkIcon class="row-icon accent" />
                <span class="row-text">
                  {t("Create a new workspace based on example.")}
                  <span class="row-sub">{t("Get started with these sample data and analyses")}</span>
                </span>
                <ChevronIcon class="chevron" />
              </button>
            </li>
          </ul>
        </div>

        <div class="section">
          <h2 class="section-title">{t("Open Existing Workspace")}</h2>
          <ul class="list" data-testid="workspace-list">
            {docs && docs.workspaces.length === 0 && <li class="empty-row">{t("No workspaces yet.")}</li>}
            {docs?.workspaces.map((w) => (
              <li class="list-item">
                <button
                  class={`row ${w.open ? "current" : ""}`}
                  data-name={w.name}
                  {...rowProps(() => void open(w.name))}
                >
                  <DocIcon class="row-icon" />
                  <span class="row-text">{w.name}</span>
                  {w.open && <span class="badge">{t("Open")}</span>}
                  {!deleting && <ChevronIcon class="chevron" />}
                </button>
                {deleting && (
                  <button class="delete-button" aria-label={t("Delete %@", w.name)} onClick={() => void remove(w.name)}>
                    <TrashIcon />
                  </button>
                )}
              </li>
            ))}
          </ul>
        </div>

        <div class="section">
          <h2 class="section-title">{t("Import Data Files")}</h2>
          <ul class="list" data-testid="data-file-list">
            {docs && docs.dataFiles.length === 0 && (
              <li class="empty-row">{t("No data files yet. Upload a csv, txt or Excel file.")}</li>
            )}
            {docs?.dataFiles.map((f) => (
              <li class="list-item">
                <button
                  class="row"
                  data-name={f.name}
                  {...rowProps(() => shell.newWorkspace({ mode: "import", file: f.name }))}
                >
                  <TableFileIcon class="row-icon" />
                  <span class="row-text">{f.name}</span>
                  {!deleting && <ChevronIcon class="chevron" />}
                </button>
                {deleting && (
                  <button class="delete-button" aria-label={t("Delete %@", f.name)} onClick={() => void remove(f.name)}>
                    <TrashIcon />
                  </button>
                )}
              </li>
            ))}
            <li>
              <button class="row upload-row" disabled={deleting} onClick={() => fileInput.current?.click()}>
                <UploadIcon class="row-icon accent" />
                <span class="row-text">
                  {t("Upload File")}
                  {uploaded === null ? (
                    <span class="row-sub drop-hint">{t("Drop a file here to import it")}</span>
                  ) : (
                    <span class="row-sub progress-bar">
                      <progress max={100} value={uploaded} aria-label={t("Upload progress")} />
                      <span data-testid="upload-percent">{uploaded}%</span>
                    </span>
                  )}
                </span>
              </button>
              <input
                ref={fileInput}
                type="file"
                accept={accepted}
                hidden
                data-testid="upload-input"
                onChange={(e) => {
                  const input = e.currentTarget as HTMLInputElement;
                  const f = input.files?.[0];
                  input.value = "";
                  if (f) void upload(f);
                }}
              />
            </li>
          </ul>
        </div>
      </div>
    </section>
  );
}
