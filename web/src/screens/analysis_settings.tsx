// The settings panel of an analysis screen, one pattern for every kind: the
// variable buttons of the kind's positions, then its controls (segments,
// switches, level and test pickers, the expected value, the second
// sample's filter), each stored with the analysis as soon as it changes;
// and the one line the screen folds them to once the choices are made.
import { useEffect, useState } from "preact/hooks";
import { CloseIcon } from "../components/icons";
import { t } from "../i18n";
import type { VariableRef } from "./detail";
import type { Where } from "./filter_editor";

// The levels of the variables whose level coded 1 the screen chooses (a
// logistic dependent, the samples of a test of proportions).
export interface Levels {
  left: string[] | null;
  right: string[] | null;
}

// The level coded 1: the stored one while the variable has it, else the last.
export function levelInForce(levels: string[], stored: string | undefined): string {
  return stored !== undefined && levels.includes(stored) ? stored : (levels[levels.length - 1] ?? "");
}

// A saved analysis as its list shows it.
export interface Summary {
  id: number;
  type: number;
  distribution: number | null;
  kind: string | null;
  built: boolean;
  displayStyle: string;
  title: string;
  description: string;
  filterLine: string;
}

// A saved analysis with everything its screen needs.
export interface Definition extends Summary {
  left: VariableRef | null;
  right: VariableRef | null;
  columns: VariableRef[];
  wheres: Where[];
  wheres2: Where[];
  settings: Record<string, string>;
  twoWayPercAgg: number;
  twoWayPercDisplay: number;
  includeMissing: boolean;
  // Hypothesis tests.
  samples?: number;
  isPaired?: boolean;
  tails?: number;
  test?: number | null;
  expected?: number | null;
  wheres2Text?: string;
  // The variable whose two levels make the two samples, when they are set up that way.
  group?: VariableRef | null;
}

// What the panel asks of its screen.
export interface PanelActions {
  choose: (position: number) => void;
  setColumns: (nums: number[]) => void;
  store: (settings: Record<string, unknown>) => void;
  filterSecond: () => void;
  // Opens the chooser of a grouping variable whose two levels make the two samples.
  chooseGroup: () => void;
}

// The variable buttons of each kind: position, label beside it (if any) and
// the button's text until a variable is chosen.
type Slot = { position: 1 | 2 | 3; label?: string; button: string };

function slotsOf(kind: string, def: Definition): Slot[] {
  switch (kind) {
    case "summarize":
      return [
        { position: 1, button: "Choose Numeric Variable" },
        { position: 2, button: "Choose Categorical Variable" },
      ];
    case "twoway":
      return [
        { position: 1, button: "Choose Variable" },
        { position: 2, button: "Choose Variable" },
      ];
    case "correlation":
      return [
        { position: 1, label: "x:", button: "Choose variable x..." },
        { position: 2, label: "y:", button: "Choose variable y..." },
      ];
    case "linear":
    case "logistic":
      return [
        { position: 1, label: "Dependent variable:", button: "Choose Variable..." },
        { position: 3, label: "Independent variables:", button: "Choose Variables..." },
      ];
    default: {
      // The tests on ranks take related samples as a list.
      if (kind === "ranks" && def.samples === 3)
        return [{ position: 3, label: "Related variables:", button: "Choose Variables..." }];
      const two = def.samples === 2;
      const slots: Slot[] = [{ position: 1, label: two ? "compare sample 1" : "compare sample", button: "Choose Variable..." }];
      if (two) slots.push({ position: 2, label: "to sample 2", button: "Choose Variable..." });
      return slots;
    }
  }
}

const viewSegments = [
  { value: "box", label: "Box Plot" },
  { value: "density", label: "Density Plot" },
];
const percentSegments = ["Cell", "Row", "Column", "None"];
// The one-way ANOVA's pairwise comparisons (computed only when asked for).
const postHocSegments = [
  { value: "none", label: "None" },
  { value: "tukey", label: "Tukey" },
  { value: "gamesHowell", label: "Games–Howell" },
];
// Means (distribution 0; 1 is computed the same way) or proportions (2).
const distributionSegments = [
  { value: "0", label: "Means" },
  { value: "2", label: "Proportions" },
];
const sampleSegments = [
  { value: "1", label: "One sample" },
  { value: "2", label: "Two samples" },
  { value: "paired", label: "Paired samples" },
];
// The tests on ranks take three or more related variables too (Friedman's test).
const rankSampleSegments = [...sampleSegments, { value: "related", label: "Related samples" }];
const tailSegments = [
  { value: "1", label: "One tail less" },
  { value: "0", label: "Two tails" },
  { value: "2", label: "One tail greater" },
];
// The test list of a test of proportions: each test with the sample setting it is for.
const proportionTests = [
  { value: null, label: "Determined by data", sub: "" },
  { value: 2, label: "Exact binomial test", sub: "One sample" },
  { value: 3, label: "Chi-squared test", sub: "Two samples" },
  { value: 4, label: "McNemar's test", sub: "Paired samples" },
];
// The test button's title by the stored test (the binomial one with a capital B).
const testTitles: Record<number, string> = { 2: "Exact Binomial test", 3: "Chi-squared test", 4: "McNemar's test" };

