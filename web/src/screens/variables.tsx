// The Variables tab: a card per variable with its type and summary, filled
// from the cache at once and refreshed by the server's background work.
import { useEffect, useRef, useState } from "preact/hooks";
import { api, ApiError, followJob, type Status } from "../api";
import type { Shell } from "../app";
import { showAlert } from "../components/alerts";
import { TermLabel } from "../components/glossary";
import { PlusIcon, SearchIcon, SparkIcon, TrashIcon } from "../components/icons";
import { useOneTabStop } from "../components/one_tab_stop";
import { UndoRedo } from "../components/undo_redo";
import { TypePicker } from "../components/variable_settings";
import { isSingular, t } from "../i18n";
import { NoWorkspace } from "./browse";
import { DeriveEditor, type Created, type DeriveOptions } from "./derive";
import { DetailScreen } from "./detail";

export interface CardLine {
  text: string;
  heading?: boolean;
  value?: string;
  count?: string;
  percent?: string;
}

export interface Card {
  id: number;
  num: number;
  name: string;
  // The variable's label from an SPSS, Stata or SAS file, when it has one.
  label?: string;
  // The texts declared missing in it.
  missingCodes?: string[];
  type: "Categorical" | "Binary" | "Numeric" | "DateTime" | "Unknown";
  typeLine: string;
  lines: CardLine[];
  cached: boolean;
}

interface VariablesAnswer {
  status: Status;
  cards: Card[];
  total: number;
  canAdd: boolean;
}

// The glossary terms of the summary figures a card shows, by their label.
const cardTerms: [string, string][] = [
  ["Observations", "observations"],
  ["Unique Values", "levels"],
  ["Min", "minimum"],
  ["Max", "maximum"],
  ["Median", "median"],
  ["Mean", "mean"],
];

// "Mean: 42.13" with its label opening the term's page in the glossary.
function SummaryLine({ text }: { text: string }) {
  const colon = text.indexOf(": ");
  const label = colon > 0 ? text.slice(0, colon) : "";
  const term = cardTerms.find(([english]) => t(english) === label)?.[1];
  if (!term) return <>{text}</>;
  return (
    <>
      <TermLabel term={term}>{label}</TermLabel>
      {text.slice(colon)}
    </>
  );
}

const typeClass: Record<string, string> = {
  Categorical: "categorical",
  Binary: "binary",
  Numeric: "numeric",
  DateTime: "datetime",
};

function CardView({
  card,
  lines,
  shell,
  onTypeChanged,
  onDelete,
  onDerive,
  onOpen,
  observe,
}: {
  card: Card;
  lines: CardLine[];
  shell: Shell;
  onTypeChanged: () => void;
  onDelete: () => void;
  onDerive: () => void;
  onOpen: () => void;
  observe: (el: Element | null) => void;
}) {
  const [confirming, setConfirming] = useState(false);
  const stop = useOneTabStop<HTMLElement>(onOpen);
  return (
    <article
      class={`card ${typeClass[card.type] ?? "unknown"}`}
      data-id={card.id}
      ref={(el) => {
        observe(el);
        stop.ref.current = el;
      }}
      tabIndex={0}
      aria-label={`${card.name}, ${card.typeLine}`}
      onKeyDown={stop.onKeyDown}
      data-testid="variable-card"
    >
      <header class="card-header">
        <h2 class="card-name">
          <button class="card-open" aria-label={t("Open detail of %@", card.name)} onClick={onOpen}>
            {card.name}
          </button>
        </h2>
        {card.type === "Numeric" && (
          <button
            class="icon-button subtle derive-from"
            aria-label={t("New variable from %@", card.name)}
            title={t("New variable from %@", card.name)}
            onClick={onDerive}
          >
            <SparkIcon size={20} />
          </button>
        )}
        {confirming ? (
          <button class="delete-confirm" onClick={onDelete} onBlur={() => setConfirming(false)}>
            {t("Delete")}
          </button>
        ) : (
          <button
            class="icon-button subtle"
            aria-label={t("Delete variable %@", card.name)}
            title={t("Delete variable %@", card.name)}
            onClick={() => setConfirming(true)}
          >
            <TrashIcon size={20} />
          </button>
        )}
      </header>
      {card.label && (
        <p class="card-label" data-testid="variable-label">
          {card.label}
        </p>
      )}
      <div class="type-row">
        <p class="type-line">
          <span class="type-dot" aria-hidden="true" />
          {card.typeLine}
        </p>
        {card.type !== "Unknown" && (
          <TypePicker id={card.id} name={card.name} type={card.type} shell={shell} onChanged={onTypeChanged} />
        )}
      </div>
      {card.missingCodes && card.missingCodes.length > 0 && (
        <p class="card-label" data-testid="card-missing">
          {t("Missing codes: %@", card.missingCodes.join(", "))}
        </p>
      )}
      <div class="card-lines">
        {lines.map((l) =>
          l.heading ? (
            <p class="card-heading">{l.text.trim()}</p>
          ) : l.value !== undefined ? (
            <p class="freq-line">
              <span class="freq-value">{l.value}</span>
              <span class="freq-count">{l.count}</span>
              <span class="freq-percent">{l.percent}</span>
            </p>
          ) : (
            <p class={`card-line ${l.text ? "" : "blank"}`}>{l.text ? <SummaryLine text={l.text} /> : "\u00a0"}</p>
          ),
        )}
      </div>
    </article>
  );
}

