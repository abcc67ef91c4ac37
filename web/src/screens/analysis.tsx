// The Analysis tab: the saved analyses (newest first, searched on their
// variables' names, deleted from the list), the menu of new analyses, and
// the screen of one analysis: its variables chosen under the kind's rules,
// its filter, its settings, and its result computed by the server again on
// every change (only the latest answer shows), with share and print.
import { useEffect, useRef, useState } from "preact/hooks";
import { showAlert } from "../components/alerts";
import { api, ApiError, followJob } from "../api";
import type { Shell } from "../app";
import { CloseIcon, PlusIcon, SearchIcon } from "../components/icons";
import { GlossaryButton, openGlossary } from "../components/glossary";
import { VariableChooser as Chooser, type Choices } from "../components/variable_chooser";
import { printResult, shareResult, type Computed } from "../components/layout_view";
import { ResultView } from "../components/result_view";
import { t } from "../i18n";
import { loadKinds, type KindDescription } from "../kinds";
import { NoWorkspace } from "./browse";
import { FilterList, type VariableRef } from "./detail";
import {
  hasItsChoices,
  settingsLine,
  settingsTexts,
  SettingsPanel,
  SettingsSummary,
  type Definition,
  type Levels,
  type Summary,
} from "./analysis_settings";
import type { Card } from "./variables";

interface MenuRow {
  title: string;
  description: string;
  screen: string;
  type: number;
  distribution: number | null;
  built: boolean;
}


// Tells this page's computes apart from another tab's, so that a newer one
// replaces only this page's older one on the server.
const pageId = Math.random().toString(36).slice(2);

// The glossary terms the results of the correlation and the regressions link to.
const resultTerms = [
  "observations",
  "r2",
  "adjustedR2",
  "rmse",
  "linearreg",
  "logisticreg",
  "pseudoR2",
  "loglikelihood",
  "AUC",
  "AIC",
  "coefficient",
  "depvar",
  "indepvar",
  "residuals",
];

// The texts this screen looks up through variables (the tests check them).
export function analysisTexts(): string[] {
  return [...settingsTexts(), "Copy", "Copied"];
}