const fixedLabels = [
  "Dependent variable:",
  "Independent variables:",
  "Choose Variable...",
  "Choose Variables...",
  "compare sample",
  "compare sample 1",
  "to sample 2",
  "Related variables:",
  "x:",
  "y:",
];

// The texts this panel looks up through variables (the tests check them).
export function settingsTexts(): string[] {
  return [
    "Choose Numeric Variable",
    "Choose Categorical Variable",
    "Choose Variable",
    "Choose variable x...",
    "Choose variable y...",
    ...fixedLabels,
    "Pairwise comparisons:",
    "Adjusted residuals:",
    "Group by",
    ...[viewSegments, postHocSegments, distributionSegments, rankSampleSegments, tailSegments, proportionTests].flatMap((s) =>
      s.map((x) => x.label),
    ),
    ...proportionTests.map((x) => x.sub).filter((s) => s),
    ...percentSegments,
    ...Object.values(testTitles),
  ];
}

// Whether the definition has every choice its result waits for: the
// variables of its kind and, for a one-sample test, the expected value.
export function hasItsChoices(kind: string, def: Definition): boolean {
  switch (kind) {
    case "summarize":
    case "twoway":
    case "correlation":
      return !!def.left && !!def.right;
    case "linear":
    case "logistic":
      return !!def.left && def.columns.length > 0;
    case "means":
    case "proportions":
    case "ranks":
      if (def.samples === 3) return def.columns.length >= 3;
      if (def.samples === 2) return !!def.left && (!!def.right || (!def.isPaired && !!def.group));
      return !!def.left && (def.settings.expected ?? "") !== "";
    default:
      return !!def.left;
  }
}

// The settings on one line, as the screen shows them folded: the chosen
// variables, then the choices that shape the result.
export function settingsLine(kind: string, def: Definition, view: string, extra: Record<string, string> = {}): string {
  // Each variable once (a sample grouped by another has the same variable on both sides).
  const names = [def.left, def.right, def.group, ...def.columns].filter((v) => v).map((v) => v!.name);
  const parts = [[...new Set(names)].join(", ")];
  const label = (options: { value: string; label: string }[], value: string) =>
    t(options.find((o) => o.value === value)?.label ?? "");
  if (kind === "summarize") {
    parts.push(label(viewSegments, view));
    if (extra.postHoc && extra.postHoc !== "none") parts.push(label(postHocSegments, extra.postHoc));
  } else if (kind === "twoway") {
    const segment = def.twoWayPercDisplay === 0 ? 3 : def.twoWayPercAgg;
    parts.push(t("Calculate percentages by ") + t(percentSegments[segment] ?? ""));
  } else if (kind === "means" || kind === "proportions" || kind === "ranks") {
    const samples = def.samples === 3 ? "related" : def.samples === 2 ? (def.isPaired ? "paired" : "2") : "1";
    parts.push(label(rankSampleSegments, samples));
    if (samples === "1") parts.push(`${t("to value")} ${def.settings.expected ?? ""}`);
    if (samples !== "related") parts.push(label(tailSegments, String(def.tails ?? 0)));
  }
  return parts.filter((p) => p.trim()).join(" · ");
}

// The settings folded to their line; a tap opens them again.
export function SettingsSummary({ line, onOpen }: { line: string; onOpen: () => void }) {
  return (
    <button class="settings-summary" data-testid="settings-summary" aria-expanded="false" onClick={onOpen}>
      <span class="settings-summary-text">{line}</span>
      <span class="settings-summary-action">{t("Change")}</span>
    </button>
  );
}

// A segmented control: one button per choice, the current one pressed.
function Segments({
  label,
  options,
  value,
  onPick,
  testid,
}: {
  label: string;
  options: { value: string; label: string }[];
  value: string;
  onPick: (value: string) => void;
  testid?: string;
}) {
  return (
    <div class="segmented" role="group" aria-label={label} data-testid={testid}>
      {options.map((o) => (
        <button class={value === o.value ? "on" : ""} aria-pressed={value === o.value} onClick={() => onPick(o.value)}>
          {t(o.label)}
        </button>
      ))}
    </div>
  );
}

