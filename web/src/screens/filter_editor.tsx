// The condition editor ("Filter") for one variable: the operators its type
// offers, the constant with suggestions from the variable's values, or the
// levels for IN, the summary line, Apply and Clear.
import { useEffect, useRef, useState } from "preact/hooks";
import { api } from "../api";
import type { Shell } from "../app";
import { t } from "../i18n";

// One condition as the server reads it.
export interface Where {
  colNum: number;
  op: number;
  constant?: string;
  levels?: string[];
}

interface Condition {
  name: string;
  type: string;
  operators: { op: number; text: string }[];
  placeholder: string;
  values: string[];
  valuesCut: boolean;
  summary?: string;
  canApply?: boolean;
  complete?: boolean;
}

const IN = 10;
// "is missing" and "is not missing" compare with nothing.
export const noConstant = (op: number) => op === 20 || op === 21;

export function FilterEditor({
  column,
  current,
  shell,
  onApply,
  onClose,
}: {
  column: { num: number; name: string; type: string };
  current?: Where;
  shell: Shell;
  onApply: (w: Where | null) => void;
  onClose: () => void;
}) {
  const [info, setInfo] = useState<Condition | null>(null);
  const [op, setOp] = useState<number>(current?.op ?? -1);
  const [constant, setConstant] = useState(current?.constant ?? "");
  const [levels, setLevels] = useState<string[]>(current?.levels ?? []);
  const [choosing, setChoosing] = useState(false);
  const latest = useRef(0);

  // Asks for the operators, the suggestions for the typed text, the summary
  // and the Apply rule; only the latest answer counts.
  useEffect(() => {
    const id = ++latest.current;
    const draft = op < 0 ? undefined : op === IN ? { op, levels } : noConstant(op) ? { op } : { op, constant };
    const timer = setTimeout(() => {
      api
        .post<Condition>("/api/browse/condition", {
          colNum: column.num,
          typed: op === IN ? "" : constant,
          where: draft,
        })
        .then((c) => {
          if (id !== latest.current) return;
          setInfo(c);
          // An operator the type does not offer falls back to the first.
          if (!c.operators.some((o) => o.op === op) && c.operators.length) setOp(c.operators[0].op);
          // Levels chosen earlier that no longer occur are dropped.
          if (op === IN && !c.valuesCut) setLevels((ls) => ls.filter((l) => c.values.includes(l)));
        })
        .catch(shell.fail);
    }, 120);
    return () => clearTimeout(timer);
  }, [op, constant, levels.join("\u0000")]);

  const where: Where =
    op === IN
      ? { colNum: column.num, op, levels }
      : noConstant(op)
        ? { colNum: column.num, op }
        : { colNum: column.num, op, constant };
  const canApply = info?.canApply ?? false;
  // Why Apply is off: the server refuses a constant its type cannot read.
  const refused = !!info && !info.canApply && op !== IN && !noConstant(op) && constant !== "";
  const reason = !refused
    ? ""
    : info!.type === "DateTime"
      ? t("%@ is not a date", constant)
      : t("%@ is not a number", constant);
  return (
    <div class="scrim sheet-scrim" onClick={(e) => e.target === e.currentTarget && onClose()}>
      <div class="sheet filter-sheet" role="dialog" aria-modal="true" aria-labelledby="filter-title">
        <header class="sheet-header">
          <button class="text-button" onClick={onClose}>
            {t("Cancel")}
          </button>
          <h2 id="filter-title">{t("Filter")}</h2>
          <button class="text-button primary" data-testid="filter-apply" disabled={!canApply}
            aria-describedby={refused ? "filter-reason" : undefined}
            title={reason || undefined}
            onClick={() => onApply(where)}
          >
            {t("Apply")}
          </button>
        </header>
        <div class="sheet-body">
          <p class="filter-variable">{column.name}</p>
          <div class="segmented operators" role="radiogroup" aria-label={t("Operator")}>
            {(info?.operators ?? []).map((o) => (
              <button
                role="radio"
                aria-checked={o.op === op}
                class={o.op === op ? "on" : ""}
                onClick={() => {
                  setOp(o.op);
                  setChoosing(false);
                }}
              >
                {o.text}
              </button>
            ))}
          </div>
          {op !== IN && !noConstant(op) && info && (
            <div class="field">
              <input
                class="text-input"
                data-testid="filter-constant"
                aria-label={t("Value of %@", column.name)}
                placeholder={info.placeholder}
                inputMode={info.type === "Numeric" ? "decimal" : "text"}
                value={constant}
                onInput={(e) => setConstant(e.currentTarget.value)}
                autoFocus
              />
              <ul class="suggestions" aria-label={t("Suggestions")}>
                {info.values.slice(0, 40).map((v) => (
                  <li>
                    <button class="suggestion" onClick={() => setConstant(v)}>
                      {v}
                    </button>
                  </li>
                ))}
              </ul>
            </div>
          )}
          {op === IN && info && (
            <div class="field">
              <button class="text-button choose-levels" data-testid="choose-levels" onClick={() => setChoosing(!choosing)}>
                {t("Choose levels...")}
              </button>
              {choosing && (
                <ul class="level-list">
                  {info.values.map((v) => (
                    <li>
                      <label class="level">
                        <input
                          type="checkbox"
                          checked={levels.includes(v)}
                          onChange={(e) =>
                            setLevels((ls) => (e.currentTarget.checked ? [...ls, v] : ls.filter((l) => l !== v)))
                          }
                        />
                        <span>{v}</span>
                      </label>
                    </li>
                  ))}
                </ul>
              )}
            </div>
          )}
          {refused ? (
            <p class="apply-reason" id="filter-reason" role="status" data-testid="filter-reason">
              {reason}
            </p>
          ) : (
            <p class="filter-summary" data-testid="filter-summary">
              {info?.summary ?? ""}
            </p>
          )}
          <button class="text-button destructive" data-testid="filter-clear" onClick={() => onApply(null)}>
            {t("Clear")}
          </button>
        </div>
      </div>
    </div>
  );
}