export function AnalysisScreen({ shell }: { shell: Shell }) {
  const [menu, setMenu] = useState<MenuRow[]>([]);
  const [showMenu, setShowMenu] = useState(false);
  const [list, setList] = useState<Summary[]>([]);
  const [search, setSearch] = useState("");
  const [tip, setTip] = useState(false);
  const [opened, setOpened] = useState<{ id: number; screen: string; built: boolean } | null>(null);
  const [creating, setCreating] = useState(false);
  const open = !!shell.status?.workspace;
  const latest = useRef(0);

  const load = async (text: string) => {
    if (!open) return;
    const id = ++latest.current;
    try {
      const r = await api.get<{ menu: MenuRow[]; analyses: Summary[] }>(
        `/api/analyses?search=${encodeURIComponent(text)}`,
      );
      if (id !== latest.current) return;
      setMenu(r.menu);
      setList(r.analyses);
    } catch (e) {
      shell.fail(e);
    }
  };

  useEffect(() => {
    const h = window.setTimeout(() => void load(search), 150);
    return () => window.clearTimeout(h);
  }, [search, open]);

  useEffect(() => {
    api
      .get<{ show: boolean }>("/api/help/newAnalysis")
      .then((h) => {
        if (h.show) {
          setTip(true);
          void api.post("/api/help/newAnalysis/shown").catch(() => {});
        }
      })
      .catch(() => {});
  }, []);

  const screenOf = (s: Summary) => menu.find((m) => m.type === s.type && (m.distribution ?? null) === (s.type === 4 || s.type === 5 ? s.distribution : null));

  const create = async (row: number) => {
    if (creating) return;
    setCreating(true);
    try {
      const d = await api.post<Definition>("/api/analyses", { row });
      setShowMenu(false);
      setOpened({ id: d.id, screen: menu[row].screen, built: menu[row].built });
      await load(search);
    } catch (e) {
      shell.fail(e);
    } finally {
      setCreating(false);
    }
  };

  // A saved analysis is deleted only once the user has said so.
  const remove = async (s: Summary) => {
    const button = await showAlert(
      { title: t("Delete Analysis"), message: t("Really delete %@?", s.title), buttons: [t("Cancel"), t("Delete")] },
      1,
    );
    if (button !== 1) return;
    try {
      await api.del(`/api/analyses/${s.id}`);
    } catch (e) {
      shell.fail(e);
    }
    await load(search);
  };

  return (
    <section class="screen analysis">
      <header class="screen-header">
        <h1>{t("Analysis")}</h1>
        <div class="header-actions">
          {open && (
            <button
              class="icon-button accent"
              aria-label={t("New Analysis")}
              title={t("New Analysis")}
              onClick={() => {
                setTip(false);
                setShowMenu(true);
              }}
            >
              <PlusIcon />
            </button>
          )}
        </div>
      </header>
      {/* Under the header, pointing up at its action: it covers nothing. */}
      {open && tip && (
        <div class="tip" role="note" onClick={() => setTip(false)}>
          {t("Tap to start a new analysis")}
        </div>
      )}
      {!open && <NoWorkspace shell={shell} />}
      {open && (
        <div class="search-bar">
          <SearchIcon size={20} class="search-icon" />
          <input
            class="search-input"
            type="search"
            placeholder={t("Search")}
            aria-label={t("Search analyses")}
            value={search}
            onInput={(e) => setSearch(e.currentTarget.value)}
          />
        </div>
      )}
      {open && (
        <ul class="list analyses" data-testid="analysis-list">
          {list.map((s) => {
            const m = screenOf(s);
            return (
              <li class="row analysis-row" data-style={s.displayStyle} data-testid="analysis-entry">
                <button
                  class="row-text"
                  onClick={() => setOpened({ id: s.id, screen: m?.screen ?? "", built: s.built })}
                >
                  <span class="analysis-title">{s.title}</span>
                  {s.description && <span class="row-sub">{s.description}</span>}
                  <span class="row-sub filter-line">{s.filterLine}</span>
                </button>
                <button
                  class="text-button destructive"
                  aria-label={t("Delete %@", s.title)}
                  onClick={() => void remove(s)}
                >
                  {t("Delete")}
                </button>
              </li>
            );
          })}
          {list.length === 0 && (
            <li class="empty-row">{search ? t("No analyses match.") : t("No analyses yet.")}</li>
          )}
        </ul>
      )}
      {showMenu && (
        <div class="scrim sheet-scrim" onClick={(e) => e.target === e.currentTarget && setShowMenu(false)}>
          <div class="sheet" role="dialog" aria-modal="true" aria-labelledby="menu-title">
            <header class="sheet-header">
              <span class="header-spacer" />
              <h2 id="menu-title">{t("New Analysis")}</h2>
              <button class="icon-button" aria-label={t("Close")} onClick={() => setShowMenu(false)}>
                <CloseIcon />
              </button>
            </header>
            <ul class="list menu" data-testid="analysis-menu">
              {menu.map((m, i) => (
                <li>
                  <button class="row" data-screen={m.screen} disabled={creating} onClick={() => void create(i)}>
                    <span class="row-text">
                      {m.title}
                      <span class="row-sub">{m.description}</span>
                    </span>
                  </button>
                </li>
              ))}
            </ul>
          </div>
        </div>
      )}
      {opened && (
        <AnalysisView
          id={opened.id}
          built={opened.built}
          shell={shell}
          onClose={() => {
            setOpened(null);
            void load(search);
          }}
        />
      )}
    </section>
  );
}

