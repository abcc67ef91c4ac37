// How the server's text import reads an all-numeric date (A/B/C, A-B-C,
// A.B.C) under an order of day, month and year, mirrored here so that the
// import sheet's preview shows what the import will do.

// The orders the import takes; "auto" settles on one from the file.
export type DateOrder = "auto" | "dmy" | "mdy" | "ymd";
export type FixedOrder = Exclude<DateOrder, "auto">;

export interface CalendarDate {
  year: number;
  month: number; // 1-12
  day: number;
}

const separators = "/-.";

function digitRun(s: string, i: number): number {
  let k = 0;
  while (i + k < s.length && s.charCodeAt(i + k) >= 48 && s.charCodeAt(i + k) <= 57) ++k;
  return k;
}

// The three digit runs of a field that starts (after spaces and tabs) with
// digits, a separator, digits, the same separator and digits; none otherwise.
function parts(field: string): { runs: string[]; end: number } | null {
  let i = 0;
  while (i < field.length && (field[i] === " " || field[i] === "\t")) ++i;
  const ka = digitRun(field, i);
  const sep = field[i + ka];
  if (ka < 1 || ka > 4 || sep === undefined || !separators.includes(sep)) return null;
  const j = i + ka + 1;
  const kb = digitRun(field, j);
  if (kb < 1 || kb > 2 || field[j + kb] !== sep) return null;
  const q = j + kb + 1;
  const kc = digitRun(field, q);
  if (kc < 1 || kc > 4) return null;
  return { runs: [field.slice(i, i + ka), field.slice(j, j + kb), field.slice(q, q + kc)], end: q + kc };
}

// True when the field starts with something the import would take for an
// all-numeric date in some order: the fields the preview speaks about.
export function looksLikeDate(field: string): boolean {
  const p = parts(field);
  if (!p) return false;
  // A fourth part ("1.2.3.4", "v2.0.1") or a word glued on makes it no date.
  const [a, , c] = p.runs as [string, string, string];
  const rest = field.slice(p.end);
  if (/^[/.:-]\d/.test(rest)) return false;
  // Only an ISO date may have a time joined by "T".
  if (/^[\p{L}\p{N}]/u.test(rest) && !(a.length === 4 && /^T\d/.test(rest))) return false;
  if (a.length === 4) return c.length <= 2;
  return a.length <= 2 && (c.length === 2 || c.length === 4 || (a.length === 2 && c.length <= 2));
}

// The order a field settles for "auto": day first when its first part is
// 13-31 and its second at most 12, month first the other way round.
export function orderEvidence(field: string): FixedOrder | null {
  const p = parts(field);
  if (!p) return null;
  const [ra, rb, rc] = p.runs as [string, string, string];
  if (ra.length > 2 || (rc.length !== 2 && rc.length !== 4)) return null;
  const a = Number(ra);
  const b = Number(rb);
  if (a >= 13 && a <= 31 && b >= 1 && b <= 12) return "dmy";
  if (b >= 13 && b <= 31 && a >= 1 && a <= 12) return "mdy";
  return null;
}

function isLeap(y: number): boolean {
  return (y % 4 === 0 && y % 100 !== 0) || y % 400 === 0;
}

function validDate(y: number, m: number, d: number): boolean {
  const days = [31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31];
  return m >= 1 && m <= 12 && d >= 1 && d <= days[m - 1]! + (m === 2 && isLeap(y) ? 1 : 0);
}

// A two-digit year falls within the 80 years before and the 20 after `now`.
function fullYear(yy: number, now: number): number {
  const start = now - 80;
  let y = start - (start % 100) + yy;
  if (y < start) y += 100;
  return y;
}

// The date the field starts with, read in the order; none when it is no date
// in that order (a part out of range, the wrong number of digits). A date
// with a four-digit year first reads year, month, day in every order.
export function readDate(field: string, order: FixedOrder, currentYear = new Date().getFullYear()): CalendarDate | null {
  const p = parts(field);
  if (!p) return null;
  const [ra, rb, rc] = p.runs as [string, string, string];
  const a = Number(ra);
  const b = Number(rb);
  const c = Number(rc);
  let year: number;
  let month: number;
  let day: number;
  if (ra.length === 4) {
    if (rc.length > 2) return null;
    [year, month, day] = [a, b, c];
  } else if (ra.length > 2) {
    return null;
  } else if (order === "ymd") {
    if (ra.length !== 2 || rc.length > 2) return null;
    [year, month, day] = [fullYear(a, currentYear), b, c];
  } else {
    if (rc.length !== 2 && rc.length !== 4) return null;
    year = rc.length === 4 ? c : fullYear(c, currentYear);
    [month, day] = order === "mdy" ? [a, b] : [b, a];
  }
  return validDate(year, month, day) ? { year, month, day } : null;
}

// The order of the page's locale's short date, as ICU's pattern gives it to
// the server: year first, month before day, or day first.
export function localeOrder(lang?: string): FixedOrder {
  try {
    const kinds = new Intl.DateTimeFormat(lang, { year: "numeric", month: "numeric", day: "numeric" })
      .formatToParts(new Date(2024, 4, 13))
      .map((p) => p.type)
      .filter((k) => k === "year" || k === "month" || k === "day");
    if (kinds[0] === "year") return "ymd";
    return kinds.indexOf("month") < kinds.indexOf("day") ? "mdy" : "dmy";
  } catch {
    return "mdy";
  }
}

// The order the import will use for these lines: the chosen one, or for
// "auto" the first line (after the header) holding a field that settles it,
// else the locale's.
export function orderFor(choice: DateOrder, rows: string[][], fallback: FixedOrder): FixedOrder {
  if (choice !== "auto") return choice;
  for (const row of rows) {
    for (const field of row) {
      const o = orderEvidence(field);
      if (o) return o;
    }
  }
  return fallback;
}

// The first few fields that look like dates, in reading order.
export function firstDateFields(rows: string[][], limit = 3): string[] {
  const out: string[] = [];
  for (const row of rows) {
    for (const field of row) {
      const f = field.trim();
      if (looksLikeDate(f) && !out.includes(f)) out.push(f);
      if (out.length >= limit) return out;
    }
  }
  return out;
}
