// Every text the interface shows is looked up here by its English wording,
// which is also the fallback. Texts computed by the server (status lines,
// variable summaries, alerts of the engine) arrive already translated.

type Table = Record<string, string>;

// The English table: each entry maps a text to itself. A translation table
// for another language maps the same keys to its own wording.
const english: Table = Object.fromEntries(
  [
    // Tabs
    "Workspaces",
    "Browse",
    "Variables",
    "Analysis",
    "About",
    // Workspaces screen
    "Enter Data Manually",
    "Open Example",
    "Open Existing Workspace",
    "Import Data Files",
    "How to import data",
    "1) Tap Upload File and choose a file on this device; on a computer you can also drop the file on this page.\n2) With Tabulix installed from the browser's menu, share a file from another app and choose Tabulix.\n*Tabulix supports csv, txt, and Excel files.",
    "Get started with these sample data and analyses",
    "Confirm Delete",
    "Cannot delete open workspace:",
    "Really delete file\n%@? \nCannot be undone.",
    "Delete",
    "Cancel",
    "OK",
    // New-workspace screen
    "Create New Workspace",
    "Name your new workspace:",
    "Create",
    "Advanced options",
    "Header:",
    "Import options:",
    "Decimal point:",
    "Set decimal point for this dataset. Tabulix defaults to the number format of your browser's language.",
    "Variable names, labels and formats come from the file.",
    "Create a new empty workspace.",
    "Create a new workspace based on example.",
    "Create a workspace with data from:",
    "Untitled",
    "example",
    "comma",
    "tab",
    "space",
    "semicolon",
    "Other character:",
    "Preview:",
    "Delimiter: %@",
    "Sheet: %@",
    "Finding sheets...",
    "Choose Sheet",
    "Choose Delimiter",
    "Dates:",
    "Choose Date Order",
    "Automatic",
    "Day first",
    "Month first",
    "Year first",
    "%@ reads as %@",
    "%@ is no date in this order and stays text.",
    "Confirm Replace",
    "Really replace existing workspace?",
    "Replace",
    // Import progress and its end
    "Importing file...",
    "Importing file. %u rows read.",
    "Determining Variable Types...",
    "Processing variable %@",
    "Successfully created new workspace.",
    "Row Limit Reached",
    "Successfully created new workspace. Importing stopped after 100,000 rows so that we don't run out of memory.",
    "Error While Importing",
    "Import cancelled.",
    "Import progress",
    "Some rows and columns may be missing, or wrong delimiter may have been used.",
    // Browse and Variables
    "Tap to edit or enter data",
    "Tap to create a new variable",
    "Calculating...",
    // Analysis menu
    "Tap to start a new analysis",
    "Two way table of frequencies",
    "contingency table, chi squared",
    "Bivariate Analysis",
    "correlation and simple linear regression",
    "Hypothesis test of means",
    "1, 2, or paired samples",
    "Hypothesis test of proportions",
    "Linear Regression",
    "multi-variate",
    "Logistic Regression",
    "One-way ANOVA",
    "table of summary statistics and box plot",
    // Texts of this interface
    "Upload File",
    "Drop a file here to import it",
    "Upload progress",
    "Edit",
    "Done",
    "Copy",
    "Copied",
    "Help",
    "Search",
    "Search variables",
    "Add Variable",
    "Delete variable %@",
    "Delete %@",
    "Open",
    "Open workspace %@",
    "No workspace is open.",
    "Open or create a workspace on the Workspaces tab.",
    "No variables match the search.",
    "This workspace has no variables.",
    "No workspaces yet.",
    "No data files yet. Upload a csv, txt or Excel file.",
    "No analyses yet.",
    "New Analysis",
    "Available once analyses are built.",
    "Version %@",
    "Licences",
    "Show licence",
    "Hide licence",
    "Loading...",
    "Request failed",
    "The server could not be reached.",
    "Showing the first %u cells.",
    "Row",
    "Filter",
    "Close",
    "Import",
    "Point-and-click data analysis",
    "%u of %u variables",
    "%u of %u variable",
    // Glossary
    "Observations",
    "Unique Values",
    "Min",
    "Max",
    "Median",
    "Mean",
    "Glossary of Terms",
    "Search help terms",
    "Back",
    "Statistical terms explained",
    // Browse filters and editing
    "Apply",
    "Clear",
    "Operator",
    "Suggestions",
    "Choose levels...",
    "Filter %@",
    "Variable name",
    "Add Row",
    "Processing Changed Variables",
    // Variable detail and result screens
    "Open detail of %@",
    "Set Filters",
    "Add",
    "No filters",
    "Filters: %@",
    "IN",
    "Contains",
    "Unknown op",
    "Share",
    "Print",
    "Variable: %@",
    "Type: Categorical",
    "Type: Binary",
    "Type: Numeric",
    "Type: Date / Time",
    "Type: Unknown",
    "Minimum:",
    "Maximum:",
    // Data set export
    "Export dataset as text file.",
    "Exporting dataset...",
    "Share full data",
    "Share filtered data",
    "Download full data",
    "Download filtered data",
    "Export",
    // Derived-variable editor
    "New Variable",
    "New variable from %@",
    "Name of the new variable:",
    "Choose variable x...",
    "Choose variable y...",
    "Constant",
    "Transformation",
    "Creating variable...",
    "Variable not created",
    "This workspace has no Numeric variables.",
    "Please provide a name for the new variable",
    "Another variable already exists with the name %@",
    "Please select a variable to transform",
    "Make constant non-zero for division",
    "Please enter a numerical constant",
    // Recoding into categories
    "Recode into categories...",
    "Recode into Categories",
    "Variable to recode:",
    "Choose variable...",
    "Breaks",
    "Equal-width bins",
    "Quantile groups",
    "Map values",
    "Breaks, separated by commas (e.g. 18, 30, 50):",
    "Number of groups:",
    "Group names, separated by commas (optional):",
    "Old value",
    "New label",
    "New levels",
    "Count",
    "Missing",
    "Please choose a variable to recode",
    // Level order in the variable detail
    "Order of levels",
    "Type of %@",
    "Variable settings",
    "Type:",
    "Missing-value codes:",
    "for example 999, -1, n/a",
    "Treated as missing: %@",
    "No missing-value codes: only empty cells are missing.",
    "Clear all filters",
    "Delete Analysis",
    "Really delete %@?",
    "Pairwise comparisons:",
    "Adjusted residuals:",
    "Tukey",
    "Games–Howell",
    "Missing codes: %@",
    "is missing",
    "is not missing",
    "Delete rows",
    "Rows to delete (for example 3, 7-9):",
    "Drag levels or use the arrows to set their order in tables and charts.",
    "Move %@ up",
    "Move %@ down",
    "Default order",
    "Only the first %u levels are listed.",
    // Analysis tab
    "Search analyses",
    "No analyses match.",
    "This analysis is not available yet.",
    "Choose Numeric Variable",
    "Choose Categorical Variable",
    "Choose Variable",
    "Please choose two variables to analyze.",
    "View",
    "Box Plot",
    "Density Plot",
    "Calculate percentages by ",
    "Cell",
    "Row",
    "Column",
    "None",
    "Include missing values:",
    "Add All",
    "No variables of the types this position takes.",
    // Analysis settings of the correlation, regressions and tests
    "x:",
    "y:",
    "Dependent variable:",
    "Independent variables:",
    "Choose Variable...",
    "Choose Variables...",
    "Remove %@",
    "proportion of:",
    "Test of",
    "Means",
    "Proportions",
    "Samples",
    "One sample",
    "Two samples",
    "Paired samples",
    "Related samples",
    "Related variables:",
    "Group by",
    "compare sample",
    "compare sample 1",
    "to sample 2",
    "to value",
    "Change",
    "Sample 2 filter:",
    "Alternative hypothesis is",
    "One tail less",
    "Two tails",
    "One tail greater",
    "Test:",
    "Determined by data",
    "Exact binomial test",
    "Exact Binomial test",
    "Chi-squared test",
    "McNemar's test",
    // Shell: tips without a touch screen, the keyboard, the offline page
    "Click to edit or enter data",
    "Click to start a new analysis",
    "Click to create a new variable",
    "Name of variable %u",
    "%@, row %u",
    "The Tabulix server is not reachable",
    "Tabulix keeps your workspaces on the computer that runs its server. Start the server there with:",
    "then open the address it prints (or reload this page if the server runs at the same address).",
    "Reload",
    "Saved %@ and %@ to your downloads folder.",
    "%@ is not a number",
    "%@ is not a date",
    "Value of %@",
    "Table",
    // Undo and redo (Browse, Variables)
    "Undo %@",
    "Redo %@",
    "Nothing to undo",
    "Nothing to redo",
  ].map((s) => [s, s]),
);

