// The API of the Workspaces screen: the documents folder, opening,
// creating, importing, uploading and deleting files.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <optional>

#include "engine/date_detector.h"
#include "engine/log.h"
#include "engine/number_format.h"
#include "engine/translate.h"
#include "import/delimiter_sniffer.h"
#include "import/documents.h"
#include "import/file_importer.h"
#include "import/file_kind.h"
#include "import/workbook_error.h"
#include "server/request_locale.h"
#include "server/server_impl.h"

namespace tabulix::server {

namespace fs = std::filesystem;

namespace {

const char* kInbox = "Inbox";

// The name of a file relative to the documents folder, as pages name it.
std::string relativeName(const fs::path& file, const fs::path& documents) {
  return file.lexically_relative(documents).generic_string();
}

// Collects the sheets a workbook inspection finds.
class SheetCollector : public FileImporterDelegate {
 public:
  void importerDidInspectURL(FileImporter&, const fs::path&,
                             const std::optional<std::vector<std::string>>& sheets) override {
    sheets_ = sheets;
  }
  std::optional<std::vector<std::string>> sheets_;
};

// A name a client chose for an uploaded or new file: a plain file name.
std::string plainFileName(const std::string& name) {
  std::string base = fs::path(name).filename().string();
  if (base.empty() || base == "." || base == ".." || base.front() == '.' ||
      base.find('\0') != std::string::npos)
    throw ApiError(400, {{"error", "invalid file name"}});
  return base;
}

// Streams a request body into a new file in the Inbox, refusing to go past
// `limit` bytes whatever the request declared, and returns the file. Each
// upload writes its own hidden file and only a complete one takes a name,
// atomically and never over another file.
fs::path receiveIntoInbox(const fs::path& documents, const std::function<std::string()>& nameOf, size_t limit,
                          const std::function<bool(const std::function<bool(const char*, size_t)>&)>& read) {
  fs::path inbox = documents / kInbox;
  std::error_code ec;
  fs::create_directories(inbox, ec);
  // The process id tells a later start that a partial file is stale.
  fs::path partial =
      inbox / (".upload-" + std::to_string(::getpid()) + "-" + randomToken().substr(0, 24) + ".part");
  std::ofstream out(partial, std::ios::binary | std::ios::trunc);
  if (!out) throw ApiError(500, {{"error", "cannot write into the documents folder"}});
  size_t total = 0;
  bool tooLarge = false;
  bool ok = false;
  try {
    ok = read([&](const char* data, size_t len) {
      total += len;
      if (total > limit) {
        tooLarge = true;
        return false;
      }
      out.write(data, static_cast<std::streamsize>(len));
      return static_cast<bool>(out);
    });
  } catch (...) {
    out.close();
    fs::remove(partial, ec);
    throw;
  }
  out.close();
  if (!ok || tooLarge || !out) {
    fs::remove(partial, ec);
    if (tooLarge) throw ApiError(413, {{"error", "request body too large"}});
    throw ApiError(400, {{"error", "the upload did not complete"}});
  }
  // A file of the same name already waiting keeps its place; the new one
  // takes the first free "name-N".
  std::string name;
  try {
    name = nameOf();
  } catch (...) {
    fs::remove(partial, ec);
    throw;
  }
  fs::path stem = fs::path(name).stem(), ext = fs::path(name).extension();
  for (int n = 0; n < 1000; ++n) {
    fs::path target =
        n == 0 ? inbox / name : inbox / (stem.string() + "-" + std::to_string(n) + ext.string());
    if (renameNoReplace(partial, target)) {
      logLine("Open URL:\t" + target.string() + "\nWith options:\t{}\n");
      return target;
    }
    if (errno != EEXIST) break;
  }
  fs::remove(partial, ec);
  throw ApiError(500, {{"error", "cannot write into the documents folder"}});
}

// How long replacing a workspace waits for the work still running on it.
constexpr std::chrono::seconds kReplaceWait{120};

// The process id in a name made with processTag(), when the name is such.
std::optional<long> taggedPid(const std::string& name, const std::string& prefix) {
  if (name.rfind(prefix, 0) != 0) return std::nullopt;
  size_t end = name.find('-', prefix.size());
  if (end == prefix.size() || end == std::string::npos || end - prefix.size() > 10) return std::nullopt;
  std::string digits = name.substr(prefix.size(), end - prefix.size());
  if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return std::stol(digits);
}

}  // namespace

nlohmann::json ServerImpl::installWorkspace(const fs::path& made, const fs::path& target, bool blank) {
  // Jobs on the workspace hold a connection to its file: those that can
  // stop early are asked to (their results, of an older generation, would be
  // dropped anyway); the others run to their end. Imports hold none.
  bool isOpen = shared.run([&](Model& m) {
    refuseWhileEditing();
    std::error_code ec;
    auto open = m.currentStore();
    return open && fs::exists(target, ec) && fs::equivalent(*open, target, ec);
  });
  if (isOpen) jobs.cancelAllExcept("import");
  const auto until = std::chrono::steady_clock::now() + kReplaceWait;
  for (;;) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !waitForBackgroundModels(target, left)) {
      logLine("The workspace was not replaced: work on it did not end: " + target.string());
      throw ApiError(409, {{"error", "the workspace is busy with other work; try again"},
                           {"message", tr("The workspace is busy; it was not replaced. Try again.")}});
    }
    // Background models are made under the shared lock only, so none can
    // appear between this check and the swap; one made since the wait ended
    // means waiting again. The old workspace stays open and readable until
    // the swap.
    std::optional<nlohmann::json> status = shared.run([&](Model& m) -> std::optional<nlohmann::json> {
      if (backgroundModelsOn(target) != 0) return std::nullopt;
      refuseWhileEditing();
      std::error_code ec;
      auto open = m.currentStore();
      bool replacingOpen = open && fs::exists(target, ec) && fs::equivalent(*open, target, ec);
      if (replacingOpen) m.closeStores();
      try {
        installBuiltWorkspace(made, target);
      } catch (const StoreError& e) {
        logLine(e.what());
        if (replacingOpen) m.openStore(*open);
        throw ApiError(500, {{"error", "cannot write into the documents folder"}});
      }
      m.openStore(target);
      removeInbox(documents);
      shared.bumpGeneration();
      shared.initialEdit = blank;
      return statusJson(m);
    });
    if (status) return *status;
  }
}

