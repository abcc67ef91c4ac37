// tabulix: command-line entry point. Subcommands register themselves.
#include <cstdlib>
#include <iostream>
#include <map>

#include "cli/commands.h"
#include "engine/log.h"
#include "engine/number_format.h"
#include "engine/store.h"

namespace tabulix::cli {

std::vector<Command>& commands() {
  static std::vector<Command> all;
  return all;
}

namespace {
std::string g_locale;
}

const std::string& deviceLocaleName() { return g_locale; }

}  // namespace tabulix::cli

namespace {

// LANG looks like "fr_FR.UTF-8"; the locale name is the part before the dot.
std::string localeFromEnvironment() {
  for (const char* var : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) {
      std::string s(v);
      s = s.substr(0, s.find_first_of(".@"));
      if (s == "C" || s == "POSIX") continue;
      return s;
    }
  }
  return "en_US";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tabulix::cli;
  CLI::App app{"Tabulix: point-and-click data analysis, from the command line"};
  app.require_subcommand(1);
  std::string locale;
  app.add_option("--locale", locale, "Locale for numbers and dates (default: LANG, else en_US)");
  std::map<CLI::App*, std::function<CommandResult()>> actions;
  for (auto& c : commands()) {
    CLI::App* sub = app.add_subcommand(c.name, c.description);
    actions[sub] = c.setup(*sub);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }
  tabulix::cli::g_locale = locale.empty() ? localeFromEnvironment() : locale;
  // Diagnostic lines ("Row: 100", "Parser started!") are for developers:
  // shown with TABULIX_LOG=1, otherwise dropped so that stderr carries only
  // progress and errors.
  if (const char* log = std::getenv("TABULIX_LOG"); !log || std::string(log) != "1")
    tabulix::setLogSink([](std::string_view) {});
  tabulix::setDeviceLocale(tabulix::cli::g_locale);
  for (auto* sub : app.get_subcommands()) {
    try {
      return actions[sub]();
    } catch (const tabulix::StoreError& e) {
      // A store failure is where the work failed, not the input: the
      // message names the file.
      std::cerr << "tabulix " << sub->get_name() << ": " << e.what() << " (" << e.details() << ")\n";
      return 1;
    } catch (const std::exception& e) {
      std::cerr << "tabulix " << sub->get_name() << ": " << e.what() << "\n";
      return 2;
    }
  }
  return 2;
}
