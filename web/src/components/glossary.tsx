// The glossary of statistical terms: a sheet that lists the terms a screen
// hands it, searches their titles and shows one term's explanation. Any
// screen opens it with openGlossary(); figure labels that have a term are
// wrapped in <TermLabel> so that one tap shows what the figure means.
import type { ComponentChildren } from "preact";
import { useEffect, useRef, useState } from "preact/hooks";
import { api } from "../api";
import { t } from "../i18n";
import { ChevronIcon, HelpIcon, SearchIcon } from "./icons";

// The terms of the variable detail's summary statistics, in the order it shows them.
export const variableDetailTerms = [
  "observations",
  "levels",
  "mean",
  "meanCI",
  "median",
  "rms",
  "mode",
  "sum",
  "minimum",
  "pc25",
  "pc75",
  "maximum",
  "range",
  "midrange",
  "variance",
  "varianceCI",
  "sd",
  "sdCI",
  "mad",
  "coeffvar",
  "skew",
  "kurtosis",
  "qqplot",
];

interface TermTitle {
  key: string;
  title: string;
}

interface TermPage extends TermTitle {
  text: string;
  html: string;
}

// What the sheet shows: the keys it lists (null: every term) and, when set,
// the term whose page is open.
export interface GlossaryRequest {
  keys: string[] | null;
  term?: string;
}

let current: GlossaryRequest | null = null;
let opened = 0;
let notify: () => void = () => {};

// Opens the glossary over the current screen with the given term keys (every
// term when none are given); with a term, its page opens at once and going
// back shows the list.
export function openGlossary(keys?: string[] | null, term?: string): void {
  current = { keys: keys ?? null, term };
  opened++;
  notify();
}

export function closeGlossary(): void {
  current = null;
  notify();
}

// The glossary a location hash asks for: "#/<tab>/glossary" lists every
// term, "#/<tab>/glossary/<key>" opens that term's page.
export function glossaryFromHash(hash: string): GlossaryRequest | null {
  const m = /^#?\/?[\w-]*\/glossary(?:\/(\w+))?\/?$/.exec(hash);
  if (!m) return null;
  return { keys: null, term: m[1] };
}

// A figure label that opens its term's page; `terms` are the keys of the
// screen's glossary list, shown when the user goes back from the page.
export function TermLabel({ term, terms, children }: { term: string; terms?: string[]; children: ComponentChildren }) {
  return (
    <button type="button" class="term-label" data-term={term} onClick={() => openGlossary(terms ?? null, term)}>
      {children}
    </button>
  );
}

// The glossary action of a result screen's header: lists the terms of the
// figures the screen shows.
export function GlossaryButton({ terms }: { terms: string[] }) {
  return (
    <button
      class="icon-button"
      aria-label={t("Glossary of Terms")}
      title={t("Glossary of Terms")}
      onClick={() => openGlossary(terms)}
    >
      <HelpIcon />
    </button>
  );
}

function listPath(keys: string[] | null, search: string): string {
  const params = new URLSearchParams();
  if (keys) params.set("keys", keys.join(","));
  if (search) params.set("search", search);
  const q = params.toString();
  return q ? `/api/glossary?${q}` : "/api/glossary";
}

function GlossarySheet({ request, onClose }: { request: GlossaryRequest; onClose: () => void }) {
  const [search, setSearch] = useState("");
  const [terms, setTerms] = useState<TermTitle[] | null>(null);
  const [term, setTerm] = useState<string | undefined>(request.term);
  const [page, setPage] = useState<TermPage | null>(null);
  const [failed, setFailed] = useState(false);
  const latest = useRef(0);
  const doneButton = useRef<HTMLButtonElement>(null);

  // Only the answer to the latest search is shown while the user types.
  useEffect(() => {
    const seq = ++latest.current;
    const h = window.setTimeout(
      () => {
        api
          .get<{ terms: TermTitle[] }>(listPath(request.keys, search))
          .then((r) => {
            if (seq === latest.current) setTerms(r.terms);
          })
          .catch(() => seq === latest.current && setFailed(true));
      },
      search ? 120 : 0,
    );
    return () => window.clearTimeout(h);
  }, [search]);

  useEffect(() => {
    setPage(null);
    if (!term) return;
    api
      .get<TermPage>(`/api/glossary/terms/${encodeURIComponent(term)}`)
      .then(setPage)
      .catch(() => setFailed(true));
  }, [term]);

  useEffect(() => {
    doneButton.current?.focus();
    const onKey = (e: KeyboardEvent) => e.key === "Escape" && onClose();
    window.addEventListener("keydown", onKey);
    return () => window.removeEventListener("keydown", onKey);
  }, []);

  const done = (
    <button ref={doneButton} class="text-button" onClick={onClose}>
      {t("Done")}
    </button>
  );
  return (
    <div class="scrim sheet-scrim" onClick={(e) => e.target === e.currentTarget && onClose()}>
      <div class="sheet glossary" role="dialog" aria-modal="true" aria-labelledby="glossary-title">
        {term ? (
          <>
            <header class="sheet-header">
              <button class="icon-button back-button" aria-label={t("Back")} title={t("Back")} onClick={() => setTerm(undefined)}>
                <ChevronIcon class="back-chevron" />
              </button>
              <h2 id="glossary-title">{page?.title ?? ""}</h2>
              {done}
            </header>
            {page && (
              <div class="term-text" data-testid="term-text" dangerouslySetInnerHTML={{ __html: page.html }} />
            )}
          </>
        ) : (
          <>
            <header class="sheet-header">
              <span class="header-spacer" />
              <h2 id="glossary-title">{t("Glossary of Terms")}</h2>
              {done}
            </header>
            <div class="search-bar glossary-search">
              <SearchIcon size={20} class="search-icon" />
              <input
                type="search"
                class="search-input"
                placeholder={t("Search help terms")}
                aria-label={t("Search help terms")}
                value={search}
                onInput={(e) => setSearch((e.currentTarget as HTMLInputElement).value)}
              />
            </div>
            {terms && terms.length > 0 && (
              <ul class="list" data-testid="glossary-terms">
                {terms.map((x) => (
                  <li>
                    <button class="row" data-term={x.key} onClick={() => setTerm(x.key)}>
                      <span class="row-text">{x.title}</span>
                      <ChevronIcon class="chevron" />
                    </button>
                  </li>
                ))}
              </ul>
            )}
          </>
        )}
        {failed && <p class="empty-row">{t("The server could not be reached.")}</p>}
      </div>
    </div>
  );
}

// Shows the glossary sheet whenever a screen (or the location) opens it.
export function GlossaryHost() {
  const [, setTick] = useState(0);
  useEffect(() => {
    notify = () => setTick((n) => n + 1);
    const fromHash = () => {
      const r = glossaryFromHash(location.hash);
      if (r) openGlossary(r.keys, r.term);
    };
    fromHash();
    window.addEventListener("hashchange", fromHash);
    return () => {
      notify = () => {};
      window.removeEventListener("hashchange", fromHash);
    };
  }, []);
  if (!current) return null;
  const close = () => {
    // A glossary opened by the location leaves it at its tab.
    if (glossaryFromHash(location.hash)) history.replaceState(null, "", location.hash.replace(/\/glossary.*$/, ""));
    closeGlossary();
  };
  // Each opening starts a fresh sheet.
  return <GlossarySheet key={opened} request={current} onClose={close} />;
}
