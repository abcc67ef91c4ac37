// The analysis kinds as the server describes them (GET /api/kinds): their
// variable positions and settings, fetched once for the page and read by
// the settings panel, which draws its controls from them.
import { api } from "./api";

// A variable position of a kind: where its variables are stored and how many it takes.
export interface PositionDescription {
  key: "left" | "right" | "columns";
  label: string;
  minimum: number;
  maximum: number;
  types: number[];
  option: string;
}

// One setting of a kind: its allowed values, default and where it is stored
// (`field`; none for a setting the page sends with each compute only).
export interface SettingDescription {
  key: string;
  type: "choice" | "flag" | "text";
  values?: string[];
  valueLabels?: string[];
  default: string;
  label: string;
  help: string;
  field?: string;
  clearable?: boolean;
}

// A kind: its name, positions, settings and where its analyses are saved.
export interface KindDescription {
  name: string;
  positions: PositionDescription[];
  settings: SettingDescription[];
  secondFilter: boolean;
  saved: boolean;
  type: number | null;
  distribution: number | null;
  title: string;
}

let loading: Promise<KindDescription[]> | null = null;

// The descriptions, asked for once; a failed request is asked again next time.
export function loadKinds(): Promise<KindDescription[]> {
  if (!loading) {
    loading = api.get<KindDescription[]>("/api/kinds");
    loading.catch(() => (loading = null));
  }
  return loading;
}

// The position number the server's variable requests take for a position's key.
export function positionNumber(key: PositionDescription["key"]): 1 | 2 | 3 {
  return key === "left" ? 1 : key === "right" ? 2 : 3;
}

// The setting of `key` in a description, if the kind has it.
export function settingOf(kind: KindDescription, key: string): SettingDescription | undefined {
  return kind.settings.find((s) => s.key === key);
}

// A setting's value as one of its `values`: read from the definition's field
// it is stored in (a field of the definition itself or of its `settings`),
// else from the page's unsaved settings, else its default.
export function settingValue(
  s: SettingDescription,
  stored: Record<string, unknown> & { settings?: Record<string, string> },
  extra: Record<string, string>,
): string {
  if (!s.field) return extra[s.key] ?? s.default;
  const v = s.field in stored ? stored[s.field] : stored.settings?.[s.field];
  if (v === undefined || v === null) return s.default;
  if (typeof v === "boolean") return v ? "1" : "0";
  return String(v);
}

// A value as the settings request takes it: codes as numbers, flags as booleans.
export function storedForm(s: SettingDescription, value: string): unknown {
  if (s.type === "flag") return value === (s.values?.[1] ?? "1");
  if (s.type === "choice" && (s.values ?? []).every((v) => /^-?\d+$/.test(v))) return Number(value);
  return value;
}