// A labelled on/off switch on a line of its own.
function SwitchLine({
  label,
  testid,
  checked,
  onSwitch,
}: {
  label: string;
  testid: string;
  checked: boolean;
  onSwitch: (on: boolean) => void;
}) {
  return (
    <label class="setting-line">
      <span>{label}</span>
      <span class="switch">
        <input type="checkbox" data-testid={testid} checked={checked} onChange={(e) => onSwitch(e.currentTarget.checked)} />
        <span class="switch-track" />
      </span>
    </label>
  );
}

// A button showing the current choice that opens a list of choices.
function PickButton<V>({
  title,
  current,
  options,
  onPick,
  testid,
}: {
  title: string;
  current: string;
  options: { value: V; label: string; sub?: string }[];
  onPick: (value: V) => void;
  testid: string;
}) {
  const [open, setOpen] = useState(false);
  return (
    <>
      <button class="value-button choose-variable" data-testid={testid} onClick={() => setOpen(true)}>
        {current}
      </button>
      {open && (
        <div class="scrim sheet-scrim" onClick={(e) => e.target === e.currentTarget && setOpen(false)}>
          <div class="sheet" role="dialog" aria-modal="true" aria-label={title}>
            <header class="sheet-header">
              <span class="header-spacer" />
              <h2>{title}</h2>
              <button class="icon-button" aria-label={t("Close")} onClick={() => setOpen(false)}>
                <CloseIcon />
              </button>
            </header>
            <ul class="list" data-testid={`${testid}-list`}>
              {options.map((o) => (
                <li class="row">
                  <button
                    class="row-text"
                    onClick={() => {
                      setOpen(false);
                      onPick(o.value);
                    }}
                  >
                    {o.label}
                    {o.sub && <span class="row-sub">{o.sub}</span>}
                  </button>
                </li>
              ))}
            </ul>
          </div>
        </div>
      )}
    </>
  );
}

// The expected value of a one-sample test: typed freely, stored (when it
// reads) a moment after the typing stops.
function ExpectedField({ def, onText }: { def: Definition; onText: (text: string) => void }) {
  // The saved value as the server writes it for reading back (the
  // workspace's decimal separator; a date as year-month-day).
  const [text, setText] = useState(def.settings.expected ?? "");
  useEffect(() => setText(def.settings.expected ?? ""), [def.id]);
  return (
    <input
      class="text-input expected-value"
      type="text"
      inputMode="decimal"
      data-testid="expected-value"
      aria-label={t("to value")}
      value={text}
      onInput={(e) => {
        setText(e.currentTarget.value);
        onText(e.currentTarget.value);
      }}
    />
  );
}

