// The import's progress screen: the server's job reports each status text;
// at the end the alerts of the outcome, then the new workspace in Browse.
import { useEffect, useState } from "preact/hooks";
import { followJob } from "../api";
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

  useEffect(() => {
    return followJob(run.job, {
      onEvent: (e) => {
        if (typeof e.status === "string") setStatus(e.status);
      },
      onEnd: async (result) => {
        setDone(true);
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
        {!done && <div class="spinner" aria-hidden="true" />}
        <p class="progress-title">{run.workspace}</p>
        <p class="progress-status" data-testid="import-status">
          {status}
        </p>
      </div>
    </div>
  );
}
