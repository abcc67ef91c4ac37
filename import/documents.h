// The documents folder: listing workspaces and data files, the Inbox of
// handed-over files, and making new workspaces (empty, the example, imports).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/model.h"

namespace tabulix {

// What the documents folder holds, as the workspaces screen lists it.
struct DocumentList {
  std::vector<std::string> workspaces;  // file names ending in .tbx
  std::vector<std::string> dataFiles;   // .txt, .csv, .xls, .xlsx
};
// Lists the non-hidden workspaces and data files, ordered by path compared
// without regard to case in the device locale.
DocumentList listDocuments(const std::filesystem::path& documents);

// Moves a file out of the documents folder's own "Inbox" (renaming it
// "name-N" when the name is taken) and returns where it now is; any other
// file (also one in another folder named "Inbox"), or a failed move, stays
// where it is. A file that appears under the chosen name meanwhile is never
// replaced.
std::filesystem::path moveFromInbox(const std::filesystem::path& file,
                                    const std::filesystem::path& documents);
// Deletes the documents folder's "Inbox" folder once nothing is left in it:
// files handed over and not used yet (or still arriving) stay.
void removeInbox(const std::filesystem::path& documents);
// Renames a file unless the new name is taken; false (errno set, EEXIST
// when taken) otherwise. The rename is atomic.
bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);
// True when a workspace of this name, and its journal beside it, can be
// named in the documents folder (the file system's name length limit).
bool workspaceNameFits(const std::filesystem::path& documents, const std::string& name);

// The delimiter choices in order: "comma", "tab", "space".
const std::vector<std::string>& delimiterNames();
// The delimiter character of a choice; an index outside the choices gives tab.
char16_t delimiterForIndex(int index);
// The delimiter a typed text names: one character other than a quote, a
// line break or U+0000 (the import sheet and the command line take the
// same ones); none for anything else.
std::optional<char16_t> delimiterFromText(std::string_view text);
// The default choice for a data file: comma for .csv, tab otherwise.
int defaultDelimiterIndex(const std::filesystem::path& dataFile);
// The default decimal separator: "," when the device locale writes numbers with it.
std::string defaultDecimalSeparator();
// The workspace file for a name typed on the new-workspace screen.
std::filesystem::path workspaceTarget(const std::filesystem::path& documents, const std::string& name);

// The example workspace shipped beside the program.
std::filesystem::path exampleWorkspacePath();

// A new hidden name beside a workspace for building its replacement
// (".name.tbx.new-PID-N", a long name cut to 120 bytes): the process id
// tells, after a crash, whether the file is stale.
std::filesystem::path buildingNameFor(const std::filesystem::path& target);
// Moves a complete, saved workspace built under a hidden name over the
// target (a journal beside the target goes first); throws StoreError.
void installBuiltWorkspace(const std::filesystem::path& built, const std::filesystem::path& target);
// Deletes a file and the journal files SQLite may have made beside it.
void removeWithCompanions(const std::filesystem::path& file);
// Whether a process of this id may be running: true unless it provably is
// not (one of another user counts as running).
bool processMayBeRunning(long pid);
// Deletes the hidden files of imports and new workspaces (and their
// journals) that processes no longer running left in a folder; returns them.
std::vector<std::filesystem::path> removeStaleBuildingFiles(const std::filesystem::path& folder);

// Replaces the target with a new workspace holding the 10 x 3 empty grid;
// a store failure throws StoreError. The three operations that make a
// workspace throw std::invalid_argument, before touching any file, for a
// target named like a migration backup (name~.tbx).
void createEmptyWorkspace(const std::filesystem::path& target);
// Replaces the target with a copy of the example; returns false (logged,
// the target unchanged) when the copy fails. Both build the new file under
// a hidden name and move it over the target once complete.
[[nodiscard]] bool copyExample(const std::filesystem::path& target);

