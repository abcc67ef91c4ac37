// What the installed app shows when it opened from its cache and no server
// answers: plainly that the server is not reachable and how to start it.
import { t } from "../i18n";

export function Offline({ onRetry }: { onRetry: () => void }) {
  return (
    <main class="offline" data-testid="offline">
      <img src="/icons/icon.svg" alt="" width="72" height="72" />
      <h1>{t("The Tabulix server is not reachable")}</h1>
      <p>{t("Tabulix keeps your workspaces on the computer that runs its server. Start the server there with:")}</p>
      <pre class="offline-command">tabulix serve</pre>
      <p>{t("then open the address it prints (or reload this page if the server runs at the same address).")}</p>
      <button class="primary-button" onClick={onRetry}>
        {t("Reload")}
      </button>
    </main>
  );
}
