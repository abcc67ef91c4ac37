#include "server/server.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <malloc.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "engine/log.h"
#include "engine/number_format.h"
#include "engine/store.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"
#include "engine/workspace_status.h"
#include "server/request_locale.h"
#include "server/server_impl.h"

namespace tabulix::server {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCookieName = "tabulix_token";
// JSON requests are small; only uploads may approach the full body limit.
constexpr size_t kJsonBodyLimit = 1u << 20;
// The deepest nesting of arrays and objects a JSON body may have.
constexpr size_t kJsonMaxDepth = 64;

bool startsWith(const std::string& s, std::string_view prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

void sendJson(httplib::Response& res, const nlohmann::json& body, int status = 200) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
}

// The body of a refusal: its code, the text a page may show (its own, else
// the code through the translation lookup), and any alerts raised meanwhile.
nlohmann::json errorBody(const ApiError& e, AlertScope& scope) {
  nlohmann::json body = e.body();
  if (body.contains("error") && body["error"].is_string() && !body.contains("alert") &&
      !body.contains("message"))
    body["message"] = tr(body["error"].get<std::string>());
  for (auto& a : scope.take()) body["alerts"].push_back(toJson(a));
  return body;
}

void plainPage(httplib::Response& res, int status, const std::string& title, const std::string& text) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(
      "<!doctype html><meta charset=utf-8><meta name=viewport content='width=device-width'>"
      "<title>" +
          title + "</title><body style='font-family:system-ui;padding:2em;max-width:40em'><h1>" + title +
          "</h1><p>" + text + "</p>",
      "text/html; charset=utf-8");
}

std::string contentType(const fs::path& p) {
  static const std::pair<const char*, const char*> types[] = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".json", "application/json"},
      {".webmanifest", "application/manifest+json"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".ico", "image/x-icon"},
      {".txt", "text/plain; charset=utf-8"},
      {".woff2", "font/woff2"},
  };
  std::string ext = p.extension().string();
  for (auto& [e, t] : types)
    if (ext == e) return t;
  return "application/octet-stream";
}

bool readWholeFile(const fs::path& p, std::string& out) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  out = ss.str();
  return true;
}

}  // namespace

namespace {

// The connection bounds, with uploads (which hold a request thread while
// they stream) kept to a quarter of the threads.
ConnectionLimits limitsFor(const ServerOptions& o) {
  ConnectionLimits l = o.limits;
  l.largeBodies =
      std::max<size_t>(1, std::min(l.largeBodies, static_cast<size_t>(std::max(o.threads, 2)) / 4));
  return l;
}

}  // namespace

ApiError alertError(int status, const std::string& code, const Alert& alert) {
  return ApiError(status, {{"error", code}, {"alert", toJson(alert)}});
}

ApiError variableLimitError() {
  auto [title, text] = variableLimitTexts();
  return alertError(409, "variableLimit", {title, text, {tr("OK")}});
}

std::optional<fs::path> findWebRoot(const fs::path& program) {
  std::vector<fs::path> candidates;
  if (const char* env = std::getenv("TABULIX_WEB_DIR"); env && *env) candidates.emplace_back(env);
  std::error_code ec;
  fs::path exe = fs::canonical(program, ec);
  if (ec) exe = fs::canonical("/proc/self/exe", ec);
  if (!ec) {
    candidates.push_back(exe.parent_path() / ".." / "share" / "tabulix" / "web");
    candidates.push_back(exe.parent_path() / "web");
  }
  candidates.emplace_back(TABULIX_WEB_DIST_DIR);
  for (const auto& c : candidates)
    if (fs::is_regular_file(c / "index.html", ec)) return fs::canonical(c, ec);
  return std::nullopt;
}

