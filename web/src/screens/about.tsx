// The About tab: name, version, the glossary of statistical terms and the
// licences of the libraries used.
import { useEffect, useState } from "preact/hooks";
import { api } from "../api";
import type { Shell } from "../app";
import { openGlossary } from "../components/glossary";
import { ChevronIcon, HelpIcon } from "../components/icons";
import { t } from "../i18n";

interface About {
  name: string;
  version: string;
  dependencies: { index: number; name: string; purpose: string; licence: string; hasText: boolean }[];
}

export function AboutScreen({ shell }: { shell: Shell }) {
  const [about, setAbout] = useState<About | null>(null);
  const [texts, setTexts] = useState<Record<number, string>>({});

  useEffect(() => {
    api.get<About>("/api/about").then(setAbout).catch(shell.fail);
  }, []);

  const toggle = async (i: number) => {
    if (texts[i] !== undefined) {
      const next = { ...texts };
      delete next[i];
      setTexts(next);
      return;
    }
    try {
      const r = await api.get<{ text: string }>(`/api/about/licences/${i}`);
      setTexts({ ...texts, [i]: r.text });
    } catch (e) {
      shell.fail(e);
    }
  };

  return (
    <section class="screen about">
      <header class="screen-header">
        <h1>{t("About")}</h1>
      </header>
      {about && (
        <>
          <div class="about-hero">
            <img src="/icons/icon.svg" alt="" width="72" height="72" />
            <div>
              <p class="about-name">{about.name}</p>
              <p class="about-tagline">{t("Point-and-click data analysis")}</p>
              <p class="about-version">{t("Version %@", about.version)}</p>
            </div>
          </div>
          <div class="section">
            <ul class="list">
              <li>
                <button class="row" data-testid="open-glossary" onClick={() => openGlossary()}>
                  <HelpIcon class="row-icon accent" />
                  <span class="row-text">
                    {t("Glossary of Terms")}
                    <span class="row-sub">{t("Statistical terms explained")}</span>
                  </span>
                  <ChevronIcon class="chevron" />
                </button>
              </li>
            </ul>
          </div>
          <div class="section">
            <h2 class="section-title">{t("Licences")}</h2>
            <ul class="list">
              {about.dependencies.map((d) => (
                <li class="licence">
                  {d.hasText ? (
                    <button
                      class="row"
                      aria-expanded={texts[d.index] !== undefined}
                      title={texts[d.index] !== undefined ? t("Hide licence") : t("Show licence")}
                      onClick={() => void toggle(d.index)}
                    >
                      <span class="row-text">
                        {d.name}
                        <span class="row-sub">{d.purpose}</span>
                      </span>
                      <span class="licence-name">{d.licence}</span>
                      <ChevronIcon class={`chevron ${texts[d.index] !== undefined ? "open" : ""}`} />
                    </button>
                  ) : (
                    <div class="row static">
                      <span class="row-text">
                        {d.name}
                        <span class="row-sub">{d.purpose}</span>
                      </span>
                      <span class="licence-name">{d.licence}</span>
                      <span class="chevron" />
                    </div>
                  )}
                  {texts[d.index] !== undefined && <pre class="licence-text">{texts[d.index]}</pre>}
                </li>
              ))}
            </ul>
          </div>
        </>
      )}
    </section>
  );
}