void ServerImpl::removeLeftovers() {
  removeStaleBuildingFiles(documents);
  std::error_code ec;
  auto alive = [](long pid) { return pid == ::getpid() || processMayBeRunning(pid); };
  for (auto it = fs::directory_iterator(documents / kInbox, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    auto pid = taggedPid(name, ".upload-");
    if (!pid || name.size() < 5 || name.compare(name.size() - 5, 5, ".part") != 0 || alive(*pid)) continue;
    std::error_code rm;
    if (it->is_regular_file(rm) && fs::remove(it->path(), rm)) logLine("Removed a partial upload: " + name);
  }
  removeInbox(documents);
  // Temporary export folders: only ours (this user's, named by this
  // program with the id of a process that has ended).
  fs::path tmp = fs::temp_directory_path(ec);
  for (auto it = fs::directory_iterator(tmp, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::optional<long> pid;
    for (const char* prefix : {"tabulix-dataset-", "tabulix-export-"})
      if (!pid) pid = taggedPid(name, prefix);
    struct stat st {};
    if (!pid || alive(*pid) || ::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::getuid())
      continue;
    std::error_code rm;
    if (fs::remove_all(it->path(), rm) != static_cast<std::uintmax_t>(-1) && !rm)
      logLine("Removed a temporary export folder: " + name);
  }
}

void ServerImpl::routeDocuments() {
  get("/api/documents", [this](const httplib::Request&) {
    DocumentList list = listDocuments(documents);
    return shared.run([&](Model& m) {
      auto open = m.currentStore();
      std::error_code ec;
      nlohmann::json workspaces = nlohmann::json::array(), dataFiles = nlohmann::json::array();
      for (const auto& w : list.workspaces) {
        fs::path p = documents / w;
        workspaces.push_back(
            {{"name", w}, {"open", open && fs::equivalent(*open, p, ec)}, {"importing", isClaimed(p)}});
      }
      for (const auto& d : list.dataFiles) dataFiles.push_back({{"name", d}, {"extension", extensionOf(d)}});
      return nlohmann::json{{"workspaces", workspaces},
                            {"dataFiles", dataFiles},
                            {"status", statusJson(m)},
                            {"decimalSeparator", defaultDecimalSeparator()}};
    });
  });

  // Opening a workspace: out of the Inbox, into the shared Model, and the
  // Inbox removed once empty; pages then reset their other tabs and show Browse.
  post("/api/workspaces/open", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    fs::path file = documentPath(bodyText(body, "name"));
    std::error_code ec;
    // An import claims its file before it creates it: being imported comes first.
    if (isClaimed(file)) throw ApiError(409, {{"error", "the workspace is being imported"}});
    if (fileKindOf(file) != FileKind::Workspace || !fs::is_regular_file(file, ec))
      throw ApiError(404, {{"error", "no such workspace"}});
    return shared.run([&](Model& m) {
      refuseWhileEditing();
      fs::path moved = moveFromInbox(file, documents);
      m.openStore(moved);
      removeInbox(documents);
      shared.bumpGeneration();
      shared.initialEdit = false;
      return nlohmann::json{{"status", statusJson(m)}};
    });
  });

  // What the new-workspace screen needs to know of a data file: its default
  // name and delimiter, and a workbook's sheets.
  get("/api/inspect", [this](const httplib::Request& req) {
    fs::path file = documentPath(req.get_param_value("file"));
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) throw ApiError(404, {{"error", "no such file"}});
    // The inspection reads the file but no store: a Model of its own, off the shared one.
    Model scratch;
    SheetCollector sheets;
    FileImporter importer(scratch, &sheets);
    importer.inspectURL(file);
    const bool workbook = isWorkbookKind(fileKindOf(file));
    // SPSS, Stata and SAS files bring their own names, labels and formats:
    // the sheet offers none of the text options.
    const bool statFile = fileKindOf(file) == FileKind::StatFile;
    // A workbook that cannot be read is said at once, with what is wrong.
    if (!importer.inspectionError().empty())
      throw alertError(422, "unreadable",
                       {tr("Error While Importing"), importer.inspectionError(), {tr("OK")}});
    nlohmann::json out = {{"file", relativeName(file, documents)},
                          {"name", file.stem().string()},
                          {"workbook", workbook},
                          {"sheets", sheets.sheets_ ? nlohmann::json(*sheets.sheets_) : nlohmann::json()},
                          {"delimiter", defaultDelimiterIndex(file)},
                          {"delimiters", delimiterNames()},
                          {"decimalSeparator", defaultDecimalSeparator()},
                          {"statFile", statFile}};
    if (!workbook && !statFile) {
      // The first lines, and the delimiter and decimal separator that fit
      // them, pre-selected on the sheet (the user may still change them).
      DelimitedSniff sniff =
          sniffDelimitedFile(file, delimiterForIndex(defaultDelimiterIndex(file)), defaultDecimalSeparator());
      out["preview"] = sniff.lines;
      out["encoding"] = sniff.encoding;
      out["delimiterChar"] = toUtf8(std::u16string_view(&sniff.delimiter, 1));
      out["decimalSeparator"] = sniff.decimalSeparator;
      // The order "auto" falls back on until a date settles it: the page's
      // locale's, for the sheet's preview of how the first dates read.
      out["localeDates"] = DateDetector::orderName(scratch.detectDate().numericOrder());
    }
    return out;
  });

  // The new-workspace screen's "Create": an empty workspace, the example, or
  // an import that runs as a job. Each is made under a hidden name and
  // replaces the target only when complete; the open workspace stays open
  // and readable until then.
  post("/api/workspaces/create", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    std::string mode = bodyText(body, "mode");
    std::string name = bodyText(body, "name");
    bool replace = bodyFlag(body, "replace", false);
    if (mode != "blank" && mode != "example" && mode != "import")
      throw ApiError(400, {{"error", "unknown mode"}});
    if (name.empty() || name.find('/') != std::string::npos || name.front() == '.' || name.back() == '~' ||
        name.find('\0') != std::string::npos)
      throw ApiError(400, {{"error", "invalid workspace name"}});
    if (!workspaceNameFits(documents, name))
      throw ApiError(400, {{"error", "the workspace name is too long"}});
    fs::path target = workspaceTarget(documents, name);
    if (!confinedPath(documents, relativeName(target, documents)))
      throw ApiError(400, {{"error", "invalid workspace name"}});
    std::error_code ec;
    if (isClaimed(target)) throw ApiError(409, {{"error", "the workspace is being imported"}});
    // Said before any work is done; checked again when the new workspace opens.
    shared.run([&](Model&) { refuseWhileEditing(); });
    if (fs::exists(target, ec) && !replace)
      throw alertError(
          409, "exists",
          {tr("Confirm Replace"), tr("Really replace existing workspace?"), {tr("Cancel"), tr("Replace")}});

    if (mode == "blank" || mode == "example") {
      if (!claimFile(target)) throw ApiError(409, {{"error", "the workspace is being imported"}});
      struct Release {
        ServerImpl* self;
        fs::path file;
        ~Release() { self->releaseFile(file); }
      } release{this, target};
      fs::path scratch = buildingNameFor(target);
      bool ok = true;
      try {
        if (mode == "blank")
          createEmptyWorkspace(scratch);
        else
          ok = copyExample(scratch);
      } catch (...) {
        removeWithCompanions(scratch);
        throw;
      }
      if (!ok) {
        removeWithCompanions(scratch);
        throw ApiError(
            500, {{"error", mode == "blank" ? "cannot create the workspace" : "cannot copy the example"}});
      }
      try {
        return nlohmann::json{{"status", installWorkspace(scratch, target, mode == "blank")}};
      } catch (...) {
        removeWithCompanions(scratch);
        throw;
      }
    }

    ImportOptions options;
    options.dataFile = documentPath(bodyText(body, "file"));
    if (!fs::is_regular_file(options.dataFile, ec)) throw ApiError(404, {{"error", "no such file"}});
    options.target = target;
    options.hasHeader = bodyFlag(body, "hasHeader", true);
    int64_t sheet = bodyInt(body, "sheet", 0);
    if (sheet < 0 || sheet > 100000) throw ApiError(400, {{"error", "no such sheet"}});
    options.sheet = static_cast<int>(sheet);
    int64_t delimiter = bodyInt(body, "delimiter", 0);
    options.delimiter = delimiterForIndex(delimiter < 0 || delimiter > 2 ? 1 : static_cast<int>(delimiter));
    // Any other single character: semicolon, pipe, ...
    if (std::string c = bodyText(body, "delimiterChar", std::string()); !c.empty()) {
      std::optional<char16_t> d = delimiterFromText(c);
      if (!d)
        throw ApiError(400,
                       {{"error", "the delimiter must be one character other than a quote or line break"}});
      options.delimiter = *d;
    }
    std::string decimal = bodyText(body, "decimalSeparator", defaultDecimalSeparator());
    options.decimalSeparator = decimal == "," ? "," : ".";
    // The order of day, month and year in text dates; "auto" lets the file's
    // first unambiguous date settle it.
    options.dateOrder = bodyText(body, "dates", "auto");
    if (options.dateOrder != "auto" && options.dateOrder != "dmy" && options.dateOrder != "mdy" &&
        options.dateOrder != "ymd")
      throw ApiError(400, {{"error", "the field \"dates\" must be \"auto\", \"dmy\", \"mdy\" or \"ymd\""}});
    // A workbook that cannot be read or lacks the chosen sheet, or a
    // workspace that must not be replaced, is refused before any job starts.
    if (auto refusal = whyImportCannotStart(options))
      throw alertError(422, "refused", {tr("Error While Importing"), *refusal, {tr("OK")}});
    if (!claimFile(target)) throw ApiError(409, {{"error", "the workspace is being imported"}});
    fs::path docs = documents;
    auto locale = requestLocale(req);
    auto job = jobs.start("import", [this, options, docs, target, locale](Job& job) {
      LocaleScope localeScope(locale);
      struct Release {
        ServerImpl* self;
        fs::path file;
        ~Release() { self->releaseFile(file); }
      } release{this, target};
      AlertScope scope;
      auto observer = this->options.importObserver;
      ImportOutcome outcome;
      // The end of the import: the new workspace takes its name and the
      // shared Model opens it.
      nlohmann::json statusBlock;
      bool installRefused = false;
      auto install = [&](const fs::path& built, const fs::path& into) {
        try {
          statusBlock = installWorkspace(built, into, false);
        } catch (const ApiError&) {
          installRefused = true;
          throw;
        }
      };
      try {
        outcome = importDataFile(
            options, docs,
            [&job, &observer](const std::string& status, std::optional<double> fraction) {
              if (observer) observer(status);
              nlohmann::json event = {{"status", status}};
              if (fraction) event["fraction"] = std::round(*fraction * 1000.0) / 1000.0;
              job.post(event);
            },
            install, [&job] { return job.cancelled(); });
      } catch (const StoreError& e) {
        // The new workspace could not be made: the job ends with the
        // store's message and the store failure alert.
        reportStoreError(e);
        nlohmann::json failed = {{"error", e.what()}};
        for (const auto& a : scope.take()) failed["alerts"].push_back(toJson(a));
        job.finish(failed);
        return;
      }
      if (outcome.cancelled) {
        // Stopped on request: nothing was made or replaced, nothing to alert.
        job.finish({{"cancelled", true}, {"error", outcome.error}});
        return;
      }
      if (!outcome.saved && !outcome.refused && !installRefused)
        reportStoreError(StoreError(outcome.storeError, "file " + outcome.workspace.string()));
      if (!outcome.error.empty()) {
        // Refused or not saved: nothing new is opened.
        nlohmann::json failed = {{"code", outcome.code}, {"error", outcome.error}};
        for (const auto& a : scope.take()) failed["alerts"].push_back(toJson(a));
        job.finish(failed);
        return;
      }
      nlohmann::json result = {{"code", outcome.code},
                               {"status", outcome.status},
                               {"variables", outcome.variables},
                               {"observations", outcome.observations},
                               {"workspace", target.filename().string()}};
      if (!outcome.dateOrder.empty()) result["dates"] = outcome.dateOrder;
      if (!outcome.alertTitle.empty())
        result["alert"] = toJson(Alert{outcome.alertTitle, outcome.alertMessage, {tr("OK")}});
      result["statusBlock"] = statusBlock;
      for (const auto& a : scope.take()) result["alerts"].push_back(toJson(a));
      job.finish(result);
    });
    if (!job) {
      releaseFile(target);
      throw ApiError(503, {{"error", "the server is stopping"}});
    }
    return nlohmann::json{{"job", job->id()}, {"workspace", target.filename().string()}};
  });

  // Deleting a listed file; the open workspace is refused.
  del("/api/documents", [this](const httplib::Request& req) {
    fs::path file = documentPath(req.get_param_value("name"));
    std::error_code ec;
    const FileKind kind = fileKindOf(file);
    if (file.parent_path() == documents && isClaimed(file))
      throw ApiError(409, {{"error", "the workspace is being imported"}});
    if (file.parent_path() != documents || (kind != FileKind::Workspace && !isDataFileKind(kind)) ||
        !fs::is_regular_file(file, ec))
      throw ApiError(404, {{"error", "no such document"}});
    return shared.run([&](Model& m) {
      DeleteResult r = deleteDocument(m, file);
      if (r == DeleteResult::RefusedOpenWorkspace)
        throw alertError(409, "open",
                         {tr("Confirm Delete"),
                          tr("Cannot delete open workspace:") + " " + file.filename().string(),
                          {tr("Cancel")}});
      return nlohmann::json{{"deleted", r == DeleteResult::Deleted}, {"status", statusJson(m)}};
    });
  });

  // A file handed over from the page ("Open In…"): it lands in the Inbox.
  noteRoute("POST", "/api/upload");
  http.Post("/api/upload", [this](const httplib::Request& req, httplib::Response& res,
                                  const httplib::ContentReader& reader) {
    AlertScope scope;
    try {
      std::string name = plainFileName(req.get_param_value("name"));
      fs::path file = receiveIntoInbox(
          documents, [&] { return name; }, options.maxBodyBytes,
          [&](const auto& sink) { return reader([&](const char* d, size_t n) { return sink(d, n); }); });
      nlohmann::json body = {{"file", relativeName(file, documents)},
                             {"kind", fileKindOf(file) == FileKind::Workspace ? "workspace" : "text"}};
      res.set_header("Cache-Control", "no-store");
      res.set_content(body.dump(), "application/json");
    } catch (...) {
      answerError(req, res, std::current_exception(), scope);
    }
  });

  // The Web Share Target of the installed app: a shared file arrives as a
  // form upload; the page then opens or imports it like a handed-over file.
  http.Post("/share-target", [this](const httplib::Request& req, httplib::Response& res,
                                    const httplib::ContentReader& reader) {
    try {
      if (!req.is_multipart_form_data()) throw ApiError(400, {{"error", "expected a form upload"}});
      std::string fileName;
      bool inFile = false;
      size_t total = 0;
      // Only the first file part is kept, streamed into the Inbox like an
      // upload; its name is known once its part has begun.
      fs::path file = receiveIntoInbox(
          documents, [&] { return plainFileName(fileName); }, options.maxBodyBytes,
          [&](const auto& sink) {
            bool ok = reader(
                [&](const httplib::MultipartFormData& part) {
                  inFile = fileName.empty() && !part.filename.empty();
                  if (inFile) fileName = part.filename;
                  return true;
                },
                [&](const char* d, size_t n) {
                  total += n;
                  if (total > options.maxBodyBytes) return false;
                  return !inFile || sink(d, n);
                });
            if (ok && fileName.empty()) throw ApiError(400, {{"error", "no file was shared"}});
            return ok;
          });
      res.set_redirect("/?open=" + httplib::detail::encode_query_param(relativeName(file, documents)), 303);
    } catch (...) {
      AlertScope scope;
      answerError(req, res, std::current_exception(), scope);
    }
  });
}

}  // namespace tabulix::server