void tuneAllocatorForServing() {
  // glibc raises its mmap threshold to the size of every large block freed,
  // so after the first results of a few megabytes the next ones are carved
  // from the heaps instead, and each of up to eight arenas per core keeps its
  // own: 50 clients left 400 MB behind where 24 MB were idle. A fixed
  // threshold maps every large block on its own (returned whole on free), a
  // low trim threshold returns a heap's free top, and one arena per core
  // bounds what small allocations can strand between the large ones.
  ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  ::mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
  ::mallopt(M_ARENA_MAX, static_cast<int>(std::max(2u, std::thread::hardware_concurrency())));
}

ServerImpl::ServerImpl(Model& sharedModel, ServerOptions opts)
    : options(std::move(opts)),
      shared(sharedModel),
      http(limitsFor(options), static_cast<size_t>(std::max(2, options.threads))),
      jobs(static_cast<size_t>(std::max(1, options.jobWorkers))) {
  std::error_code ec;
  fs::create_directories(options.documents, ec);
  documents = fs::canonical(options.documents, ec);
  if (ec) throw std::runtime_error("cannot use the documents folder " + options.documents.string());
  removeLeftovers();
  webRoot = options.webRoot ? std::optional<fs::path>(fs::canonical(*options.webRoot, ec)) : std::nullopt;
  if (ec) webRoot.reset();
  if (options.token)
    token = *options.token;
  else if (options.requireToken || !isLoopbackHost(options.host))
    token = randomToken();
  installAlertHandler();

  // Progress streams hold a request thread for as long as a job runs; they
  // may take a quarter of the threads, so that pages are always answered.
  maxStreams = std::max(1, options.threads / 4);
  http.set_payload_max_length(options.maxBodyBytes);
  // What the answers tell clients about reuse; the front enforces the idle limit.
  http.set_keep_alive_max_count(1000);
  http.set_keep_alive_timeout(std::max<time_t>(
      1, std::chrono::duration_cast<std::chrono::seconds>(options.limits.idleTimeout).count()));
  http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    return admit(req, res) ? httplib::Server::HandlerResponse::Unhandled
                           : httplib::Server::HandlerResponse::Handled;
  });
  http.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("X-Frame-Options", "DENY");
    // frame-src blob: lets Print show the PDF report (a blob the page made) in a frame.
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' data: blob:; style-src 'self' 'unsafe-inline'; "
                   "script-src 'self'; connect-src 'self'; frame-src 'self' blob:; frame-ancestors 'none'; "
                   "base-uri 'none'; form-action 'self'; manifest-src 'self'");
  });
  // Handlers registered directly with the HTTP layer end up here too.
  http.set_exception_handler([](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
    AlertScope scope;
    answerError(req, res, ep, scope);
  });
  routeCore();
  routeDocuments();
  routeBrowse();
  routeAnalyze();
  routeDerive();
  routeRecode();
  routeAnalyses();
  routeGlossary();
  routeFallbacks();
}

ServerImpl::~ServerImpl() { stop(); }