export function SettingsPanel({
  def,
  kind,
  levels,
  view,
  setView,
  extra = {},
  setExtra = () => {},
  onExpected,
  actions,
}: {
  def: Definition;
  kind: string;
  levels: Levels | null;
  view: string;
  setView: (v: "box" | "density") => void;
  // Settings the page sends with each compute but does not store (postHoc, residuals).
  extra?: Record<string, string>;
  setExtra?: (key: string, value: string) => void;
  onExpected: (text: string) => void;
  actions: PanelActions;
}) {
  const test = kind === "means" || kind === "proportions";
  const ranks = kind === "ranks";
  // The settings the hypothesis tests and the tests on ranks share.
  const samplesOf = test || ranks;
  const chosenName = (slot: Slot): string | null => {
    if (slot.position === 1) return def.left?.name ?? null;
    return slot.position === 2 ? (def.right?.name ?? null) : null;
  };
  const variableButton = (slot: Slot) => (
    <button class="value-button choose-variable" data-position={slot.position} onClick={() => actions.choose(slot.position)}>
      {chosenName(slot) ?? t(slot.button)}
    </button>
  );
  const levelPicker = (which: "left" | "right") => {
    const list = levels?.[which];
    const key = which === "left" ? "leftLevel1" : "rightLevel1";
    return (
      list &&
      list.length > 0 && (
        <span class="level-choice">
          <span>{t("proportion of:")}</span>
          <PickButton
            title={t("proportion of:")}
            current={levelInForce(list, def.settings[key])}
            testid={`level-${which}`}
            options={list.map((l) => ({ value: l, label: l }))}
            onPick={(level) => actions.store({ [key]: level })}
          />
        </span>
      )
    );
  };
  const segment = def.twoWayPercDisplay === 0 ? 3 : def.twoWayPercAgg;
  const samples = def.samples === 3 ? "related" : def.samples === 2 ? (def.isPaired ? "paired" : "2") : "1";
  const slots = slotsOf(kind, def);
  return (
    <div class="analysis-settings" data-testid="analysis-settings" data-kind={kind}>
      {test && (
        <Segments
          label={t("Test of")}
          testid="distribution"
          options={distributionSegments}
          value={kind === "proportions" ? "2" : "0"}
          onPick={(v) => actions.store({ distribution: Number(v) })}
        />
      )}
      {samplesOf && (
        <Segments
          label={t("Samples")}
          testid="samples"
          options={ranks ? rankSampleSegments : sampleSegments}
          value={samples}
          onPick={(v) =>
            actions.store(
              v === "related" ? { samples: "related" } : { samples: v === "1" ? 1 : 2, isPaired: v === "paired" },
            )
          }
        />
      )}
      {slots.every((s) => !s.label) ? (
        <div class="variable-choices">{slots.map(variableButton)}</div>
      ) : (
        slots.map((slot) => (
          <div class="setting-line" data-slot={slot.position}>
            <span>{t(slot.label!)}</span>
            {variableButton(slot)}
            {slot.position === 1 && (kind === "logistic" || kind === "proportions") && levelPicker("left")}
            {slot.position === 2 && kind === "proportions" && levelPicker("right")}
            {slot.position === 3 && (
              <ul class="regressors" data-testid="regressors">
                {def.columns.map((c) => (
                  <li class="chip regressor">
                    {c.name}
                    <button
                      class="chip-remove"
                      aria-label={t("Remove %@", c.name)}
                      onClick={() => actions.setColumns(def.columns.filter((x) => x.num !== c.num).map((x) => x.num))}
                    >
                      ×
                    </button>
                  </li>
                ))}
              </ul>
            )}
          </div>
        ))
      )}
      {samplesOf && samples === "1" && (
        <label class="setting-line">
          <span>{t("to value")}</span>
          <ExpectedField def={def} onText={onExpected} />
        </label>
      )}
      {samplesOf && samples === "2" && (
        <div class="setting-line">
          <span>{t("Sample 2 filter:")}</span>
          <button class="value-button choose-variable" data-testid="second-filter" onClick={actions.filterSecond}>
            {def.wheres2Text || t("No filters")}
          </button>
        </div>
      )}
      {samplesOf && kind !== "proportions" && samples === "2" && def.left && (
        <div class="setting-line">
          <span>{t("Group by")}</span>
          <button class="value-button choose-variable" data-testid="group-by" onClick={actions.chooseGroup}>
            {def.group?.name ?? t("Choose Variable...")}
          </button>
        </div>
      )}
      {samplesOf && samples !== "related" && (
        <div class="setting-line">
          <span>{t("Alternative hypothesis is")}</span>
          <Segments
            label={t("Alternative hypothesis is")}
            testid="tails"
            options={tailSegments}
            value={String(def.tails ?? 0)}
            onPick={(v) => actions.store({ tails: Number(v) })}
          />
        </div>
      )}
      {kind === "proportions" && (
        <div class="setting-line">
          <span>{t("Test:")}</span>
          <PickButton
            title={t("Test:")}
            testid="test-choice"
            current={t(def.test != null && testTitles[def.test] ? testTitles[def.test] : "Determined by data")}
            options={proportionTests.map((o) => ({ value: o.value, label: t(o.label), sub: o.sub && t(o.sub) }))}
            onPick={(v) => actions.store({ test: v })}
          />
        </div>
      )}
      {kind === "summarize" && (
        <>
          <Segments label={t("View")} options={viewSegments} value={view} onPick={(v) => setView(v as "box" | "density")} />
          <div class="setting-line">
            <span>{t("Pairwise comparisons:")}</span>
            <Segments
              label={t("Pairwise comparisons:")}
              testid="post-hoc"
              options={postHocSegments}
              value={extra.postHoc ?? "none"}
              onPick={(v) => setExtra("postHoc", v)}
            />
          </div>
        </>
      )}
      {kind === "twoway" && (
        <>
          <div class="setting-line">
            <span>{t("Calculate percentages by ")}</span>
            <Segments
              label={t("Calculate percentages by ")}
              options={percentSegments.map((s, i) => ({ value: String(i), label: s }))}
              value={String(segment)}
              onPick={(v) =>
                actions.store(
                  v === "3" ? { twoWayPercAgg: 0, twoWayPercDisplay: 0 } : { twoWayPercAgg: Number(v), twoWayPercDisplay: 1 },
                )
              }
            />
          </div>
          <SwitchLine
            label={t("Include missing values:")}
            testid="include-missing"
            checked={def.includeMissing}
            onSwitch={(on) => actions.store({ includeMissing: on })}
          />
          <SwitchLine
            label={t("Adjusted residuals:")}
            testid="residuals"
            checked={extra.residuals === "1"}
            onSwitch={(on) => setExtra("residuals", on ? "1" : "0")}
          />
        </>
      )}
    </div>
  );
}
