// `tabulix serve`: the web application, served over HTTP to any browser.
#include <pthread.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "cli/commands.h"
#include "engine/log.h"
#include "engine/model.h"
#include "engine/number_format.h"
#include "server/security.h"
#include "server/server.h"

namespace tabulix::cli {
namespace {

namespace fs = std::filesystem;

fs::path defaultDocuments() {
  if (const char* d = std::getenv("TABULIX_DOCUMENTS"); d && *d) return d;
  if (const char* h = std::getenv("HOME"); h && *h) return fs::path(h) / "Tabulix";
  return fs::current_path() / "Tabulix";
}

struct ServeArgs {
  std::string documents;
  std::string host = "127.0.0.1";
  int port = 8765;
  std::string locale;
  std::string web;
  bool noToken = false;
  int keepResults = 300;
};

int serve(const ServeArgs& args) {
  if (!args.locale.empty()) setDeviceLocale(args.locale);
  server::ServerOptions options;
  options.documents = args.documents.empty() ? defaultDocuments() : fs::path(args.documents);
  options.host = args.host;
  options.port = args.port;
  options.requireToken = !args.noToken;
  options.keepResultsFor = std::chrono::seconds(args.keepResults);
  if (!args.web.empty()) {
    options.webRoot = args.web;
  } else {
    options.webRoot = server::findWebRoot("/proc/self/exe");
  }
  if (!options.webRoot)
    std::cerr << "tabulix serve: the web interface has not been built (run scripts/web)\n";

  // Signals are taken by one thread with sigwait, so every other thread
  // (the request pool, the workers) is created with them blocked.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  server::tuneAllocatorForServing();
  Model& shared = Model::sharedModel();
  server::Server srv(shared, options);
  if (!srv.bind()) {
    std::cerr << "tabulix serve: cannot listen on " << args.host << ":" << args.port << ": "
              << srv.bindError() << "\n";
    // A taken port is a usage error: another --port is the way out.
    return srv.portTaken() ? 2 : 1;
  }
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&signals, &sig);
    srv.stop();
  });
  std::cout << "Tabulix is serving " << fs::absolute(options.documents).string() << "\n"
            << "Open " << srv.url() << "\n"
            << std::flush;
  srv.listen();
  // listen() also returns when binding failed late; make the waiter return.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  srv.stop();
  // Application exit: the shared Model saves.
  try {
    shared.saveContext();
  } catch (const StoreError& e) {
    std::cerr << "tabulix serve: " << e.what() << " (" << e.details() << ")\n";
    shared.closeStores();
    return 1;
  }
  shared.closeStores();
  return 0;
}

RegisterCommand serveCommand{
    {"serve", "Serve the Tabulix web application over HTTP", [](CLI::App& app) {
       auto args = std::make_shared<ServeArgs>();
       app.add_option("--documents", args->documents,
                      "Documents folder (default: $TABULIX_DOCUMENTS, else ~/Tabulix)");
       app.add_option("--host", args->host, "Address to listen on")->capture_default_str();
       app.add_option("--port", args->port, "Port to listen on (0: any free port)")
           ->capture_default_str()
           ->check(CLI::Range(0, 65535));
       app.add_option("--locale", args->locale, "Locale for numbers and dates (e.g. en_US)");
       app.add_option("--web", args->web, "Folder of the built web interface");
       app.add_option("--keep-results", args->keepResults,
                      "Seconds a computed result stays ready for its PDF and CSV after its last use")
           ->capture_default_str()
           ->check(CLI::Range(1, 86400));
       app.add_flag("--no-token", args->noToken,
                    "On a loopback address, let in every local user without the printed token "
                    "(other addresses always need it)");
       return [args]() { return serve(*args); };
     }}};

}  // namespace
}  // namespace tabulix::cli