bool ServerImpl::admit(const httplib::Request& req, httplib::Response& res) {
  // DNS rebinding: a page of another site whose name now resolves here
  // still sends its own name as Host.
  if (!hostCheck || !hostCheck->allows(req.get_header_value("Host"))) {
    plainPage(res, 421, "Refused", "This server answers only to its own address.");
    return false;
  }
  bool api = startsWith(req.path, "/api/");
  bool mutating = req.method != "GET" && req.method != "HEAD" && req.method != "OPTIONS";
  // Bodies are read in full only with a declared length, which the limits
  // below and the HTTP layer's own limit check before reading.
  if (mutating && req.has_header("Transfer-Encoding")) {
    sendJson(res, {{"error", "length required"}}, 411);
    return false;
  }
  uint64_t length = std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10);
  bool upload = req.path == "/api/upload" || req.path == "/share-target";
  if (length > (upload ? options.maxBodyBytes : kJsonBodyLimit)) {
    sendJson(res, {{"error", "request body too large"}}, 413);
    return false;
  }
  // Writes from pages of other sites: a cross-site form or fetch carries a
  // foreign Origin (or a cross-site fetch mark); the API also requires a
  // header that only a same-origin script can add without a preflight.
  if (mutating) {
    std::string origin = req.get_header_value("Origin");
    if (!origin.empty()) {
      std::string host = origin;
      for (const char* scheme : {"http://", "https://"})
        if (startsWith(host, scheme)) host = host.substr(std::string_view(scheme).size());
      if (origin == "null" || !hostCheck->allows(host)) {
        sendJson(res, {{"error", "cross-origin request refused"}}, 403);
        return false;
      }
    }
    std::string site = req.get_header_value("Sec-Fetch-Site");
    if (site == "cross-site" || site == "same-site") {
      sendJson(res, {{"error", "cross-site request refused"}}, 403);
      return false;
    }
    if (api && req.get_header_value("X-Tabulix-Request") != "1") {
      sendJson(res, {{"error", "missing X-Tabulix-Request header"}}, 403);
      return false;
    }
  }
  if (token.empty()) return true;
  // The token arrives once in the address; it is traded for a cookie that
  // scripts cannot read, and the address is cleaned so it is not bookmarked.
  if (req.has_param("token")) {
    if (!constantTimeEquals(req.get_param_value("token"), token)) {
      plainPage(res, 403, "Wrong access token", "Open the address that tabulix serve printed.");
      return false;
    }
    res.set_header("Set-Cookie",
                   std::string(kCookieName) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict");
    res.set_redirect(req.path.empty() ? "/" : req.path, 303);
    return false;
  }
  // The manifest and icons are fetched by the browser without cookies.
  if (req.path == "/manifest.webmanifest" || startsWith(req.path, "/icons/")) return true;
  auto cookie = cookieValue(req.get_header_value("Cookie"), kCookieName);
  if (cookie && constantTimeEquals(*cookie, token)) return true;
  if (api)
    sendJson(res, {{"error", "access token required"}}, 401);
  else
    plainPage(res, 401, tr("Access token required"),
              tr("This server lets in only those who know its access token. Open the address that "
                 "<code>tabulix serve</code> printed when it started (it ends with <code>?token=</code> "
                 "and 64 letters and digits); this browser then stays let in until it closes."));
  return false;
}

void ServerImpl::serveStatic(const httplib::Request& req, httplib::Response& res) {
  if (!webRoot) {
    plainPage(res, 503, "Tabulix",
              "The web interface has not been built. Run scripts/web, then start the server again.");
    return;
  }
  std::string name = req.path == "/" || req.path.empty() ? "index.html" : req.path.substr(1);
  auto file = confinedPath(*webRoot, name);
  std::error_code ec;
  if (!file || !fs::is_regular_file(*file, ec)) {
    // The single-page application answers every other page address.
    if (fs::path(name).has_extension()) {
      plainPage(res, 404, "Not found", "No such file.");
      return;
    }
    file = *webRoot / "index.html";
  }
  std::string body;
  if (!readWholeFile(*file, body)) {
    plainPage(res, 404, "Not found", "No such file.");
    return;
  }
  // Built assets carry a content hash in their names and never change.
  bool hashed = startsWith(name, "assets/");
  res.set_header("Cache-Control", hashed ? "public, max-age=31536000, immutable" : "no-cache");
  res.set_content(std::move(body), contentType(*file));
}

void ServerImpl::answerError(const httplib::Request& req, httplib::Response& res, std::exception_ptr error,
                             AlertScope& scope) {
  try {
    std::rethrow_exception(error);
  } catch (const ApiError& e) {
    sendJson(res, errorBody(e, scope), e.status());
  } catch (const JobsBusy& e) {
    res.set_header("Retry-After", "2");
    sendJson(res, errorBody(ApiError(503, {{"error", e.what()}}), scope), 503);
  } catch (const StoreError& e) {
    // A store failure is reported like every other: logged, and the
    // "Error!" alert for the page; the server goes on.
    logLine("Unresolved error " + std::string(e.what()) + ", " + e.details());
    showStoreError(e.what());
    sendJson(res, errorBody(ApiError(500, {{"error", e.what()}}), scope), 500);
  } catch (const nlohmann::json::exception& e) {
    // A body whose fields have other types than expected, caught where no
    // field helper named the field.
    logLine("Request " + req.method + " " + req.path + " refused: " + e.what());
    sendJson(res,
             errorBody(ApiError(400, {{"error", "the request body has a field of the wrong type"}}), scope),
             400);
  } catch (const std::exception& e) {
    logLine("Request " + req.method + " " + req.path + " failed: " + e.what());
    sendJson(res, errorBody(ApiError(500, {{"error", e.what()}}), scope), 500);
  } catch (...) {
    logLine("Request " + req.method + " " + req.path + " failed");
    sendJson(res, errorBody(ApiError(500, {{"error", "unexpected failure"}}), scope), 500);
  }
}

