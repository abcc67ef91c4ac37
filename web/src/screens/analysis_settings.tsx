// The settings panel of an analysis screen, one pattern for every kind: the
// variable buttons of the kind's positions, then its controls (segments,
// switches, level and test pickers, the expected value, the second
// sample's filter), each stored with the analysis as soon as it changes;
// and the one line the screen folds them to once the choices are made.
import { useEffect, useState } from "preact/hooks";
import { CloseIcon } from "../components/icons";
import { t } from "../i18n";
import {
  positionNumber,
  settingOf,
  settingValue,
  storedForm,
  type KindDescription,
  type PositionDescription,
  type SettingDescription,
} from "../kinds";
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

// A variable button: its position, the label beside it (if any) and its
// text until a variable is chosen.
type Slot = { position: 1 | 2 | 3; label?: string; button: string };

// The screen's texts for the positions of the kinds whose description
// labels name the positions for the command line rather than the screen.
const positionTexts: Record<string, Partial<Record<PositionDescription["key"], Omit<Slot, "position">>>> = {
  summarize: { left: { button: "Choose Numeric Variable" }, right: { button: "Choose Categorical Variable" } },
  twoway: { left: { button: "Choose Variable" }, right: { button: "Choose Variable" } },
  correlation: {
    left: { label: "x:", button: "Choose variable x..." },
    right: { label: "y:", button: "Choose variable y..." },
  },
};

// The samples control's choice: one, two, paired or related samples.
function samplesChoice(def: Definition): string {
  return def.samples === 3 ? "related" : def.samples === 2 ? (def.isPaired ? "paired" : "2") : "1";
}

// The variable buttons the description's positions make.
function slotsOf(kind: KindDescription, def: Definition): Slot[] {
  let positions = kind.positions;
  // A kind with a samples setting shows the positions its samples take:
  // one sample, two (or the same rows twice, paired), or a list of related ones.
  if (settingOf(kind, "samples")) {
    const samples = samplesChoice(def);
    const keys = samples === "related" ? ["columns"] : samples === "1" ? ["left"] : ["left", "right"];
    positions = positions.filter((p) => keys.includes(p.key));
    return positions.map((p) => ({
      position: positionNumber(p.key),
      label:
        p.key === "columns"
          ? "Related variables:"
          : p.key === "right"
            ? "to sample 2"
            : samples === "1"
              ? "compare sample"
              : "compare sample 1",
      button: p.maximum > 1 ? "Choose Variables..." : "Choose Variable...",
    }));
  }
  return positions.map((p) => ({
    position: positionNumber(p.key),
    ...(positionTexts[kind.name]?.[p.key] ?? {
      label: p.label,
      button: p.maximum > 1 ? "Choose Variables..." : "Choose Variable...",
    }),
  }));
}

// The screen's labels of settings whose description labels are the command line's.
const screenLabels: Record<string, string> = {
  postHoc: "Pairwise comparisons:",
  residuals: "Adjusted residuals:",
};
// Settings whose segments say what they choose: drawn without a label beside them.
const bareSettings = new Set(["view"]);
// The alternatives read as a number line on the screen: less, two-sided, greater.
const valueOrder: Record<string, string[]> = { tails: ["1", "0", "2"] };

// A choice setting's segments in the screen's order, labelled by the description.
function optionsOf(s: SettingDescription): { value: string; label: string }[] {
  const values = s.values ?? [];
  const options = values.map((v, i) => ({ value: v, label: s.valueLabels?.[i] ?? v }));
  const order = valueOrder[s.key];
  return order ? order.flatMap((v) => options.filter((o) => o.value === v)) : options;
}

// The settings drawn by the panel's own controls rather than the generic
// segments and switches: each needs something no description says.
const ownControls = new Set([
  // Means or proportions: its values span two kinds of one type, and a pick changes the kind.
  "distribution",
  // One segment folds the number of samples and whether they are paired.
  "samples",
  "isPaired",
  // Typed freely and stored once it reads; shown for one sample only.
  "expected",
  // Their values are the variable's levels, fetched by the screen.
  "leftLevel1",
  "rightLevel1",
  // Each test with the sample setting it is for, in a list.
  "test",
  // One segment folds the percentage base and whether percentages show (None).
  "twoWayPercAgg",
  "twoWayPercDisplay",
]);

// The settings a kind's panel draws as segments and switches, in the
// description's order: those the panel has no own control for.
function genericSettings(kind: KindDescription, def: Definition): SettingDescription[] {
  const samples = settingOf(kind, "samples") ? samplesChoice(def) : null;
  return kind.settings.filter(
    (s) =>
      !ownControls.has(s.key) &&
      (s.type === "choice" || s.type === "flag") &&
      // Friedman's test on related samples has no direction.
      !(s.key === "tails" && samples === "related"),
  );
}

