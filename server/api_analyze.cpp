// Computing any analysis for a page: the request names the kind, its
// variables, filters and settings; a job computes it on a worker Model and
// its result carries the result's JSON, the screen layout, the charts drawn
// as SVG and the exported files' base name. The PDF report and the CSV file
// of a computed result are then fetched by the result's id (as base64 inside
// JSON, so that every answer of the API goes through the same wrapper), and
// the data set export runs as a job of its own.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>

#include "analyses/analysis_kind.h"
#include "charts/renderer.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"
#include "reports/dataset_export.h"
#include "reports/result_export.h"
#include "server/analysis_requests.h"
#include "server/server_impl.h"

namespace tabulix::server {

namespace {

// Results kept for their PDF and CSV, newest last.
constexpr size_t kKeptResults = 24;

// And at most about this many bytes of them (the print layout is about the
// size of the screen's, measured as JSON).
constexpr size_t kKeptResultBytes = 32u << 20;

struct KeptResult {
  std::string id;
  std::shared_ptr<AnalysisOutput> output;
  size_t bytes = 0;
  std::filesystem::path workspace;  // named in the report's page header
  std::chrono::steady_clock::time_point lastUse;
};

struct KeptFile {
  std::string id, name;
  std::filesystem::path path;
};

std::mutex g_keptMutex;
std::deque<KeptResult> g_kept;
std::deque<KeptFile> g_files;

size_t g_keptBytes = 0;
std::atomic<int64_t> g_keptForSeconds{300};

// Lets go of the results unused for longer than they are kept for; returns
// about the bytes freed.
size_t dropIdleResults() {
  std::deque<KeptResult> dropped;  // freed outside the lock
  size_t freed = 0;
  {
    std::lock_guard lock(g_keptMutex);
    const auto limit = std::chrono::steady_clock::now() - std::chrono::seconds(g_keptForSeconds.load());
    for (auto it = g_kept.begin(); it != g_kept.end();) {
      if (it->lastUse < limit) {
        freed += it->bytes;
        g_keptBytes -= it->bytes;
        dropped.push_back(std::move(*it));
        it = g_kept.erase(it);
      } else {
        ++it;
      }
    }
  }
  return freed;
}

// Keeps a computed result for its files; the oldest go first beyond the
// count or the bytes.
void keepResult(const std::string& id, std::shared_ptr<AnalysisOutput> output, size_t bytes,
                std::filesystem::path workspace) {
  std::deque<KeptResult> dropped;  // freed outside the lock
  std::lock_guard lock(g_keptMutex);
  g_kept.push_back({id, std::move(output), bytes, std::move(workspace), std::chrono::steady_clock::now()});
  g_keptBytes += bytes;
  while (g_kept.size() > kKeptResults || (g_kept.size() > 1 && g_keptBytes > kKeptResultBytes)) {
    g_keptBytes -= g_kept.front().bytes;
    dropped.push_back(std::move(g_kept.front()));
    g_kept.pop_front();
  }
}

std::string newId() {
  static std::mutex m;
  static std::mt19937_64 rng{std::random_device{}()};
  std::lock_guard lock(m);
  char buf[33];
  std::snprintf(buf, sizeof buf, "%016llx%016llx", static_cast<unsigned long long>(rng()),
                static_cast<unsigned long long>(rng()));
  return buf;
}

std::string base64(const std::string& bytes) {
  static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += digits[(v >> s) & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = uint8_t(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= uint8_t(bytes[i + 1]) << 8;
    out += digits[(v >> 18) & 63];
    out += digits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? digits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

[[noreturn]] void bad(const std::string& message) {
  throw ApiError(400, {{"error", "bad request"}, {"message", message}});
}

// The width in drawing units the page wants its charts drawn at: a phone
// shows a chart narrower than its usual 360 units, and drawing it narrower
// keeps its 9-unit tick labels at a readable size there. Anything else
// (no header, not a number, out of range) draws at the usual width.
double chartWidthFor(const httplib::Request& req) {
  const std::string h = req.get_header_value("X-Tabulix-Chart-Width");
  if (h.empty() || h.size() > 4 || h.find_first_not_of("0123456789") != std::string::npos) return 360;
  const int w = std::stoi(h);
  return w >= 200 && w <= 360 ? w : 360;
}

// The charts of a layout, in drawing order.
void chartsOf(const reports::Element& e, std::vector<const charts::Chart*>& out) {
  if (e.chart) out.push_back(&*e.chart);
  for (const auto& c : e.children) chartsOf(c, out);
}

}  // namespace

std::shared_ptr<Job> ServerImpl::startAnalysisJob(const httplib::Request& req, const AnalysisKind& kind,
                                                  AnalysisRequest request, uint64_t generation,
                                                  const std::string& workspace,
                                                  const std::string& supersedes) {
  const AnalysisKind* chosen = &kind;
  const double chartWidth = chartWidthFor(req);
  auto superseded = [generation] {
    return nlohmann::json{{"error", "superseded"}, {"superseded", true}, {"generation", generation}};
  };
  return startJob(
      req, "analyze",
      [this, request = std::move(request), chosen, workspace, generation, superseded, chartWidth](Job& job) {
        // A compute replaced while it waited does no work at all.
        if (job.cancelled()) return job.finish(superseded());
        // The worker's connection is opened now that the job runs, not while it waits.
        std::shared_ptr<Model> worker = workerFor(generation);
        if (!worker) {
          job.finish({{"error", tr("Another workspace was opened; show the result again.")},
                      {"generation", generation}});
          return;
        }
        nlohmann::json out;
        try {
          auto output =
              std::make_shared<AnalysisOutput>(computeAnalysis(*worker, *chosen, request, workspace));
          worker->context().reset();
          if (job.cancelled()) return job.finish(superseded());
          std::vector<const charts::Chart*> charts;
          chartsOf(output->screen, charts);
          nlohmann::json svgs = nlohmann::json::array();
          for (const auto* c : charts) svgs.push_back(charts::toSvg(*c, chartWidth, chartWidth * 260 / 360));
          std::string id = newId();
          // The result goes to the page once; the kept output serves the files only.
          out = {{"result", std::move(output->result)},
                 {"layout", reports::toJson(output->screen)},
                 {"charts", svgs},
                 {"baseName", output->baseName},
                 {"id", id},
                 {"generation", generation}};
          output->result = nullptr;
          output->screen = {};  // drawn already; the files need the print layout only
          keepResult(id, std::move(output), jsonBytes(out), worker->currentStore().value_or(""));
        } catch (const AnalysisRequestError& e) {
          // A validity message is the result the page shows.
          out = {{"error", e.what()}, {"generation", generation}};
        }
        job.finish(out);
      },
      supersedes);
}

void ServerImpl::routeAnalyze() {
  g_keptForSeconds = options.keepResultsFor.count();
  jobs.setIdleWork(dropIdleResults);

  // Every kind's positions and settings, from which the page draws its panels.
  get("/api/kinds", [](const httplib::Request&) { return describeAnalysisKinds(); });

  // Computes a request as `tabulix analyze` does: a kind, its variables,
  // filters and settings.
  post("/api/analyze", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    if (!body.contains("kind") || !body["kind"].is_string()) bad("\"kind\" must name an analysis");
    auto kind = analysisKinds().find(body["kind"].get<std::string>());
    if (kind == analysisKinds().end()) throw ApiError(404, {{"error", "no such analysis kind"}});
    AnalysisRequest request = requestOfBody(body);
    uint64_t generation = 0;
    std::string workspace;
    shared.run([&](Model& m) {
      if (!m.currentStore()) throw ApiError(409, {{"error", "no workspace is open"}});
      generation = shared.generation();
      workspace = m.currentStore()->filename().string();
    });
    auto job = startAnalysisJob(req, kind->second, std::move(request), generation, workspace);
    return nlohmann::json{{"job", job->id()}};
  });

  // The PDF report and the CSV file of a computed result, written into a
  // private temporary folder for this request only, then removed.
  get(R"(/api/analyze/(\w+)/files)", [](const httplib::Request& req) {
    std::shared_ptr<AnalysisOutput> output;
    std::filesystem::path workspace;
    {
      std::lock_guard lock(g_keptMutex);
      for (auto& k : g_kept)
        if (k.id == req.matches[1].str()) {
          output = k.output, workspace = k.workspace;
          k.lastUse = std::chrono::steady_clock::now();
        }
    }
    if (!output)
      throw ApiError(404,
                     {{"error", "no such result"}, {"message", tr("The result is gone; show it again.")}});
    reports::ExportedResult files = reports::exportResult(output->baseName, output->csvLines, output->print,
                                                          reports::furnitureFor(workspace, output->baseName));
    nlohmann::json out = {{"baseName", output->baseName},
                          {"pdf",
                           {{"name", output->baseName + ".pdf"},
                            {"type", reports::kPdfMime},
                            {"base64", base64(readFile(files.pdf))}}},
                          {"csv",
                           {{"name", output->baseName + ".csv"},
                            {"type", reports::kCsvMime},
                            {"base64", base64(readFile(files.csv))}}}};
    reports::removeExport(files);
    return out;
  });

  // The data set export: every row, or the rows the page's filter keeps.
  post("/api/dataset/export", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    std::vector<WhereClauseObj> wheres = conditionsOfBody(body, "wheres");
    std::string name;
    uint64_t generation = 0;
    shared.run([&](Model& m) {
      if (!m.currentStore()) throw ApiError(409, {{"error", "no workspace is open"}});
      generation = shared.generation();
      name = m.currentStore()->stem().string() + ".csv";
    });
    auto job = startJob(req, "export", [this, wheres, name, generation](Job& job) {
      std::shared_ptr<Model> worker = workerFor(generation);
      if (!worker) {
        job.finish({{"error", tr("Another workspace was opened; export again.")}});
        return;
      }
      std::string tmpl = (std::filesystem::temp_directory_path() /
                          ("tabulix-dataset-" + std::to_string(getpid()) + "-XXXXXX"))
                             .string();
      if (!mkdtemp(tmpl.data())) {
        job.finish({{"error", "cannot make a temporary folder"}});
        return;
      }
      std::filesystem::path file = std::filesystem::path(tmpl) / name;
      try {
        auto rows = rowsWhere(*worker, wheres);
        reports::exportDataset(*worker, file, rows, [&](size_t row, size_t total) {
          job.post({{"text", reports::exportProgressText(row, total)}});
        });
      } catch (...) {
        // The job reports the failure; its folder goes with it.
        std::error_code ec;
        std::filesystem::remove_all(tmpl, ec);
        throw;
      }
      worker->context().reset();
      std::string id = newId();
      {
        std::lock_guard lock(g_keptMutex);
        g_files.push_back({id, name, file});
        while (g_files.size() > 8) {
          std::error_code ec;
          std::filesystem::remove_all(g_files.front().path.parent_path(), ec);
          g_files.pop_front();
        }
      }
      job.finish({{"file", id}, {"name", name}});
    });
    return nlohmann::json{{"job", job->id()}, {"text", tr("Exporting dataset...")}};
  });

  get(R"(/api/dataset/export/(\w+))", [](const httplib::Request& req) {
    KeptFile file;
    {
      std::lock_guard lock(g_keptMutex);
      for (const auto& f : g_files)
        if (f.id == req.matches[1].str()) file = f;
    }
    if (file.id.empty()) throw ApiError(404, {{"error", "no such export"}});
    return nlohmann::json{{"name", file.name},
                          {"type", reports::kCsvMime},
                          {"base64", base64(readFile(file.path))},
                          {"subject", "Tabulix: " + file.path.stem().string()}};
  });
}

}  // namespace tabulix::server
