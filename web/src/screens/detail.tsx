// The detail of one variable: the cached figures at once, then the full
// figures, charts and most frequent values computed by the server over the
// rows this screen's own filter keeps; share and print.
import { useEffect, useRef, useState } from "preact/hooks";
import { api, ApiError, followJob } from "../api";
import type { Shell } from "../app";
import { GlossaryButton, openGlossary, variableDetailTerms } from "../components/glossary";
import { LayoutView, printResult, shareResult, type Computed } from "../components/layout_view";
import { LevelOrder } from "../components/level_order";
import { VariableSettings } from "../components/variable_settings";
import { t } from "../i18n";
import { FilterEditor, type Where } from "./filter_editor";
import type { Card } from "./variables";

export interface VariableRef {
  num: number;
  name: string;
  type: Card["type"];
}

const typeLines: Record<string, string> = {
  Categorical: "Type: Categorical",
  Binary: "Type: Binary",
  Numeric: "Type: Numeric",
  DateTime: "Type: Date / Time",
};

// Operator symbols for the filter list (the server words IN and Contains).
const opText: Record<number, string> = { 0: "<", 1: "≤", 2: ">", 3: "≥", 4: "=", 5: "≠", 10: "IN", 99: "Contains" };

export function whereText(w: Where, name: string): string {
  if (w.op === 20) return `${name} ${t("is missing")}`;
  if (w.op === 21) return `${name} ${t("is not missing")}`;
  const value = w.op === 10 ? [...(w.levels ?? [])].join(", ") : (w.constant ?? "");
  return `${name} ${w.op === 10 ? t("IN") : w.op === 99 ? t("Contains") : opText[w.op] ?? t("Unknown op")} ${value}`;
}

// The filter list ("Set Filters") of an in-memory condition set.
export function FilterList({
  wheres,
  variables,
  shell,
  onChange,
  onClose,
}: {
  wheres: Where[];
  variables: VariableRef[];
  shell: Shell;
  onChange: (w: Where[]) => void;
  onClose: () => void;
}) {
  const [picking, setPicking] = useState(false);
  const [search, setSearch] = useState("");
  const [editing, setEditing] = useState<{ column: VariableRef; index: number | null } | null>(null);
  const nameOf = (num: number) => variables.find((v) => v.num === num)?.name ?? "";
  const sorted = wheres
    .map((w, i) => ({ w, i }))
    .sort(
      (a, b) =>
        nameOf(a.w.colNum).localeCompare(nameOf(b.w.colNum)) ||
        a.w.op - b.w.op ||
        (a.w.constant ?? "").localeCompare(b.w.constant ?? ""),
    );
  const fold = (s: string) => s.normalize("NFD").replace(/\p{M}/gu, "").toLowerCase();
  return (
    <div class="scrim sheet-scrim" onClick={(e) => e.target === e.currentTarget && onClose()}>
      <div class="sheet" role="dialog" aria-modal="true" aria-labelledby="filters-title">
        <header class="sheet-header">
          <button class="text-button" onClick={onClose}>
            {t("Done")}
          </button>
          <h2 id="filters-title">{t("Set Filters")}</h2>
          <button class="text-button" data-testid="add-filter" onClick={() => setPicking(true)}>
            {t("Add")}
          </button>
        </header>
        {!picking && (
          <ul class="list filter-list">
            {sorted.map(({ w, i }) => (
              <li class="row filter-row-item">
                <button
                  class="row-text"
                  onClick={() => {
                    const column = variables.find((v) => v.num === w.colNum);
                    if (column) setEditing({ column, index: i });
                  }}
                >
                  {whereText(w, nameOf(w.colNum))}
                </button>
                <button
                  class="text-button destructive"
                  aria-label={t("Delete %@", whereText(w, nameOf(w.colNum)))}
                  onClick={() => onChange(wheres.filter((_, j) => j !== i))}
                >
                  {t("Delete")}
                </button>
              </li>
            ))}
            {wheres.length === 0 && <li class="empty-row">{t("No filters")}</li>}
            {wheres.length > 1 && (
              <li class="row">
                <button class="text-button destructive" data-testid="clear-filters" onClick={() => onChange([])}>
                  {t("Clear all filters")}
                </button>
              </li>
            )}
          </ul>
        )}
        {picking && (
          <div class="sheet-body">
            <input
              class="text-input"
              placeholder={t("Search variables")}
              value={search}
              onInput={(e) => setSearch(e.currentTarget.value)}
              autoFocus
            />
            <ul class="list">
              {variables
                .filter((v) => fold(v.name).includes(fold(search)))
                .map((v) => (
                  <li class="row">
                    <button
                      class="row-text"
                      onClick={() => {
                        setPicking(false);
                        setEditing({ column: v, index: null });
                      }}
                    >
                      {v.name}
                    </button>
                  </li>
                ))}
            </ul>
          </div>
        )}
      </div>
      {editing && (
        <FilterEditor
          column={editing.column}
          current={editing.index === null ? undefined : wheres[editing.index]}
          shell={shell}
          onClose={() => setEditing(null)}
          onApply={(w) => {
            const next = [...wheres];
            const complete = w && (w.op === 10 ? (w.levels?.length ?? 0) > 0 : (w.constant ?? "") !== "");
            if (editing.index !== null) {
              if (complete) next[editing.index] = w!;
              else next.splice(editing.index, 1);
            } else if (complete) {
              next.push(w!);
            }
            onChange(next);
            setEditing(null);
          }}
        />
      )}
    </div>
  );
}

