// Renders a result's layout as the server built it: titles and figure
// lines as text, tables as HTML tables, charts as the renderer's SVG (the
// same drawing as in the PDF report). The screen flows with the page's
// width instead of the layout's frames.
import type { JSX } from "preact";
import { api } from "../api";
import { showToast } from "./alerts";
import { t } from "../i18n";

// One element of a layout, as the server sends it.
export interface LayoutElement {
  kind: "label" | "text" | "table" | "chart" | "container" | "other";
  frame: [number, number, number, number];
  text?: string;
  bold?: boolean;
  align?: "right" | "centre";
  role?: string;
  term?: string;
  title?: string;
  hidden?: boolean;
  children?: LayoutElement[];
}

// A computed result as the analyze job returns it.
export interface Computed {
  result: any;
  layout: LayoutElement;
  charts: string[];
  baseName: string;
  id: string;
}

// A figure's text with its label (the text before ":", else before " =",
// else all of it) as the link to its glossary term.
function Term({ e, onTerm }: { e: LayoutElement; onTerm: (term: string) => void }) {
  const text = e.text ?? "";
  const at = text.indexOf(":") > 0 ? text.indexOf(":") : text.indexOf(" =");
  return (
    <>
      <button class="term-link" onClick={() => onTerm(e.term!)}>
        {at > 0 ? text.slice(0, at) : text}
      </button>
      {at > 0 ? text.slice(at) : ""}
    </>
  );
}

function Line({ e, onTerm }: { e: LayoutElement; onTerm?: (term: string) => void }) {
  if (!e.text) return <p class="figure-gap" aria-hidden="true" />;
  if (e.term && onTerm) {
    return (
      <p class="figure" data-term={e.term}>
        <Term e={e} onTerm={onTerm} />
      </p>
    );
  }
  return (
    <p class="figure" data-term={e.term}>
      {e.text}
    </p>
  );
}

function Table({ e }: { e: LayoutElement }) {
  const rows = e.children ?? [];
  const align = (c: LayoutElement) => (c.align === "right" ? "num" : c.align === "centre" ? "centre" : undefined);
  return (
    // A table wider than the screen scrolls in this box, which the keyboard
    // can therefore reach and scroll.
    <div class="result-table-scroll" tabIndex={0} role="region" aria-label={e.title || t("Table")}>
      <table class="result-table" data-role={e.role}>
        {rows.length > 0 && (
          <thead>
            <tr>
              {(rows[0].children ?? []).map((c) => (
                <th class={align(c)} scope="col">
                  {c.text ?? ""}
                </th>
              ))}
            </tr>
          </thead>
        )}
        <tbody>
          {rows.slice(1).map((r) => (
            <tr>
              {(r.children ?? []).map((c, i) =>
                i === 0 && r.children!.length > 1 && c.bold ? (
                  <th scope="row">{c.text ?? ""}</th>
                ) : (
                  <td class={align(c)}>{c.text ?? ""}</td>
                ),
              )}
            </tr>
          ))}
        </tbody>
      </table>
    </div>
  );
}

// `terms`, when given, are the glossary's keys: a label links to its term
// only when the glossary has it.
export function LayoutView({
  computed,
  onTerm,
  terms,
}: {
  computed: Computed;
  onTerm?: (term: string) => void;
  terms?: string[];
}) {
  const link = onTerm && ((term: string) => onTerm(term));
  const linked = (e: LayoutElement) => (e.term && (!terms || terms.includes(e.term)) ? link : undefined);
  let chart = 0;
  const out: JSX.Element[] = [];
  const blocks: JSX.Element[] = [];
  const charts: JSX.Element[] = [];
  const flush = () => {
    if (blocks.length) out.push(<div class="figure-blocks">{blocks.splice(0)}</div>);
    if (charts.length) out.push(<div class="result-charts">{charts.splice(0)}</div>);
  };
  for (const e of computed.layout.children ?? []) {
    if (e.hidden) continue;
    if (e.kind === "chart") {
      const svg = computed.charts[chart++] ?? "";
      charts.push(
        <figure class="result-chart" data-title={e.title}>
          <div class="chart-svg" dangerouslySetInnerHTML={{ __html: svg }} />
          <figcaption class="visually-hidden">{e.title}</figcaption>
        </figure>,
      );
      continue;
    }
    if (e.kind === "container" && e.role === "block") {
      blocks.push(
        <div class="figure-block">
          {(e.children ?? []).map((c) => (
            <Line e={c} onTerm={linked(c)} />
          ))}
        </div>,
      );
      continue;
    }
    flush();
    if (e.kind === "table") out.push(<Table e={e} />);
    else if (e.role === "title") out.push(<h2 class="result-title">{e.text}</h2>);
    else if (e.role === "heading")
      out.push(
        <h3 class="result-heading">
          {linked(e) ? <Term e={e} onTerm={linked(e)!} /> : e.text}
        </h3>,
      );
    else if ((e.kind === "label" || e.kind === "text") && linked(e))
      out.push(
        <p class={`result-text ${e.role ?? ""}`} data-role={e.role} data-term={e.term}>
          <Term e={e} onTerm={linked(e)!} />
        </p>,
      );
    else if (e.kind === "label" || e.kind === "text")
      out.push(
        <p class={`result-text ${e.role ?? ""}`} data-role={e.role}>
          {e.text}
        </p>,
      );
  }
  flush();
  return <div class="layout-view">{out}</div>;
}

function blobOf(file: { base64: string; type: string }): Blob {
  const bytes = Uint8Array.from(atob(file.base64), (c) => c.charCodeAt(0));
  return new Blob([bytes], { type: file.type });
}

function download(blob: Blob, name: string) {
  const url = URL.createObjectURL(blob);
  const a = document.createElement("a");
  a.href = url;
  a.download = name;
  document.body.appendChild(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

// Share: the PDF report and the CSV file handed to the system's share sheet
// where the browser can share files (phones), else both downloaded.
export async function shareResult(id: string): Promise<"shared" | "downloaded"> {
  const f = await api.get<any>(`/api/analyze/${id}/files`);
  const pdf = blobOf(f.pdf);
  const csv = blobOf(f.csv);
  const files = [new File([pdf], f.pdf.name, { type: f.pdf.type }), new File([csv], f.csv.name, { type: f.csv.type })];
  const nav = navigator as any;
  if (nav.canShare && nav.canShare({ files })) {
    try {
      await nav.share({ files, title: f.baseName });
      return "shared";
    } catch {
      // Cancelled or refused: fall back to downloading.
    }
  }
  download(pdf, f.pdf.name);
  download(csv, f.csv.name);
  // A desktop browser saves without a word: say what arrived where.
  showToast(t("Saved %@ and %@ to your downloads folder.", f.pdf.name, f.csv.name));
  return "downloaded";
}

// Print: the PDF report opened for the browser's print dialog.
export async function printResult(id: string): Promise<void> {
  const f = await api.get<any>(`/api/analyze/${id}/files`);
  const url = URL.createObjectURL(blobOf(f.pdf));
  const frame = document.createElement("iframe");
  frame.className = "print-frame";
  frame.src = url;
  frame.title = t("Print");
  frame.onload = () => {
    try {
      frame.contentWindow?.focus();
      frame.contentWindow?.print();
    } catch {
      window.open(url, "_blank");
    }
  };
  document.body.appendChild(frame);
  setTimeout(() => {
    frame.remove();
    URL.revokeObjectURL(url);
  }, 120000);
}

// Exported for the data set export, which offers one file the same ways.
export { blobOf, download };