export function VariablesScreen({ shell }: { shell: Shell }) {
  const [answer, setAnswer] = useState<VariablesAnswer | null>(null);
  const [search, setSearch] = useState("");
  const [fresh, setFresh] = useState<Record<number, CardLine[]>>({});
  const [tip, setTip] = useState(false);
  const [editor, setEditor] = useState<{ options: DeriveOptions; x?: number } | null>(null);
  const [added, setAdded] = useState<number | null>(null);
  const [detail, setDetail] = useState<Card | null>(null);
  const requested = useRef(new Set<number>());
  const pending = useRef(new Set<number>());
  const timer = useRef<number | null>(null);
  const stops = useRef<(() => void)[]>([]);
  const observer = useRef<IntersectionObserver | null>(null);
  const generation = useRef(0);
  const screen = useRef(`${Date.now().toString(36)}-${Math.random().toString(36).slice(2)}`);
  const latest = useRef(0);

  // Answers may arrive out of order while the user types: only the answer to
  // the latest request is shown.
  const load = async (text: string) => {
    const seq = ++latest.current;
    try {
      const r = await api.get<VariablesAnswer>(`/api/variables?search=${encodeURIComponent(text)}`);
      if (seq !== latest.current) return;
      generation.current = r.status.generation;
      setAnswer(r);
      shell.setStatus(r.status);
    } catch (e) {
      shell.fail(e);
    }
  };

  // Cards that come into view ask for their summaries, a batch at a time.
  // The server keeps one refresh per screen: a newer batch takes over what
  // the older one had left, so the older job soon ends.
  const flush = () => {
    timer.current = null;
    const ids = [...pending.current];
    pending.current.clear();
    if (!ids.length) return;
    api
      .post<{ job: string | null }>("/api/variables/refresh", { screen: screen.current, ids })
      .then((r) => {
        if (!r.job) return;
        stops.current.push(
          followJob(r.job, {
            onEvent: (e) => {
              if (e.generation !== generation.current) return;
              setFresh((f) => ({ ...f, [e.id]: e.lines }));
            },
            onEnd: () => {},
          }),
        );
      })
      .catch(() => ids.forEach((id) => requested.current.delete(id)));
  };

  // After an undo or redo every card's summary may be another: the cards
  // in view ask for theirs again (observing anew reports what is in view).
  const reloadAll = () => {
    setFresh({});
    requested.current.clear();
    void load(search).then(() => {
      const o = observer.current;
      if (!o) return;
      o.disconnect();
      document.querySelectorAll("[data-testid=variable-card]").forEach((el) => o.observe(el));
    });
  };

  // A variable whose type or codes changed: its summary is asked for again.
  const changed = (id: number) => {
    setFresh((f) => {
      const { [id]: _gone, ...rest } = f;
      return rest;
    });
    requested.current.add(id);
    pending.current.add(id);
    if (timer.current === null) timer.current = window.setTimeout(flush, 50);
    void load(search);
  };

  useEffect(() => {
    observer.current = new IntersectionObserver(
      (entries) => {
        for (const en of entries) {
          if (!en.isIntersecting) continue;
          const id = Number((en.target as HTMLElement).dataset.id);
          if (requested.current.has(id)) continue;
          requested.current.add(id);
          pending.current.add(id);
        }
        if (pending.current.size && timer.current === null) timer.current = window.setTimeout(flush, 50);
      },
      { rootMargin: "200px" },
    );
    void load("");
    api
      .get<{ show: boolean }>("/api/help/newVariable")
      .then((h) => {
        if (h.show) {
          setTip(true);
          void api.post("/api/help/newVariable/shown").catch(() => {});
        }
      })
      .catch(() => {});
    return () => {
      observer.current?.disconnect();
      stops.current.forEach((s) => s());
      // Leaving the screen stops its summaries.
      void api.post("/api/variables/refresh", { screen: screen.current, ids: [] }).catch(() => {});
      if (timer.current !== null) window.clearTimeout(timer.current);
    };
  }, []);

  // The search runs on the server (case and diacritics ignored), shortly
  // after typing stops.
  const first = useRef(true);
  useEffect(() => {
    if (first.current) {
      first.current = false;
      return;
    }
    const h = window.setTimeout(() => void load(search), 150);
    return () => window.clearTimeout(h);
  }, [search]);

  const observe = (el: Element | null) => {
    if (el && observer.current) observer.current.observe(el);
  };

  // A variable that saved analyses use is deleted only once the user has
  // seen which analyses lose it.
  const remove = async (card: Card) => {
    try {
      await api.del(`/api/variables/${card.id}`);
    } catch (e) {
      if (e instanceof ApiError && e.code === "variableInUse") {
        const titles = (e.body.analyses as { title: string }[]).map((a) => `• ${a.title}`).join("\n");
        const button = await showAlert(
          { title: e.body.title, message: `${e.body.message}\n${titles}`, buttons: [t("Cancel"), t("Delete")] },
          1,
        );
        if (button === 1) {
          try {
            await api.del(`/api/variables/${card.id}?force=1`);
          } catch (e2) {
            shell.fail(e2);
          }
        }
      } else shell.fail(e);
    }
    await load(search);
  };

  // The add action and a Numeric card open the derived-variable editor; at
  // the variable limit the server answers with its alert instead.
  const openEditor = async (x?: number) => {
    setTip(false);
    try {
      const options = await api.get<DeriveOptions>("/api/derive");
      setEditor({ options, x });
    } catch (e) {
      shell.fail(e);
    }
  };

  const created = async (c: Created) => {
    setEditor(null);
    shell.setStatus(c.status);
    setAdded(c.card.id);
    await load(search);
  };

  // The new card is brought into view once the list holds it.
  useEffect(() => {
    if (added === null || !answer?.cards.some((c) => c.id === added)) return;
    document.querySelector(`[data-id="${added}"]`)?.scrollIntoView({ block: "center" });
  }, [added, answer]);

  const open = !!answer?.status.workspace;
  return (
    <section class="screen variables">
      <header class="screen-header">
        <h1>{t("Variables")}</h1>
        <div class="header-actions">
          {open && <UndoRedo shell={shell} onMoved={reloadAll} />}
          {open && (
            <button
              class="icon-button accent"
              aria-label={t("Add Variable")}
              title={t("Add Variable")}
              onClick={() => void openEditor()}
            >
              <PlusIcon />
            </button>
          )}
        </div>
      </header>
      {/* Under the header, pointing up at its action: it covers nothing. */}
      {open && tip && (
        <div class="tip" role="note" onClick={() => setTip(false)}>
          {t("Tap to create a new variable")}
        </div>
      )}
      {answer && !open && <NoWorkspace shell={shell} />}
      {open && (
        <>
          <div class="search-bar">
            <SearchIcon size={20} class="search-icon" />
            <input
              type="search"
              class="search-input"
              placeholder={t("Search")}
              aria-label={t("Search variables")}
              value={search}
              onInput={(e) => setSearch((e.currentTarget as HTMLInputElement).value)}
            />
          </div>
          <p class="list-count">{t(isSingular(answer!.total) ? "%u of %u variable" : "%u of %u variables", answer!.cards.length, answer!.total)}</p>
          {answer!.cards.length === 0 && (
            <p class="empty-row">{answer!.total ? t("No variables match the search.") : t("This workspace has no variables.")}</p>
          )}
          <div class="cards" data-testid="cards">
            {answer!.cards.map((c) => (
              <CardView
                key={c.id}
                card={c}
                lines={fresh[c.id] ?? c.lines}
                observe={observe}
                shell={shell}
                onTypeChanged={() => changed(c.id)}
                onDelete={() => void remove(c)}
                onDerive={() => void openEditor(c.id)}
                onOpen={() => setDetail({ ...c, lines: fresh[c.id] ?? c.lines })}
              />
            ))}
          </div>
        </>
      )}
      {detail && (
        <DetailScreen
          card={detail}
          shell={shell}
          onClose={() => {
            setDetail(null);
            // The detail may have changed the type or the missing-value codes.
            changed(detail.id);
          }}
        />
      )}
      {editor && (
        <DeriveEditor
          shell={shell}
          options={editor.options}
          initialX={editor.x}
          onClose={() => setEditor(null)}
          onCreated={(c) => void created(c)}
        />
      )}
    </section>
  );
}
