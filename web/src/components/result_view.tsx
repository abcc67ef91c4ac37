// An analysis's result as its screen shows it: "Calculating..." until the
// server answers, its validity message when the choice cannot be computed,
// else the layout with the command line that recomputes it and, on a phone
// (whose header has no room for the glossary action), a glossary link.
import { useState } from "preact/hooks";
import { t } from "../i18n";
import { LayoutView, type Computed } from "./layout_view";

// The command line that recomputes the result, with a button that copies it.
function CommandLine({ command }: { command: string }) {
  const [copied, setCopied] = useState(false);
  return (
    <div class="result-command" data-testid="result-command">
      <code>{command}</code>
      <button
        class="text-button"
        onClick={() => {
          void navigator.clipboard
            ?.writeText(command)
            .then(() => setCopied(true))
            .catch(() => {});
        }}
      >
        {copied ? t("Copied") : t("Copy")}
      </button>
    </div>
  );
}

// `onGlossary`, when given, opens the glossary (at a term, or at the top);
// the figures whose terms are among `terms` link to it.
export function ResultView({
  computed,
  error,
  terms,
  wide,
  onGlossary,
}: {
  computed: Computed | null;
  error: string | null;
  terms: string[];
  wide: boolean;
  onGlossary?: (term?: string) => void;
}) {
  if (!computed) {
    return (
      <div class="layout-view">
        {error ? (
          <p class="result-error" data-testid="analysis-error">
            {error}
          </p>
        ) : (
          <p class="loading">{t("Calculating...")}</p>
        )}
      </div>
    );
  }
  return (
    <>
      <LayoutView computed={computed} terms={terms} onTerm={onGlossary && ((term) => onGlossary(term))} />
      {typeof computed.result?.command === "string" && <CommandLine command={computed.result.command} />}
      {onGlossary && !wide && (
        <button class="link-button" onClick={() => onGlossary()}>
          {t("Glossary of Terms")}
        </button>
      )}
    </>
  );
}
