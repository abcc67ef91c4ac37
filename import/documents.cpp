#include "import/documents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/coll.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <stdexcept>

#include "engine/log.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "engine/values.h"
#include "engine/workspace_data.h"
#include "import/file_importer.h"
#include "import/file_kind.h"
#include "import/import_reader.h"
#include "import/stat_file_reader.h"
#include "import/text_check.h"
#include "textio/text_encoding.h"

namespace tabulix {

namespace fs = std::filesystem;

namespace {

// Sorts paths the way the device's locale orders them, ignoring case.
void sortLocalized(std::vector<std::string>& names) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> coll(
      icu::Collator::createInstance(icu::Locale(deviceLocaleName().c_str()), status));
  if (U_FAILURE(status) || !coll) {
    std::sort(names.begin(), names.end());
    return;
  }
  coll->setStrength(icu::Collator::SECONDARY);
  std::stable_sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    UErrorCode st = U_ZERO_ERROR;
    return coll->compareUTF8(a, b, st) == UCOL_LESS;
  });
}

// A workspace is never made under a migration backup's name: the next
// upgrade of the workspace it seems to belong to would take it for its own.
// Checked before the old file is deleted.
void refuseBackupName(const fs::path& target) {
  if (isMigrationBackupName(target))
    throw std::invalid_argument(target.string() +
                                ": a workspace name may not end in \"~\": such files are upgrade backups");
}

void deleteLogged(const fs::path& p) {
  std::error_code ec;
  if (fs::exists(p, ec) && !fs::remove(p, ec) && ec) logLine("Unable to delete file: " + ec.message());
}

// Flushes a folder's entries (a rename) to disk; a failure only costs
// durability against a power cut, never atomicity.
void syncFolder(const fs::path& folder) {
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

constexpr const char* kWriteProbe = ".tabulix-write-test-";

// The process ids in a name made by buildingNameFor or by the store's own
// creation of a file ("…new-PID-N"), none when the name is not of that form.
std::vector<long> buildingPids(const std::string& name) {
  static const std::regex form(R"(^\..*\.tbx(\.new-[0-9]{1,10}-[0-9]{1,10})+(-journal|-wal|-shm)?$)");
  static const std::regex part(R"(\.new-([0-9]{1,10})-[0-9]{1,10})");
  // The probe of folderWritable() where a file without a name cannot be made.
  static const std::regex probe(R"(^\.tabulix-write-test-([0-9]{1,10})-[A-Za-z0-9]{6}$)");
  std::vector<long> pids;
  std::smatch m;
  if (std::regex_match(name, m, probe)) return {std::stol(m[1].str())};
  if (!std::regex_match(name, form)) return pids;
  for (auto it = std::sregex_iterator(name.begin(), name.end(), part); it != std::sregex_iterator(); ++it)
    pids.push_back(std::stol((*it)[1].str()));
  return pids;
}

}  // namespace

bool processMayBeRunning(long pid) {
  if (pid <= 0 || pid > 0x3fffffff) return true;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

fs::path buildingNameFor(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  // A long name is cut (at a character's start), so that the hidden file
  // and the journal of the store's own making of it fit the name limit.
  std::string stem = target.stem().string();
  if (stem.size() > 120) {
    size_t cut = 120;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
    stem.resize(cut);
  }
  // A name already taken (left by an ended process whose id this one now
  // has) is skipped: the new workspace is never built over another file.
  for (;;) {
    fs::path p = target.parent_path() /
                 ("." + stem + ".tbx.new-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::path journal = p;
    journal += "-journal";
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(p, ec)) && !fs::exists(fs::symlink_status(journal, ec))) return p;
  }
}

void removeWithCompanions(const fs::path& file) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    fs::path p = file;
    p += suffix;
    deleteLogged(p);
  }
}