// One analysis: its variables, filter, settings and result.
function AnalysisView({
  id,
  built,
  shell,
  onClose,
}: {
  id: number;
  built: boolean;
  shell: Shell;
  onClose: () => void;
}) {
  const [def, setDef] = useState<Definition | null>(null);
  const [computed, setComputed] = useState<Computed | null>(null);
  const [error, setError] = useState<string | null>(null);
  const [variables, setVariables] = useState<VariableRef[]>([]);
  const [filtering, setFiltering] = useState<"first" | "second" | null>(null);
  const [choosing, setChoosing] = useState<Choices | null>(null);
  // The settings the kind describes without a stored field (the view, the
  // pairwise comparisons, the residuals): kept by the page, sent with each compute.
  const [extra, setExtraState] = useState<Record<string, string>>({});
  const setExtra = (key: string, value: string) => setExtraState((e) => ({ ...e, [key]: value }));
  const [busy, setBusy] = useState(false);
  // The expected value as typed (null until the user types), sent once the typing pauses.
  const [typing, setTyping] = useState<string | null>(null);
  const [typed, setTyped] = useState<string | null>(null);
  const latest = useRef(0);
  // The settings folded to one line so that the result comes first: from the
  // start when the analysis opens with its choices made, and as soon as a
  // chosen variable completes them; a tap opens them again.
  const [folded, setFolded] = useState(false);
  const viewBody = useRef<HTMLDivElement>(null);

  useEffect(() => {
    api
      .get<Definition>(`/api/analyses/${id}`)
      .then((d) => {
        setDef(d);
        setFolded(!!d.kind && hasItsChoices(d.kind, d));
      })
      .catch(shell.fail);
    api
      .get<{ cards: Card[] }>("/api/variables")
      .then((v) => setVariables(v.cards.map((c) => ({ num: c.num, name: c.name, type: c.type }))))
      .catch(() => {});
    // Closed before its variables were chosen, the analysis is not kept.
    return () => void api.post(`/api/analyses/${id}/leave`).catch(() => {});
  }, [id]);

  const kind = def?.kind ?? null;
  // The kinds' descriptions the settings panel is drawn from, asked for once for the page.
  const [kinds, setKinds] = useState<KindDescription[] | null>(null);
  useEffect(() => {
    loadKinds().then(setKinds).catch(shell.fail);
  }, []);
  const description = kinds?.find((k) => k.name === kind) ?? null;

  // The levels the level pickers list, fetched again only when the variables change.
  const [levels, setLevels] = useState<Levels | null>(null);
  // Only these count a level as 1: a test of means shares the proportions'
  // description, its level settings included, but has no level to pick.
  const picksLevels = kind === "logistic" || kind === "proportions";
  const levelsKey = picksLevels ? `${kind}:${def?.left?.num}:${def?.right?.num}` : "";
  useEffect(() => {
    setLevels(null);
    if (!levelsKey) return;
    let current = true;
    api
      .get<Levels>(`/api/analyses/${id}/levels`)
      .then((l) => current && setLevels(l))
      .catch(shell.fail);
    return () => {
      current = false;
    };
  }, [levelsKey]);

  // The server computes the stored definition; the page sends only what it
  // has not stored: the settings its kind describes without a field, as
  // chosen, and the expected value as typed (so an unreadable text gets its message).
  const unsaved: Record<string, string> = {};
  for (const s of description?.settings ?? []) if (!s.field && extra[s.key] !== undefined) unsaved[s.key] = extra[s.key];
  if (typed !== null && description?.settings.some((s) => s.key === "expected")) unsaved.expected = typed;
  const body = def && kind ? { page: pageId, settings: unsaved } : null;
  const key = body ? JSON.stringify([def, unsaved]) : "";

  // Computed again whenever the variables, filters or settings change; an
  // invalid choice comes back as its validity message.
  useEffect(() => {
    if (!body) return;
    const request = ++latest.current;
    setComputed(null);
    setError(null);
    let stop = () => {};
    api
      .post<{ job: string }>(`/api/analyses/${id}/compute`, body)
      .then((r) => {
        if (request !== latest.current) return;
        stop = followJob(r.job, {
          onEvent: () => {},
          onEnd: (result) => {
            if (request !== latest.current || result?.superseded) return;
            if (result?.error) setError(result.error);
            else setComputed(result as Computed);
          },
        });
      })
      .catch((e) => {
        if (request === latest.current) setError(e instanceof ApiError ? (e.body?.message ?? e.code) : String(e));
      });
    return () => stop();
  }, [key]);

  // Stores a change; `fold` folds the settings when it completes the choices.
  const change = async (path: string, payload: unknown, fold = false) => {
    try {
      const next = await api.post<Definition>(`/api/analyses/${id}/${path}`, payload);
      setDef(next);
      if (fold && next.kind && hasItsChoices(next.kind, next)) setFolded(true);
    } catch (e) {
      shell.fail(e);
    }
  };

  // A typed expected value is stored (when it reads as one) and computed once the typing pauses.
  useEffect(() => {
    if (typing === null) return;
    const h = window.setTimeout(() => {
      setTyped(typing);
      void change("settings", { expected: typing });
    }, 350);
    return () => window.clearTimeout(h);
  }, [typing]);

  // The grouping variables come in the chooser's form, as position 0.
  const chooseGroup = async () => {
    try {
      const g = await api.get<{ offered: Choices["offered"] }>(`/api/analyses/${id}/groups`);
      const chosen = def?.group ? [{ num: def.group.num, name: def.group.name }] : [];
      setChoosing({ position: 0, multiple: false, addAll: false, offered: g.offered, chosen });
    } catch (e) {
      shell.fail(e);
    }
  };

  const choose = async (position: number) => {
    try {
      setChoosing(await api.get<Choices>(`/api/analyses/${id}/choices/${position}`));
    } catch (e) {
      shell.fail(e);
    }
  };

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

  const linksTerms = kind === "correlation" || kind === "linear" || kind === "logistic";
  return (
    <div class="overlay-screen analysis-screen" role="dialog" aria-modal="true" aria-labelledby="analysis-title">
      <header class="screen-header overlay-header">
        <button class="text-button" onClick={onClose}>
          {t("Close")}
        </button>
        <h1 id="analysis-title" class="overlay-title">
          {def?.title ?? ""}
        </h1>
        <div class="header-actions">
          {built && (
            <>
              {shell.wide && linksTerms && <GlossaryButton terms={resultTerms} />}
              <button class="text-button" data-testid="analysis-filter" onClick={() => setFiltering("first")}>
                {t("Filter")}
              </button>
              <button
                class="text-button"
                data-testid="analysis-share"
                disabled={!computed || busy}
                onClick={() => void act("share")}
              >
                {t("Share")}
              </button>
              <button
                class="text-button"
                data-testid="analysis-print"
                disabled={!computed || busy}
                onClick={() => void act("print")}
              >
                {t("Print")}
              </button>
            </>
          )}
        </div>
      </header>
      <div class="overlay-body" data-testid="analysis-view" ref={viewBody}>
        {!built && (
          <p class="empty-row" data-testid="not-built">
            {t("This analysis is not available yet.")}
          </p>
        )}
        {built && def && description && folded && (
          <SettingsSummary
            line={settingsLine(description, def, extra)}
            onOpen={() => {
              setFolded(false);
              // The keyboard goes on to the first setting the tap opened.
              window.setTimeout(() => viewBody.current?.querySelector<HTMLElement>(".analysis-settings button, .analysis-settings input")?.focus(), 0);
            }}
          />
        )}
        {built && def && description && !folded && (
          <SettingsPanel
            def={def}
            kind={description}
            levels={levels}
            extra={extra}
            setExtra={setExtra}
            onExpected={setTyping}
            actions={{
              choose: (position) => void choose(position),
              setColumns: (nums) => void change("variables", { position: 3, columns: nums }),
              store: (settings) => void change("settings", settings),
              filterSecond: () => setFiltering("second"),
              chooseGroup: () => void chooseGroup(),
            }}
          />
        )}
        {built && (
          <ResultView
            computed={computed}
            error={error}
            terms={resultTerms}
            wide={shell.wide}
            onGlossary={linksTerms ? (term) => openGlossary(resultTerms, term) : undefined}
          />
        )}
      </div>
      {filtering && def && (
        <FilterList
          wheres={filtering === "first" ? def.wheres : def.wheres2}
          variables={variables}
          shell={shell}
          onChange={(w) => void change("filters", filtering === "first" ? { wheres: w } : { wheres2: w })}
          onClose={() => setFiltering(null)}
        />
      )}
      {choosing && (
        <Chooser
          choices={choosing}
          onClose={() => setChoosing(null)}
          onChoose={(nums) => {
            setChoosing(null);
            if (choosing.position === 0) void change("group", { column: nums[0] }, true);
            else void change("variables", { position: choosing.position, columns: nums }, true);
          }}
        />
      )}
    </div>
  );
}