void ServerImpl::route(const std::string& method, const std::string& pattern, JsonHandler handler) {
  noteRoute(method, pattern);
  auto wrapped = [handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
    AlertScope scope;
    LocaleScope locale(requestLocale(req));  // numbers and dates in the browser's language
    try {
      nlohmann::json body = handler(req);
      for (auto& a : scope.take()) body["alerts"].push_back(toJson(a));
      sendJson(res, body);
    } catch (...) {
      answerError(req, res, std::current_exception(), scope);
    }
  };
  if (method == "GET")
    http.Get(pattern, wrapped);
  else if (method == "POST")
    http.Post(pattern, wrapped);
  else
    http.Delete(pattern, wrapped);
}

void ServerImpl::noteRoute(const std::string& method, const std::string& pattern) {
  routes_.emplace_back(method, std::regex(pattern));
}

void ServerImpl::get(const std::string& pattern, JsonHandler handler) {
  route("GET", pattern, std::move(handler));
}
void ServerImpl::post(const std::string& pattern, JsonHandler handler) {
  route("POST", pattern, std::move(handler));
}
void ServerImpl::del(const std::string& pattern, JsonHandler handler) {
  route("DELETE", pattern, std::move(handler));
}

void ServerImpl::routeFallbacks() {
  // An API path asked with a method it does not take: 405 with the methods
  // it does take; an unknown API path: 404.
  auto fallback = [this](const httplib::Request& req, httplib::Response& res) {
    std::string allow;
    for (const auto& [method, pattern] : routes_)
      if (std::regex_match(req.path, pattern) && allow.find(method) == std::string::npos)
        allow += (allow.empty() ? "" : ", ") + method;
    if (allow.empty()) {
      sendJson(res, {{"error", "not found"}, {"message", tr("not found")}}, 404);
      return;
    }
    res.set_header("Allow", allow);
    sendJson(res, {{"error", "method not allowed"}, {"message", tr("method not allowed")}}, 405);
  };
  http.Post("/api/.*", fallback);
  http.Put("/api/.*", fallback);
  http.Patch("/api/.*", fallback);
  http.Delete("/api/.*", fallback);
  http.Options("/api/.*", fallback);
  http.Get("/api/.*", fallback);
  http.Get(".*", [this](const httplib::Request& req, httplib::Response& res) { serveStatic(req, res); });
}

