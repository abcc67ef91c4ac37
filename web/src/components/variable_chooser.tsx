// The sheet that chooses the variables of one position of an analysis: one
// tap chooses for a single position; a multiple one collects ticks until Done.
import { useState } from "preact/hooks";
import { t } from "../i18n";

// A variable as the server names it.
export interface ChoiceRef {
  num: number;
  name: string;
}

// What the server offers for one position, and what is chosen now.
export interface Choices {
  position: number;
  multiple: boolean;
  addAll: boolean;
  offered: ChoiceRef[];
  chosen: ChoiceRef[];
}

// The variable chooser of one position: one choice, or several for position 3.
export function VariableChooser({
  choices,
  onChoose,
  onClose,
}: {
  choices: Choices;
  onChoose: (nums: number[]) => void;
  onClose: () => void;
}) {
  const [picked, setPicked] = useState<number[]>(choices.chosen.map((c) => c.num));
  return (
    <div class="scrim sheet-scrim" onClick={(e) => e.target === e.currentTarget && onClose()}>
      <div class="sheet" role="dialog" aria-modal="true" aria-labelledby="chooser-title">
        <header class="sheet-header">
          <button class="text-button" onClick={onClose}>
            {t("Cancel")}
          </button>
          <h2 id="chooser-title">{t("Choose Variable")}</h2>
          {choices.multiple ? (
            <button class="text-button" onClick={() => onChoose(picked)}>
              {t("Done")}
            </button>
          ) : (
            <span class="header-spacer" />
          )}
        </header>
        {choices.multiple && choices.addAll && (
          <button class="text-button" onClick={() => onChoose(choices.offered.map((c) => c.num))}>
            {t("Add All")}
          </button>
        )}
        <ul class="list" data-testid="variable-chooser">
          {choices.offered.map((v) => (
            <li class="row">
              <button
                class="row-text"
                aria-pressed={choices.multiple ? picked.includes(v.num) : undefined}
                onClick={() =>
                  choices.multiple
                    ? setPicked(picked.includes(v.num) ? picked.filter((n) => n !== v.num) : [...picked, v.num])
                    : onChoose([v.num])
                }
              >
                {choices.multiple && picked.includes(v.num) ? "✓ " : ""}
                {v.name}
              </button>
            </li>
          ))}
          {choices.offered.length === 0 && <li class="empty-row">{t("No variables of the types this position takes.")}</li>}
        </ul>
      </div>
    </div>
  );
}
