// A variable's type picker and its missing-value codes, in the variable
// detail and (the picker alone) on each card. The picker offers exactly the
// types the server says the variable may take; each change is stored at once.
import { useEffect, useRef, useState } from "preact/hooks";
import { api } from "../api";
import type { Shell } from "../app";
import { t } from "../i18n";
import { splitList } from "../screens/recode";

export interface VariableSettingsAnswer {
  types: { key: string; name: string }[];
  type: string;
  missingCodes: string[];
}

// The names the picker shows before the server has said what it offers.
const typeNames: Record<string, string> = {
  Categorical: "Categorical",
  Binary: "Binary",
  Numeric: "Numeric",
  DateTime: "Date / Time",
};

// What both controls are given: the variable, its type, and whom to tell of a change.
interface VariableProps {
  id: number;
  name: string;
  type: string;
  shell: Shell;
  onChanged: (answer: VariableSettingsAnswer) => void;
}

// The type picker: loads the types on first use unless `known` (a card only
// knows its own type; the detail's section has asked already).
export function TypePicker({ id, name, type, shell, onChanged, known }: VariableProps & { known?: VariableSettingsAnswer["types"] }) {
  const [types, setTypes] = useState<VariableSettingsAnswer["types"] | null>(known ?? null);
  useEffect(() => {
    if (known) setTypes(known);
  }, [known]);
  const load = () => {
    if (types) return;
    api
      .get<VariableSettingsAnswer>(`/api/variables/${id}/types`)
      .then((a) => setTypes(a.types))
      .catch((e) => shell.fail(e));
  };
  const offered = types ?? [{ key: type, name: t(typeNames[type] ?? "Unknown") }];
  const change = async (key: string) => {
    try {
      const a = await api.post<VariableSettingsAnswer>(`/api/variables/${id}/type`, { type: key });
      setTypes(a.types);
      onChanged(a);
    } catch (e) {
      shell.fail(e);
    }
  };
  return (
    <select
      class="type-picker"
      data-testid="type-picker"
      aria-label={t("Type of %@", name)}
      value={type}
      onFocus={load}
      onPointerDown={load}
      onChange={(e) => void change((e.target as HTMLSelectElement).value)}
    >
      {offered.map((o) => (
        <option value={o.key}>{o.name}</option>
      ))}
    </select>
  );
}

// The detail's section: the type and the missing-value codes.
export function VariableSettings({ id, name, type, shell, onChanged }: VariableProps) {
  const [types, setTypes] = useState<VariableSettingsAnswer["types"] | undefined>(undefined);
  const [codes, setCodes] = useState<string[]>([]);
  const [text, setText] = useState("");
  const [busy, setBusy] = useState(false);
  // What the user typed before the stored codes arrived is kept, not replaced by them.
  const typed = useRef(false);
  useEffect(() => {
    typed.current = false;
    api
      .get<VariableSettingsAnswer>(`/api/variables/${id}/types`)
      .then((a) => {
        setTypes(a.types);
        setCodes(a.missingCodes);
        if (!typed.current) setText(a.missingCodes.join(", "));
      })
      .catch(() => {});
  }, [id]);
  const store = async (list: string[]) => {
    setBusy(true);
    try {
      const a = await api.post<VariableSettingsAnswer>(`/api/variables/${id}/missing`, { codes: list });
      setTypes(a.types);
      setCodes(a.missingCodes);
      setText(a.missingCodes.join(", "));
      onChanged(a);
    } catch (e) {
      shell.fail(e);
    } finally {
      setBusy(false);
    }
  };
  return (
    <section class="variable-settings" aria-labelledby={`variable-settings-${id}`} data-testid="variable-settings">
      <h3 id={`variable-settings-${id}`} class="section-title">
        {t("Variable settings")}
      </h3>
      <label class="settings-row">
        <span>{t("Type:")}</span>
        <TypePicker id={id} name={name} type={type} shell={shell} onChanged={onChanged} known={types} />
      </label>
      <form
        class="settings-row missing-codes"
        onSubmit={(e) => {
          e.preventDefault();
          void store(splitList(text).filter((c) => c !== ""));
        }}
      >
        <label for={`missing-${id}`}>{t("Missing-value codes:")}</label>
        <input
          id={`missing-${id}`}
          data-testid="missing-codes"
          value={text}
          placeholder={t("for example 999, -1, n/a")}
          onInput={(e) => {
            typed.current = true;
            setText((e.target as HTMLInputElement).value);
          }}
        />
        <button class="text-button" type="submit" disabled={busy}>
          {t("Apply")}
        </button>
      </form>
      <p class="settings-note" data-testid="missing-note">
        {codes.length
          ? t("Treated as missing: %@", codes.join(", "))
          : t("No missing-value codes: only empty cells are missing.")}
      </p>
    </section>
  );
}