// The options of an import, as the new-workspace screen sets them.
struct ImportOptions {
  std::filesystem::path dataFile;  // "urlIn"
  std::filesystem::path target;    // "urlOut"
  bool hasHeader = true;
  int sheet = 0;
  char16_t delimiter = u',';
  std::string decimalSeparator = ".";
  std::string dateOrder = "auto";  // "auto", "dmy", "mdy" or "ymd"
};

// Why an import with these options must not start, checked before anything
// is touched: a data file that cannot be read or whose kind no reader takes,
// a target that is the data file itself (also through a link), an existing
// target that is not a workspace or is read-only, a folder that cannot be
// written. The message names the file or folder; none when the import may go.
std::optional<std::string> whyImportCannotStart(const ImportOptions& options);
// The target's part of those checks, for every command that writes a new
// workspace: an existing file that is not a workspace or is read-only, a
// folder that is missing or cannot be written.
std::optional<std::string> whyTargetCannotBeWritten(const std::filesystem::path& target);

// How an import ended, with the texts the screen shows.
struct ImportOutcome {
  long code = 0;  // -1 read to end, 3 a limit, other a reader failure
  std::filesystem::path workspace;
  std::filesystem::path dataFile;  // where the data file was read (after leaving the Inbox)
  uint32_t variables = 0;
  uint32_t observations = 0;
  std::string status;      // "Successfully created new workspace." once saved
  std::string alertTitle;  // empty when there is nothing to report
  std::string alertMessage;
  std::vector<std::string> unreadNotes;  // data of the file that the workspace lacks
  std::string dateOrder;                 // the order dates were read in ("dmy", "mdy", "ymd")
  bool saved = true;                     // false when the store could not save
  std::string storeError;                // the first save failure, when saved is false
  bool cancelled = false;                // stopped on request: no workspace was made or replaced
  bool refused = false;                  // whyImportCannotStart stopped it (nothing was touched), or a
                                         // statistical file failed on the way (no workspace is left)
  std::string error;                     // why it was refused or not saved, naming the file
  std::string readerError;               // what the reader reported when it failed on the way
};

// How an import reports its progress: the status text, and with the
// statuses of the reading, the fraction of the file read so far (0..1,
// never going back; none in the other phases and from a reader that cannot
// tell).
using ImportProgressFn = std::function<void(const std::string& status, std::optional<double> fraction)>;

// Imports a data file into a new workspace on the calling thread, with its
// own Model and store, reporting each status text as it changes; the success
// text comes only after the last save. An import that whyImportCannotStart
// stops (an unreadable file, a workbook without the chosen sheet, a target
// that may not be replaced) touches nothing. Otherwise the workspace is
// built under a hidden name (buildingNameFor) and takes the target's name
// only once saved, through `install` (installBuiltWorkspace when empty):
// a failed save, a statistical file that fails on the way, a killed
// process, a stop through `stopRequested` (asked between lines and between
// variables; the outcome is then `cancelled`), and over an existing
// workspace a reader that fails on the way or leaves data of the file out
// (unreadNotes), leave the target as it was. A data file in `documents`'
// Inbox is moved out first (an empty `documents` moves nothing). A
// workspace that cannot be created, saved or installed ends in `saved`
// false, with the reason in `storeError`.
[[nodiscard]] ImportOutcome importDataFile(
    const ImportOptions& options, const std::filesystem::path& documents, const ImportProgressFn& progress,
    const std::function<void(const std::filesystem::path& built, const std::filesystem::path& target)>&
        install = {},
    const std::function<bool()>& stopRequested = {});

// The sheet names of a workbook (none for delimited text); throws
// WorkbookError when the workbook cannot be read.
std::optional<std::vector<std::string>> workbookSheets(const std::filesystem::path& dataFile);

// Why a document could not be deleted, if it could not.
enum class DeleteResult { Deleted, RefusedOpenWorkspace, Failed };
// Deletes a listed document unless it is the workspace open in `shared`.
[[nodiscard]] DeleteResult deleteDocument(Model& shared, const std::filesystem::path& file);

}  // namespace tabulix