size_t jsonNesting(std::string_view text) {
  // One pass over the bytes, strings skipped: brackets inside texts do not count.
  size_t depth = 0, deepest = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

nlohmann::json ServerImpl::bodyJson(const httplib::Request& req) {
  if (req.body.empty()) return nlohmann::json::object();
  // Writing a value back, copying and comparing it recurse through its
  // levels: a body nested thousands deep would overflow the stack. It is
  // refused before it is parsed.
  if (req.body.size() > kJsonBodyLimit)
    throw ApiError(400, {{"error", "the request body is larger than 1 MiB"}});
  if (jsonNesting(req.body) > kJsonMaxDepth)
    throw ApiError(400, {{"error", "the request body nests deeper than 64 levels"}});
  nlohmann::json j = nlohmann::json::parse(req.body, nullptr, false);
  if (j.is_discarded() || !j.is_object())
    throw ApiError(400, {{"error", "the request body is not a JSON object"}});
  return j;
}

namespace {

ApiError wrongType(const char* key, const char* expected) {
  return ApiError(400, {{"error", std::string("the field \"") + key + "\" must be " + expected}});
}

}  // namespace

std::string ServerImpl::bodyText(const nlohmann::json& body, const char* key, std::string fallback) {
  auto it = body.find(key);
  if (it == body.end() || it->is_null()) return fallback;
  if (!it->is_string()) throw wrongType(key, "a text");
  return it->get<std::string>();
}

bool ServerImpl::bodyFlag(const nlohmann::json& body, const char* key, bool fallback) {
  auto it = body.find(key);
  if (it == body.end() || it->is_null()) return fallback;
  if (!it->is_boolean()) throw wrongType(key, "true or false");
  return it->get<bool>();
}

int64_t ServerImpl::bodyInt(const nlohmann::json& body, const char* key, int64_t fallback) {
  auto it = body.find(key);
  if (it == body.end() || it->is_null()) return fallback;
  if (!it->is_number_integer()) throw wrongType(key, "a whole number");
  return it->get<int64_t>();
}

fs::path ServerImpl::documentPath(const std::string& name) const {
  auto p = confinedPath(documents, name);
  if (!p) throw ApiError(400, {{"error", "invalid file name"}});
  return *p;
}

nlohmann::json ServerImpl::statusJson(Model& model) {
  auto store = model.currentStore();
  return {{"workspace", store ? nlohmann::json(store->filename().string()) : nlohmann::json()},
          {"statusLine", statusLine(model, false)},
          {"statusLineTablet", statusLine(model, true)},
          {"generation", shared.generation()},
          {"initialEdit", shared.initialEdit},
          {"locale", languageTag(deviceLocaleName())},
          {"history", historyJson(model)}};
}

nlohmann::json ServerImpl::historyJson(Model& model) {
  nlohmann::json out = {{"undo", nullptr}, {"redo", nullptr}};
  if (!model.currentStore()) return out;
  for (const HistoryStep& s : model.context().history()) {
    if (!s.undone) out["undo"] = s.name;
    if (s.undone && out["redo"].is_null()) out["redo"] = s.name;
  }
  return out;
}

std::shared_ptr<Job> ServerImpl::startJob(const httplib::Request& req, const std::string& kind,
                                          std::function<void(Job&)> work, const std::string& supersedes) {
  // The job runs in its request's context: the page's language, and an
  // alert scope of its own whose alerts go with its result to the page that
  // asked (not to whichever response comes next). Every failure ends the
  // job through the same boundary as a request's: a store failure with the
  // "Error!" alert and its reason.
  auto inContext = [work = std::move(work), locale = requestLocale(req)](Job& job) {
    LocaleScope localeScope(locale);
    AlertScope alerts;
    job.onFinishing([&alerts](nlohmann::json& result) {
      std::vector<Alert> raised = alerts.take();
      if (raised.empty() || !(result.is_object() || result.is_null())) return;
      for (auto& a : raised) result["alerts"].push_back(toJson(a));
    });
    try {
      work(job);
    } catch (const StoreError& e) {
      logLine("Unresolved error " + std::string(e.what()) + ", " + e.details());
      showStoreError(e.what());
      job.finish({{"error", e.what()}});
    } catch (const ApiError& e) {
      job.finish({{"error", e.what()}});
    } catch (const std::exception& e) {
      logLine("Job " + job.kind() + " failed: " + e.what());
      job.finish({{"error", e.what()}});
    } catch (...) {
      logLine("Job " + job.kind() + " failed");
      job.finish({{"error", "unexpected failure"}});
    }
    job.finish(nullptr);
    job.onFinishing(nullptr);  // the scope ends with this call
  };
  auto job = jobs.start(kind, std::move(inContext), req.remote_addr, supersedes);
  if (!job) throw ApiError(503, {{"error", "the server is stopping"}});
  return job;
}

std::shared_ptr<Model> ServerImpl::workerFor(uint64_t generation) {
  return shared.run([&](Model& m) -> std::shared_ptr<Model> {
    if (!m.currentStore() || shared.generation() != generation) return nullptr;
    return backgroundModelOn(m);
  });
}

bool ServerImpl::claimFile(const fs::path& file) {
  std::lock_guard lock(claimMutex_);
  return claimed_.insert(file).second;
}

void ServerImpl::releaseFile(const fs::path& file) {
  std::lock_guard lock(claimMutex_);
  claimed_.erase(file);
}

bool ServerImpl::isClaimed(const fs::path& file) {
  std::lock_guard lock(claimMutex_);
  return claimed_.count(file) > 0;
}

namespace {

// Why binding host:port fails, asked of the kernel with a socket of our own
// (the HTTP layer does not keep the error): EADDRINUSE when another program
// listens there, 0 when a bind would succeed now.
int bindFailure(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || !list) return EADDRNOTAVAIL;
  int error = EADDRNOTAVAIL;
  for (addrinfo* a = list; a; a = a->ai_next) {
    int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    error = ::bind(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
    ::close(fd);
    if (error == 0 || error == EADDRINUSE) break;
  }
  ::freeaddrinfo(list);
  return error;
}

}  // namespace

bool ServerImpl::bind() {
  // Only SO_REUSEADDR (a restart need not wait for old connections to time
  // out), never SO_REUSEPORT: with it a second server on this port would
  // start too, and the kernel would split the requests between the two.
  http.set_socket_options([](socket_t sock) {
    int one = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  });
  bindError.clear();
  portTaken = false;
  bool ok;
  if (options.port == 0) {
    boundPort = http.bind_to_any_port(options.host);
    ok = boundPort > 0;
  } else {
    ok = http.bind_to_port(options.host, options.port);
    if (ok) boundPort = options.port;
  }
  if (!ok) {
    int error = bindFailure(options.host, options.port);
    portTaken = error == EADDRINUSE;
    bindError = portTaken
                    ? "the port is taken (another program, perhaps another tabulix serve, listens there)"
                    : std::strerror(error ? error : EADDRNOTAVAIL);
    return false;
  }
  http.widenBacklog();
  hostCheck.emplace(options.host, boundPort);
  return true;
}

void ServerImpl::listen() { http.listen_after_bind(); }

void ServerImpl::stop() {
  stopping = true;
  jobs.shutdown();
  if (http.is_running()) http.stop();
}

std::string ServerImpl::url() const {
  std::string host = options.host;
  if (host == "0.0.0.0" || host == "::") {
    // A wildcard is no address to open: offer the machine's first network
    // address (a phone on the same network can reach it, unlike a host name
    // it may not resolve), else its name.
    host.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
      for (ifaddrs* i = list; i && host.empty(); i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & IFF_LOOPBACK)) continue;
        char buf[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, buf, sizeof buf);
        host = buf;
      }
      freeifaddrs(list);
    }
    char name[256] = {};
    if (host.empty()) host = gethostname(name, sizeof name - 1) == 0 && name[0] ? name : "localhost";
  } else if (host.find(':') != std::string::npos && host.front() != '[') {
    host = "[" + host + "]";
  }
  std::string u = "http://" + host + std::string(":") + std::to_string(boundPort) + "/";
  if (!token.empty()) u += "?token=" + token;
  return u;
}

Server::Server(Model& shared, ServerOptions options)
    : impl_(std::make_unique<ServerImpl>(shared, std::move(options))) {}
Server::~Server() = default;
bool Server::bind() { return impl_->bind(); }
const std::string& Server::bindError() const { return impl_->bindError; }
bool Server::portTaken() const { return impl_->portTaken; }
int Server::port() const { return impl_->boundPort; }
std::string Server::url() const { return impl_->url(); }
void Server::listen() { impl_->listen(); }
void Server::stop() { impl_->stop(); }
bool Server::isRunning() const { return impl_->http.is_running(); }

}  // namespace tabulix::server