void installBuiltWorkspace(const fs::path& built, const fs::path& target) {
  // A journal left beside the old file (a crash during one of its saves)
  // would be played back into the new one on its first open.
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    fs::path p = target;
    p += suffix;
    deleteLogged(p);
  }
  std::error_code ec;
  fs::rename(built, target, ec);
  if (ec)
    throw StoreError("Cannot move the new workspace into place: " + ec.message(), "file " + target.string());
  syncFolder(target.parent_path());
}

std::vector<fs::path> removeStaleBuildingFiles(const fs::path& folder) {
  std::vector<fs::path> removed;
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::vector<long> pids = buildingPids(name);
    if (pids.empty() || !it->is_regular_file(ec)) continue;
    // Only files of processes that have ended: a running import's file,
    // in this process or another, is left alone.
    if (std::any_of(pids.begin(), pids.end(),
                    [](long pid) { return pid == ::getpid() || processMayBeRunning(pid); }))
      continue;
    std::error_code rm;
    if (fs::remove(it->path(), rm)) removed.push_back(it->path());
  }
  if (!removed.empty())
    logLine("Removed " + std::to_string(removed.size()) + " files of imports that did not finish in " +
            folder.string());
  return removed;
}

DocumentList listDocuments(const fs::path& documents) {
  DocumentList list;
  std::error_code ec;
  for (auto it = fs::directory_iterator(documents, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.' || !it->is_regular_file(ec)) continue;
    const FileKind kind = fileKindOf(it->path());
    if (kind == FileKind::Workspace) {
      list.workspaces.push_back(name);
    } else if (isDataFileKind(kind)) {
      list.dataFiles.push_back(name);
    }
  }
  sortLocalized(list.workspaces);
  sortLocalized(list.dataFiles);
  return list;
}

bool renameNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the flag: a hard link fails on a taken name too.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

bool workspaceNameFits(const fs::path& documents, const std::string& name) {
  long limit = ::pathconf(documents.c_str(), _PC_NAME_MAX);
  if (limit <= 0) limit = 255;
  // The store's journal is the longest name the workspace gives rise to.
  size_t longest = name.size() + std::string_view(".tbx-journal").size();
  long pathLimit = ::pathconf(documents.c_str(), _PC_PATH_MAX);
  if (pathLimit <= 0) pathLimit = 4096;
  return longest <= static_cast<size_t>(limit) &&
         documents.string().size() + 1 + longest < static_cast<size_t>(pathLimit);
}

fs::path moveFromInbox(const fs::path& file, const fs::path& documents) {
  std::error_code ec;
  fs::path folder = file.parent_path();
  if (documents.empty() || folder.filename() != "Inbox" || !fs::is_directory(folder, ec) ||
      !fs::equivalent(folder, documents / "Inbox", ec))
    return file;
  std::string stem = file.stem().string(), ext = file.extension().string();
  for (int n = 0; n <= 99; ++n) {
    fs::path candidate =
        n == 0 ? documents / file.filename() : documents / (stem + "-" + std::to_string(n) + ext);
    if (renameNoReplace(file, candidate)) return candidate;
    if (errno != EEXIST) return file;
  }
  return file;
}

void removeInbox(const fs::path& documents) {
  std::error_code ec;
  // Removing a directory fails while anything is in it, which is the point.
  fs::remove(documents / "Inbox", ec);
}

const std::vector<std::string>& delimiterNames() {
  static const std::vector<std::string> names = {"comma", "tab", "space"};
  return names;
}

char16_t delimiterForIndex(int index) {
  switch (index) {
    case 0:
      return u',';
    case 2:
      return u' ';
    default:
      return u'\t';
  }
}

std::optional<char16_t> delimiterFromText(std::string_view text) {
  const std::u16string u = toUtf16(text);
  if (u.size() != 1 || u[0] == 0 || u[0] == u'"' || isNewlineCharacter(u[0]) || u[0] == 0xFFFD ||
      (u[0] >= 0xD800 && u[0] <= 0xDFFF))
    return std::nullopt;
  return u[0];
}

int defaultDelimiterIndex(const fs::path& dataFile) { return extensionOf(dataFile) == "csv" ? 0 : 1; }

std::string defaultDecimalSeparator() { return deviceDecimalSeparator(); }

fs::path workspaceTarget(const fs::path& documents, const std::string& name) {
  return documents / (name + ".tbx");
}

fs::path exampleWorkspacePath() {
  if (const char* env = std::getenv("TABULIX_EXAMPLE"); env && *env) return env;
#ifdef TABULIX_EXAMPLE_PATH
  return TABULIX_EXAMPLE_PATH;
#else
  return "example.tbx";
#endif
}

void createEmptyWorkspace(const fs::path& target) {
  refuseBackupName(target);
  const fs::path built = buildingNameFor(target);
  try {
    Model model;
    model.openStore(built);
    FileImporter importer(model, nullptr);
    importer.createEmptyWorkspaceWithRows(10, 3);
    model.saveContext();
    model.closeStores();
    installBuiltWorkspace(built, target);
  } catch (...) {
    removeWithCompanions(built);
    throw;
  }
}

bool copyExample(const fs::path& target) {
  refuseBackupName(target);
  const fs::path built = buildingNameFor(target);
  std::error_code ec;
  fs::copy_file(exampleWorkspacePath(), built, ec);
  if (!ec) {
    // The copy is on disk before it takes the name.
    int fd = ::open(built.c_str(), O_RDONLY);
    if (fd < 0 || ::fsync(fd) != 0) ec = std::error_code(errno, std::generic_category());
    if (fd >= 0) ::close(fd);
  }
  if (!ec) {
    try {
      installBuiltWorkspace(built, target);
      return true;
    } catch (const StoreError& e) {
      logLine(e.what());
    }
  } else {
    logLine(ec.message());
  }
  removeWithCompanions(built);
  return false;
}

namespace {

// Reports the import's progress and keeps the background store small.
class ImportProgress : public FileImporterDelegate {
 public:
  ImportProgress(Model& model, const ImportProgressFn& progress, const std::function<bool()>& stop)
      : model_(model), progress_(progress), stop_(stop) {}

  void importerDidStartDocument(FileImporter&, const std::string&) override {
    logLine("Parser started!");
    report(tr("Importing file..."));
  }
  void importerDidCompleteLineNumber(FileImporter& importer, uint32_t n, uint32_t) override {
    // Cells are stored in chunks of kCellsPerChunk rows: saving once a chunk
    // is complete releases memory as well as saving every 100 rows would,
    // without writing each chunk again forty times.
    if (n / kCellsPerChunk != savedChunks_) {
      savedChunks_ = n / kCellsPerChunk;
      saveAndRelease();
    }
    if (auto f = importer.fractionRead()) fraction_ = std::max(fraction_.value_or(0.0), *f);
    report(fillPlaceholders(tr("Importing file. %u rows read."), {std::to_string(n)}), fraction_);
  }
  void importerDidCompleteParsing(FileImporter&, const std::string&) override {
    save();
    report(tr("Determining Variable Types..."));
  }
  void importerWillAnalyzeColumnNamed(FileImporter&, const std::string& name) override {
    saveAndRelease();
    report(fillPlaceholders(tr("Processing variable %@"), {name}));
  }
  bool importerShouldStop(FileImporter&) override { return stop_ && stop_(); }
  void importerDidCompleteDocument(FileImporter&, const std::string&, const CsvError& error) override {
    code_ = error.code;
    // A stopped import's file is deleted unsaved.
    if (code_ == kImportStopped) return;
    // The last save is flushed to disk, and everything written before with it.
    model_.context().setDurable(true);
    save();
    if (code_ != kImportReadToEnd && code_ != kImportLimitReached) error_ = error.description;
  }

  long code() const { return code_; }
  const std::string& error() const { return error_; }
  bool saved() const { return !failure_; }
  // The first save failure, if any.
  const std::optional<StoreError>& failure() const { return failure_; }

 private:
  void report(const std::string& status, std::optional<double> fraction = std::nullopt) {
    if (progress_) progress_(status, fraction);
  }
  // The import goes on after a failed save (a later one may still keep
  // what was read); the first failure is what the end of the import reports.
  void save() {
    try {
      model_.saveContext();
    } catch (const StoreError& e) {
      if (!failure_) failure_ = e;
    }
  }
  void saveAndRelease() {
    save();
    model_.context().releaseCellMemory();
  }

  Model& model_;
  const ImportProgressFn& progress_;
  const std::function<bool()>& stop_;
  std::optional<double> fraction_;  // of the file read, never going back
  uint32_t savedChunks_ = 0;
  long code_ = 0;
  std::string error_;
  std::optional<StoreError> failure_;
};

}  // namespace

std::optional<std::vector<std::string>> workbookSheets(const fs::path& dataFile) {
  return makeImportReader(dataFile, u',', deviceLocaleName())->sheets();
}

namespace {

// Whether the file starts as an SQLite database does (or is empty, as a
// workspace whose creation was cut short can be).
bool looksLikeWorkspace(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  char header[16] = {};
  in.read(header, sizeof header);
  if (in.gcount() == 0) return true;
  return in.gcount() == sizeof header && std::memcmp(header, "SQLite format 3", 16) == 0;
}

// Whether a new file can be made in the folder: tried, not guessed from the
// mode bits, so that ACLs, read-only mounts and root all answer truly. The
// try makes a file without a name where the file system allows it, so that
// a process killed meanwhile leaves nothing; elsewhere the named probe holds
// this process's id, and removeStaleBuildingFiles takes it away once the
// process has ended.
bool folderWritable(const fs::path& folder) {
#ifdef O_TMPFILE
  int unnamed = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (unnamed >= 0) {
    close(unnamed);
    return true;
  }
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
#endif
  std::string probe = (folder / (std::string(kWriteProbe) + std::to_string(::getpid()) + "-XXXXXX")).string();
  int fd = mkstemp(probe.data());
  if (fd < 0) return false;
  close(fd);
  unlink(probe.c_str());
  return true;
}

}  // namespace

std::optional<std::string> whyTargetCannotBeWritten(const fs::path& given) {
  std::error_code ec;
  const fs::path target = fs::absolute(given, ec);
  const fs::path folder = target.parent_path();
  if (fs::exists(fs::symlink_status(target, ec)) || fs::exists(target, ec)) {
    if (fs::is_directory(target, ec))
      return fillPlaceholders(tr("%@ is a folder, not a workspace: it is not replaced."), {given.string()});
    if (!fs::is_regular_file(target, ec) || !looksLikeWorkspace(target))
      return fillPlaceholders(tr("%@ exists and is not a workspace: it is not replaced."), {given.string()});
    struct stat st {};
    if (stat(target.c_str(), &st) != 0 || (st.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0)
      return fillPlaceholders(tr("%@ is read-only: the workspace is not replaced."), {given.string()});
  }
  if (!fs::is_directory(folder, ec)) return fillPlaceholders(tr("%@: no such folder."), {folder.string()});
  if (!folderWritable(folder))
    return fillPlaceholders(tr("%@: cannot write in this folder."), {folder.string()});
  return std::nullopt;
}

std::optional<std::string> whyImportCannotStart(const ImportOptions& options) {
  std::error_code ec;
  const fs::path& data = options.dataFile;
  if (!fs::is_regular_file(data, ec) || access(data.c_str(), R_OK) != 0)
    return fillPlaceholders(tr("%@: cannot read the file."), {data.string()});
  if (isWorkbookKind(fileKindOf(data))) {
    // A workbook that cannot be read at all, or lacks the chosen sheet,
    // makes no workspace.
    try {
      auto sheets = workbookSheets(data);
      size_t count = sheets ? sheets->size() : 0;
      if (options.sheet < 0 || static_cast<size_t>(options.sheet) >= count)
        return fillPlaceholders(tr("The workbook %@ has no sheet number %u (it has %u)."),
                                {data.string(), std::to_string(options.sheet + 1), std::to_string(count)});
    } catch (const WorkbookError& e) {
      return std::string(e.what());
    }
  }
  if (!isWorkbookKind(fileKindOf(data)) && fileKindOf(data) != FileKind::StatFile) {
    // Read as text: an empty file, or one that is no text at all (a
    // program, an image, an archive), makes no workspace.
    if (auto failure = whyNotTextFile(data)) return failure;
  }
  if (fileKindOf(data) == FileKind::StatFile) {
    // A statistical file that cannot be read to its end (damaged, cut, in
    // an encoding without conversion) makes no workspace: it is read once
    // through, without storing, before anything is touched.
    if (auto failure = checkStatFile(data, kMaxImportRows)) return failure;
  }
  if (fs::equivalent(options.target, data, ec))
    return fillPlaceholders(tr("%@ is the data file being imported: choose another name for the workspace."),
                            {options.target.string()});
  return whyTargetCannotBeWritten(options.target);
}

ImportOutcome importDataFile(const ImportOptions& options, const fs::path& documents,
                             const ImportProgressFn& progress,
                             const std::function<void(const fs::path&, const fs::path&)>& install,
                             const std::function<bool()>& stopRequested) {
  refuseBackupName(options.target);
  ImportOutcome out;
  out.workspace = options.target;
  out.dataFile = options.dataFile;
  if (auto refusal = whyImportCannotStart(options)) {
    logLine(*refusal);
    const FileKind kind = fileKindOf(options.dataFile);
    out.code =
        isWorkbookKind(kind) || kind == FileKind::StatFile ? kWorkbookUnreadable : kImportUnreadableKind;
    out.saved = false;
    out.refused = true;
    out.error = *refusal;
    out.alertTitle = tr("Error While Importing");
    out.alertMessage = *refusal;
    return out;
  }
  // Imports killed earlier in this folder leave their hidden files; the
  // target itself is not touched until the new workspace is complete.
  const fs::path folder = options.target.parent_path();
  removeStaleBuildingFiles(folder.empty() ? fs::path(".") : folder);
  std::error_code ec;
  const bool replacing = fs::exists(options.target, ec);
  const fs::path built = buildingNameFor(options.target);
  out.dataFile = moveFromInbox(options.dataFile, documents);
  Model model;
  try {
    model.openStore(built);
    // A hidden file being filled: a killed import leaves only it, so the
    // intermediate saves skip the disk flushes.
    model.context().setDurable(false);
    ImportProgress delegate(model, progress, stopRequested);
    FileImporter importer(model, &delegate);
    importer.setDateOrder(options.dateOrder);
    importer.createWorkspaceFromText(out.dataFile, options.hasHeader, options.sheet, options.delimiter,
                                     options.decimalSeparator);
    out.code = delegate.code();
    out.readerError = delegate.error();
    out.saved = delegate.saved();
    if (delegate.failure()) out.storeError = delegate.failure()->what();
    out.unreadNotes = importer.unreadNotes();
    out.dateOrder = importer.dateOrderUsed();
    out.variables = static_cast<uint32_t>(countColumns(model));
    out.observations = static_cast<uint32_t>(countRows(model));
    model.closeStores();
  } catch (const StoreError& e) {
    // A save outside the importer's own (the workspace's settings, the
    // statistics) failed: reported as its saves' failures are.
    out.saved = false;
    if (out.storeError.empty()) out.storeError = e.what();
    model.closeStores();
  } catch (...) {
    model.closeStores();
    removeWithCompanions(built);
    throw;
  }
  if (out.code == kImportStopped) {
    // Stopped on request: what was read goes, the target stays untouched.
    removeWithCompanions(built);
    out.cancelled = true;
    out.saved = false;
    out.error = tr("Import cancelled.");
    out.variables = out.observations = 0;
    return out;
  }
  const bool readToEnd = out.code == kImportReadToEnd || out.code == kImportLimitReached;
  if (out.saved && !isWorkbookKind(fileKindOf(out.dataFile)) && !readToEnd) {
    // A statistical file that failed on the way after all (it changed, or
    // its reader hit a limit), or a text file its reader refused on the way
    // (a field beyond the longest one held), leaves no workspace behind.
    removeWithCompanions(built);
    logLine(out.readerError);
    out.refused = true;
    out.error = out.readerError;
    out.alertTitle = tr("Error While Importing");
    out.alertMessage = out.readerError;
    out.variables = out.observations = 0;
    return out;
  }
  if (!out.saved) {
    // Only a saved workspace is announced as created; the one it was to
    // replace stays as it was.
    removeWithCompanions(built);
    out.error = fillPlaceholders(tr("%@: the workspace could not be saved (%@)."),
                                 {options.target.string(), out.storeError});
    return out;
  }
  if (replacing && (!readToEnd || !out.unreadNotes.empty())) {
    // What was read of a file that failed on the way, or of one whose data
    // the new workspace lacks in part, is no reason to lose the workspace
    // of that name: it stays, and the partial one goes.
    removeWithCompanions(built);
    std::string why = out.readerError;
    for (const std::string& note : out.unreadNotes) why += (why.empty() ? "" : " ") + note;
    if (why.empty()) why = tr("the file could not be read to its end");
    out.error =
        fillPlaceholders(tr("%@ was not replaced: the import failed (%@)."), {options.target.string(), why});
    out.variables = out.observations = 0;
    return out;
  }
  try {
    if (install)
      install(built, options.target);
    else
      installBuiltWorkspace(built, options.target);
  } catch (const std::exception& e) {
    removeWithCompanions(built);
    out.saved = false;
    out.storeError = e.what();
    out.error = fillPlaceholders(tr("%@: the workspace could not be saved (%@)."),
                                 {options.target.string(), out.storeError});
    return out;
  }
  out.status = tr("Successfully created new workspace.");
  if (out.code == kImportLimitReached) {
    out.alertTitle = tr("Row Limit Reached");
    out.alertMessage =
        tr("Successfully created new workspace. Importing stopped after 100,000 rows so that we don't run "
           "out of "
           "memory.");
  } else if (out.code != kImportReadToEnd) {
    out.alertTitle = tr("Error While Importing");
    out.alertMessage = tr("Some rows and columns may be missing, or wrong delimiter may have been used.");
    // A workbook's reader says what is wrong with the file.
    if (isWorkbookKind(fileKindOf(out.dataFile)) && !out.readerError.empty())
      out.alertMessage += "\n\n" + out.readerError;
  }
  if (!out.unreadNotes.empty()) {
    if (out.alertTitle.empty()) {
      out.alertTitle = tr("Some Data Was Not Imported");
      out.alertMessage = out.status;
    }
    for (const std::string& note : out.unreadNotes) out.alertMessage += "\n" + note;
  }
  if (progress) progress(out.status, std::nullopt);
  return out;
}

DeleteResult deleteDocument(Model& shared, const fs::path& file) {
  bool workspace = fileKindOf(file) == FileKind::Workspace;
  logLine((workspace ? "Delete workspace: " : "Delete text: ") + file.string());
  std::error_code ec;
  if (auto open = shared.currentStore(); open && fs::equivalent(*open, file, ec))
    return DeleteResult::RefusedOpenWorkspace;
  logLine("Delete!");
  return fs::remove(file, ec) ? DeleteResult::Deleted : DeleteResult::Failed;
}

}  // namespace tabulix
