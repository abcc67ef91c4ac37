// The import's progress screen: the server's job reports each status text
// and how much of the file it has read; at the end the alerts of the
// outcome, then the new workspace in Browse. Cancel stops the import and
// leaves every workspace as it was.
import { useEffect, useState } from "preact/hooks";
import { api, followJob } from "../api";
import type { Shell } from "../app";
import { showAlert } from "../components/alerts";
import { t } from "../i18n";

export interface ImportRun {
  job: string;
  workspace: string;
}

export function ImportProgress({ run, shell, onClose }: { run: ImportRun; shell: Shell; onClose: () => void }) {
  const [status, setStatus] = useState(t("Importing file..."));
  const [done, setDone] = useState(false);
  // Of the file read, 0..1; none until the reader tells.
  const [fraction, setFraction] = useState<number | null>(null);
  const [cancelling, setCancelling] = useState(false);

  useEffect(() => {
    return followJob(run.job, {
      onEvent: (e) => {
        if (typeof e.status === "string") setStatus(e.status);
        if (typeof e.fraction === "number") setFraction((f) => Math.max(f ?? 0, Math.min(1, e.fraction)));
        // Past the reading the whole file has been read.
        else if (e.status === t("Determining Variable Types...")) setFraction(1);
      },
      onEnd: async (result) => {
        setDone(true);
        if (result?.cancelled) {
          await showAlert({ title: t("Import cancelled."), message: "", buttons: [t("OK")] });
          await shell.refreshStatus();
          onClose();
          shell.go("workspaces");
          return;
        }
        if (result?.status) setStatus(result.status);
        if (result?.alert) await showAlert(result.alert);
        if (result?.error) {
          await showAlert({ title: t("Error While Importing"), message: String(result.error), buttons: [t("OK")] });
        }
        if (result?.statusBlock) shell.setStatus(result.statusBlock);
        else await shell.refreshStatus();
        onClose();
        // A refused or unsaved import opened nothing new.
        shell.go(result?.error ? "workspaces" : "browse");
      },
    });
  }, [run.job]);

  return (
    <div class="scrim">
      <div class="progress-panel" role="status" aria-live="polite">
        {/* One slot of fixed height for the spinner, then the bar: the panel
            keeps its size as the reader starts telling how far it is, so
            the Cancel button stays where the finger is. */}
        <div class="progress-slot">
          {fraction === null ? (
            !done && <div class="spinner" aria-hidden="true" />
          ) : (
            <div class="progress-bar">
              <progress max={100} value={Math.floor(fraction * 100)} aria-label={t("Import progress")} />
              <span data-testid="import-percent" class="progress-percent">
                {Math.floor(fraction * 100)}%
              </span>
            </div>
          )}
        </div>
        <p class="progress-title">{run.workspace}</p>
        <p class="progress-status" data-testid="import-status">
          {status}
        </p>
        {!done && (
          <button
            class="text-button"
            disabled={cancelling}
            onClick={() => {
              setCancelling(true);
              api.post(`/api/jobs/${encodeURIComponent(run.job)}/cancel`).catch((e) => {
                setCancelling(false);
                shell.fail(e);
              });
            }}
          >
            {t("Cancel")}
          </button>
        )}
      </div>
    </div>
  );
}
