// The Analysis tab: the list of saved analyses (empty for now) and the menu
// of new analyses, shown but not yet working.
import { useEffect, useState } from "preact/hooks";
import { api } from "../api";
import type { Shell } from "../app";
import { CloseIcon, PlusIcon } from "../components/icons";
import { t } from "../i18n";
import { NoWorkspace } from "./browse";

// The menu of new analyses, in its order.
export const analysisMenu: { title: string; description: string; screen: string }[] = [
  { title: "Two way table of frequencies", description: "contingency table, chi squared", screen: "twoWayTab" },
  { title: "Bivariate Analysis", description: "correlation and simple linear regression", screen: "correlation" },
  { title: "Hypothesis test of means", description: "1, 2, or paired samples", screen: "hypothesisTestMeans" },
  { title: "Hypothesis test of proportions", description: "1, 2, or paired samples", screen: "hypothesisTestProportions" },
  { title: "Linear Regression", description: "multi-variate", screen: "regression" },
  { title: "Logistic Regression", description: "multi-variate", screen: "regression" },
  { title: "One-way ANOVA", description: "table of summary statistics and box plot", screen: "tabSummarize" },
];

export function AnalysisScreen({ shell }: { shell: Shell }) {
  const [menu, setMenu] = useState(false);
  const [tip, setTip] = useState(false);
  const open = !!shell.status?.workspace;

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
                setMenu(true);
              }}
            >
              <PlusIcon />
            </button>
          )}
          {open && tip && (
            <div class="tip" role="note" onClick={() => setTip(false)}>
              {t("Tap to start a new analysis")}
            </div>
          )}
        </div>
      </header>
      {!open && <NoWorkspace shell={shell} />}
      {open && <p class="empty-row">{t("No analyses yet.")}</p>}
      {menu && (
        <div class="scrim sheet-scrim" onClick={(e) => e.target === e.currentTarget && setMenu(false)}>
          <div class="sheet" role="dialog" aria-modal="true" aria-labelledby="menu-title">
            <header class="sheet-header">
              <span class="header-spacer" />
              <h2 id="menu-title">{t("New Analysis")}</h2>
              <button class="icon-button" aria-label={t("Close")} onClick={() => setMenu(false)}>
                <CloseIcon />
              </button>
            </header>
            <ul class="list menu" data-testid="analysis-menu">
              {analysisMenu.map((m) => (
                <li>
                  <button class="row" disabled aria-disabled="true" data-screen={m.screen}>
                    <span class="row-text">
                      {t(m.title)}
                      <span class="row-sub">{t(m.description)}</span>
                    </span>
                  </button>
                </li>
              ))}
            </ul>
            <p class="footnote">{t("Available once analyses are built.")}</p>
          </div>
        </div>
      )}
    </section>
  );
}