let table: Table = english;

// Uses another language's table; texts it lacks stay in English.
export function setTable(t: Table): void {
  table = { ...english, ...t };
}

// The English texts known to the interface (tests check every use against it).
export function knownTexts(): string[] {
  return Object.keys(english);
}

// Numbers the page writes itself (counts) follow the page's language, which
// the server's status sets.
function numberText(n: number): string {
  const lang = typeof document === "undefined" ? undefined : document.documentElement.lang || undefined;
  try {
    return new Intl.NumberFormat(lang).format(n);
  } catch {
    return String(n);
  }
}

// True when the page's language words the count n in the singular ("1 variable").
export function isSingular(n: number): boolean {
  const lang = typeof document === "undefined" ? undefined : document.documentElement.lang || undefined;
  try {
    return new Intl.PluralRules(lang).select(n) === "one";
  } catch {
    return n === 1;
  }
}

// Fills "%@", "%u" and "%d" placeholders in order; numbers in the page's language.
export function format(text: string, ...args: (string | number)[]): string {
  let i = 0;
  return text.replace(/%[@ud]/g, (m) => {
    if (i >= args.length) return m;
    const a = args[i++];
    return typeof a === "number" ? numberText(a) : a;
  });
}

// Whether the user points with a finger: tips say "Tap" then, "Click" otherwise.
function touchScreen(): boolean {
  if (typeof window === "undefined") return true;
  return (navigator.maxTouchPoints ?? 0) > 0 || window.matchMedia?.("(pointer: coarse)").matches === true;
}

// The wording of a "Tap to ..." text for this device: "Click to ..." where
// nothing is tapped and the table has that wording.
export function forPointer(englishText: string, touch = touchScreen()): string {
  if (touch || !englishText.startsWith("Tap ")) return englishText;
  const click = "Click " + englishText.slice(4);
  return click in table ? click : englishText;
}

// The text shown for an English text, filled with the arguments.
export function t(englishText: string, ...args: (string | number)[]): string {
  englishText = forPointer(englishText);
  const found = table[englishText];
  if (found === undefined && import.meta.env?.DEV) console.warn("untranslated text:", englishText);
  return format(found ?? englishText, ...args);
}
