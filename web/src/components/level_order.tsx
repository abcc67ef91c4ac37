// The order of a categorical variable's levels in the variable detail: drag a
// level to its place, or move it with its up and down buttons (keyboard and
// screen readers); each change is stored at once and every table, chart and
// level list follows it.
import { useEffect, useState } from "preact/hooks";
import { api } from "../api";
import type { Shell } from "../app";
import { t } from "../i18n";

interface Levels {
  levels: string[];
  custom: boolean;
  truncated: boolean;
}

// The list with `from` moved to position `to`.
export function moved<T>(list: T[], from: number, to: number): T[] {
  const next = [...list];
  const [item] = next.splice(from, 1);
  next.splice(to, 0, item);
  return next;
}

export function LevelOrder({ num, shell, onChanged }: { num: number; shell: Shell; onChanged: () => void }) {
  const [data, setData] = useState<Levels | null>(null);
  const [dragging, setDragging] = useState<number | null>(null);
  const [busy, setBusy] = useState(false);

  useEffect(() => {
    api
      .get<Levels>(`/api/variables/${num}/levels`)
      .then(setData)
      .catch(() => setData(null));
  }, [num]);

  const store = async (levels: string[], focus?: number) => {
    if (!data || busy) return;
    if (levels.length) setData({ ...data, levels });
    setBusy(true);
    try {
      setData(await api.post<Levels>(`/api/variables/${num}/levels`, { levels }));
      onChanged();
      // The moved level keeps the focus, so that the arrows can move it on.
      if (focus !== undefined)
        requestAnimationFrame(() =>
          document.querySelector<HTMLElement>(`[data-level-index="${focus}"] .level-grip`)?.focus(),
        );
    } catch (e) {
      shell.fail(e);
    } finally {
      setBusy(false);
    }
  };

  if (!data || data.levels.length < 2) return null;
  const levels = data.levels;
  return (
    <section class="level-order" aria-labelledby={`level-order-${num}`} data-testid="level-order">
      <h3 id={`level-order-${num}`} class="section-title">
        {t("Order of levels")}
      </h3>
      <p class="level-order-hint">{t("Drag levels or use the arrows to set their order in tables and charts.")}</p>
      <ol class="list level-list">
        {levels.map((level, i) => (
          <li
            class={`row level-row ${dragging === i ? "dragging" : ""}`}
            data-level-index={i}
            draggable
            onDragStart={(e) => {
              setDragging(i);
              e.dataTransfer?.setData("text/plain", String(i));
            }}
            onDragEnd={() => setDragging(null)}
            onDragOver={(e) => e.preventDefault()}
            onDrop={(e) => {
              e.preventDefault();
              const from = dragging ?? Number(e.dataTransfer?.getData("text/plain"));
              setDragging(null);
              if (Number.isInteger(from) && from !== i) void store(moved(levels, from, i));
            }}
          >
            <span class="level-grip row-text" tabIndex={-1}>
              {level === "" ? t("Missing") : level}
            </span>
            <button
              class="icon-button subtle"
              aria-label={t("Move %@ up", level)}
              disabled={i === 0 || busy}
              onClick={() => void store(moved(levels, i, i - 1), i - 1)}
            >
              ▲
            </button>
            <button
              class="icon-button subtle"
              aria-label={t("Move %@ down", level)}
              disabled={i === levels.length - 1 || busy}
              onClick={() => void store(moved(levels, i, i + 1), i + 1)}
            >
              ▼
            </button>
          </li>
        ))}
      </ol>
      {data.truncated && <p class="level-order-hint">{t("Only the first %u levels are listed.", levels.length)}</p>}
      {data.custom && (
        <button class="link-button" disabled={busy} onClick={() => void store([])}>
          {t("Default order")}
        </button>
      )}
    </section>
  );
}