// A setting's test id: its key in lower case with dashes (postHoc: post-hoc).
const testidOf = (key: string) => key.replace(/[A-Z]/g, (c) => `-${c.toLowerCase()}`);

const percentSegments = ["Cell", "Row", "Column", "None"];
// Means (distribution 0; 1 is computed the same way) or proportions (2).
const distributionSegments = [
  { value: "0", label: "Means" },
  { value: "2", label: "Proportions" },
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

// The texts this panel looks up through variables that are its own (the
// tests check them); the rest come with the kinds' descriptions.
export function settingsTexts(): string[] {
  return [
    ...Object.values(positionTexts).flatMap((p) => Object.values(p).flatMap((x) => [x!.button, ...(x!.label ? [x!.label] : [])])),
    "Choose Variable...",
    "Choose Variables...",
    "compare sample",
    "compare sample 1",
    "to sample 2",
    "Related variables:",
    "Paired samples",
    ...Object.values(screenLabels),
    ...distributionSegments.map((x) => x.label),
    ...proportionTests.flatMap((x) => [x.label, x.sub]).filter((s) => s),
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
// variables, then the choices that shape the result (a segment's choice
// unless it is none; switches are left out).
export function settingsLine(kind: KindDescription, def: Definition, extra: Record<string, string> = {}): string {
  // Each variable once (a sample grouped by another has the same variable on both sides).
  const names = [def.left, def.right, def.group, ...def.columns].filter((v) => v).map((v) => v!.name);
  const parts = [[...new Set(names)].join(", ")];
  if (settingOf(kind, "twoWayPercAgg")) {
    const segment = def.twoWayPercDisplay === 0 ? 3 : def.twoWayPercAgg;
    parts.push(t("Calculate percentages by ") + t(percentSegments[segment] ?? ""));
  }
  const samples = settingOf(kind, "samples");
  if (samples) {
    const choice = samplesChoice(def);
    parts.push(t(choice === "paired" ? "Paired samples" : (optionsOf(samples).find((o) => o.value === choice)?.label ?? "")));
    if (choice === "1") parts.push(`${t("to value")} ${def.settings.expected ?? ""}`);
  }
  for (const s of genericSettings(kind, def)) {
    const value = settingValue(s, def as unknown as Record<string, unknown>, extra);
    if (s.type === "choice" && value !== "none") parts.push(t(optionsOf(s).find((o) => o.value === value)?.label ?? ""));
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

// The panel of one analysis, drawn from its kind's description: the
// positions' variable buttons, choice settings as segments and flags as
// switches (stored when the description names the field they are stored
// in, else kept by the page and sent with each compute), and the panel's
// own controls where a description cannot say enough.
export function SettingsPanel({
  def,
  kind,
  levels,
  extra = {},
  setExtra = () => {},
  onExpected,
  actions,
}: {
  def: Definition;
  kind: KindDescription;
  levels: Levels | null;
  // Settings the page sends with each compute but does not store (view, postHoc, residuals).
  extra?: Record<string, string>;
  setExtra?: (key: string, value: string) => void;
  onExpected: (text: string) => void;
  actions: PanelActions;
}) {
  const has = (key: string) => !!settingOf(kind, key);
  const stored = def as unknown as Record<string, unknown>;
  const put = (s: SettingDescription, value: string) =>
    s.field ? actions.store({ [s.key]: storedForm(s, value) }) : setExtra(s.key, value);
  const samplesSetting = settingOf(kind, "samples");
  const samples = samplesSetting ? samplesChoice(def) : null;
  const chosenName = (slot: Slot): string | null => {
    if (slot.position === 1) return def.left?.name ?? null;
    return slot.position === 2 ? (def.right?.name ?? null) : null;
  };
  const variableButton = (slot: Slot) => (
    <button class="value-button choose-variable" data-position={slot.position} onClick={() => actions.choose(slot.position)}>
      {chosenName(slot) ?? t(slot.button)}
    </button>
  );
  // Level pickers: their values are the variable's levels, which the screen fetches.
  const levelPicker = (which: "left" | "right") => {
    const list = levels?.[which];
    const key = which === "left" ? "leftLevel1" : "rightLevel1";
    const setting = settingOf(kind, key);
    return (
      setting &&
      list &&
      list.length > 0 && (
        <span class="level-choice">
          <span>{t(setting.label)}</span>
          <PickButton
            title={t(setting.label)}
            current={levelInForce(list, def.settings[key])}
            testid={`level-${which}`}
            options={list.map((l) => ({ value: l, label: l }))}
            onPick={(level) => actions.store({ [key]: level })}
          />
        </span>
      )
    );
  };
  const slots = slotsOf(kind, def);
  // The segments and switches the description draws, and the panel's own
  // controls that take the place of a description's setting.
  const control = (s: SettingDescription) => {
    const label = () => t(screenLabels[s.key] ?? s.label);
    if (s.key === "twoWayPercAgg") {
      // One segment for the base and None (percentages not shown).
      const segment = def.twoWayPercDisplay === 0 ? 3 : def.twoWayPercAgg;
      return (
        <div class="setting-line">
          <span>{label()}</span>
          <Segments
            label={label()}
            options={percentSegments.map((p, i) => ({ value: String(i), label: p }))}
            value={String(segment)}
            onPick={(v) =>
              actions.store(v === "3" ? { twoWayPercAgg: 0, twoWayPercDisplay: 0 } : { twoWayPercAgg: Number(v), twoWayPercDisplay: 1 })
            }
          />
        </div>
      );
    }
    if (s.key === "test") {
      // The proportions' tests each with its samples below it; a test of
      // means takes its test from the distribution, so it has no list.
      if (kind.name !== "proportions") return null;
      return (
        <div class="setting-line">
          <span>{label()}</span>
          <PickButton
            title={label()}
            testid="test-choice"
            current={t(def.test != null && testTitles[def.test] ? testTitles[def.test] : "Determined by data")}
            options={proportionTests.map((o) => ({ value: o.value, label: t(o.label), sub: o.sub && t(o.sub) }))}
            onPick={(v) => actions.store({ test: v })}
          />
        </div>
      );
    }
    if (ownControls.has(s.key) || !genericSettings(kind, def).includes(s)) return null;
    const value = settingValue(s, stored, extra);
    if (s.type === "flag")
      return (
        <SwitchLine
          label={label()}
          testid={testidOf(s.key)}
          checked={value === (s.values?.[1] ?? "1")}
          onSwitch={(on) => put(s, (on ? s.values?.[1] : s.values?.[0]) ?? (on ? "1" : "0"))}
        />
      );
    const segments = (
      <Segments label={label()} testid={testidOf(s.key)} options={optionsOf(s)} value={value} onPick={(v) => put(s, v)} />
    );
    return bareSettings.has(s.key) ? (
      segments
    ) : (
      <div class="setting-line">
        <span>{label()}</span>
        {segments}
      </div>
    );
  };
  const distribution = settingOf(kind, "distribution");
  return (
    <div class="analysis-settings" data-testid="analysis-settings" data-kind={kind.name}>
      {distribution && (
        // Means or proportions: the values span the two kinds of a hypothesis test.
        <Segments
          label={t(distribution.label)}
          testid="distribution"
          options={distributionSegments}
          value={kind.distribution === 2 ? "2" : "0"}
          onPick={(v) => actions.store({ distribution: Number(v) })}
        />
      )}
      {samplesSetting && (
        // One segment for the samples and whether two of them are paired.
        <Segments
          label={t(samplesSetting.label)}
          testid="samples"
          options={optionsOf(samplesSetting).flatMap((o) =>
            o.value === "2" && has("isPaired") ? [o, { value: "paired", label: "Paired samples" }] : [o],
          )}
          value={samples!}
          onPick={(v) =>
            actions.store(v === "related" ? { samples: "related" } : { samples: v === "1" ? 1 : 2, isPaired: v === "paired" })
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
            {slot.position === 1 && levelPicker("left")}
            {slot.position === 2 && levelPicker("right")}
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
      {samples === "1" && has("expected") && (
        // Typed freely: stored once it reads, its message shown while it does not.
        <label class="setting-line">
          <span>{t(settingOf(kind, "expected")!.label)}</span>
          <ExpectedField def={def} onText={onExpected} />
        </label>
      )}
      {kind.secondFilter && samples === "2" && (
        <div class="setting-line">
          <span>{t("Sample 2 filter:")}</span>
          <button class="value-button choose-variable" data-testid="second-filter" onClick={actions.filterSecond}>
            {def.wheres2Text || t("No filters")}
          </button>
        </div>
      )}
      {kind.secondFilter && kind.name !== "proportions" && samples === "2" && def.left && (
        // Two samples of one variable by another's two levels (a test of
        // proportions compares levels, not a grouped variable).
        <div class="setting-line">
          <span>{t("Group by")}</span>
          <button class="value-button choose-variable" data-testid="group-by" onClick={actions.chooseGroup}>
            {def.group?.name ?? t("Choose Variable...")}
          </button>
        </div>
      )}
      {kind.settings.map(control)}
    </div>
  );
}