export function DetailScreen({ card, shell, onClose }: { card: Card; shell: Shell; onClose: () => void }) {
  const [wheres, setWheres] = useState<Where[]>([]);
  const [computed, setComputed] = useState<Computed | null>(null);
  const [error, setError] = useState<string | null>(null);
  const [variables, setVariables] = useState<VariableRef[]>([]);
  const [filtering, setFiltering] = useState(false);
  const [busy, setBusy] = useState(false);
  const [levelsChanged, setLevelsChanged] = useState(0);
  // The type as last chosen here (the card the detail opened from keeps its own).
  const [shownType, setShownType] = useState(card.type);
  const latest = useRef(0);

  useEffect(() => {
    api
      .get<{ cards: Card[] }>("/api/variables")
      .then((v) => setVariables(v.cards.map((c) => ({ num: c.num, name: c.name, type: c.type }))))
      .catch(() => {});
  }, []);

  // Computed again whenever the filter changes; only the latest answer shows.
  useEffect(() => {
    const id = ++latest.current;
    setComputed(null);
    setError(null);
    let stop = () => {};
    api
      .post<{ job: string }>("/api/analyze", { kind: "detail", left: card.num, wheres })
      .then((r) => {
        if (id !== latest.current) return;
        stop = followJob(r.job, {
          onEvent: () => {},
          onEnd: (result) => {
            if (id !== latest.current) return;
            if (result?.error) setError(result.error);
            else setComputed(result as Computed);
          },
        });
      })
      .catch((e) => {
        if (id === latest.current) setError(e instanceof ApiError ? (e.body?.message ?? e.code) : String(e));
      });
    return () => stop();
  }, [JSON.stringify(wheres), levelsChanged]);

  const nameOf = (num: number) => variables.find((v) => v.num === num)?.name ?? "";
  const filterLine = wheres.length
    ? t("Filters: %@", [...wheres].sort((a, b) => a.colNum - b.colNum || a.op - b.op).map((w) => whereText(w, nameOf(w.colNum))).join(" & "))
    : t("No filters");
  // The card's cached figures, shown until the full ones arrive.
  const cached = card.lines
    .filter((l) => /^(Observations|Unique Values|Min|Max):/.test(l.text))
    .map((l) => l.text.replace(/^Min:/, t("Minimum:")).replace(/^Max:/, t("Maximum:")));
  const act = async (what: "share" | "print") => {
    if (!computed) return;
    setBusy(true);
    try {
      if (what === "share") await shareResult(computed.id);
      else await printResult(computed.id);
    } catch (e) {
      shell.fail(e);
    } finally {
      setBusy(false);
    }
  };
  return (
    <div class="overlay-screen" role="dialog" aria-modal="true" aria-labelledby="detail-title">
      <header class="screen-header overlay-header">
        <button class="text-button" onClick={onClose}>
          {t("Close")}
        </button>
        <h1 id="detail-title" class="overlay-title">
          {card.name}
        </h1>
        <div class="header-actions">
          {shell.wide && <GlossaryButton terms={variableDetailTerms} />}
          <button class="text-button" data-testid="detail-filter" onClick={() => setFiltering(true)}>
            {t("Filter")}
          </button>
          <button class="text-button" data-testid="detail-share" disabled={!computed || busy} onClick={() => void act("share")}>
            {t("Share")}
          </button>
          <button class="text-button" data-testid="detail-print" disabled={!computed || busy} onClick={() => void act("print")}>
            {t("Print")}
          </button>
        </div>
      </header>
      <div class="overlay-body" data-testid="detail">
        {card.label && (
          <p class="variable-label" data-testid="detail-label">
            {card.label}
          </p>
        )}
        {!computed && (
          <div class="layout-view">
            <h2 class="result-title">{t("Variable: %@", card.name)}</h2>
            <p class="result-text subtitle">{t(typeLines[card.type] ?? "Type: Unknown")}</p>
            <p class="result-text filter">{filterLine}</p>
            {cached.map((l) => (
              <p class="figure">{l}</p>
            ))}
            {error ? <p class="result-error">{error}</p> : <p class="loading">{t("Calculating...")}</p>}
          </div>
        )}
        {computed && (
          <LayoutView computed={computed} onTerm={(term) => openGlossary(variableDetailTerms, term)} />
        )}
        <VariableSettings
          id={card.id}
          name={card.name}
          type={shownType}
          shell={shell}
          onChanged={(a) => {
            setShownType(a.type as Card["type"]);
            setLevelsChanged((n) => n + 1);
          }}
        />
        {(shownType === "Categorical" || shownType === "Binary") && (
          <LevelOrder num={card.num} shell={shell} onChanged={() => setLevelsChanged((n) => n + 1)} />
        )}
        {/* A phone's header has no room left for the glossary action. */}
        {computed && !shell.wide && (
          <button class="link-button" onClick={() => openGlossary(variableDetailTerms)}>
            {t("Glossary of Terms")}
          </button>
        )}
      </div>
      {filtering && (
        <FilterList
          wheres={wheres}
          variables={variables}
          shell={shell}
          onChange={setWheres}
          onClose={() => setFiltering(false)}
        />
      )}
    </div>
  );
}
