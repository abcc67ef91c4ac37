// `tabulix undo W.tbx`, `tabulix redo W.tbx` and `tabulix history W.tbx`:
// the workspace's history of steps, shared with the web app since it lives
// in the file.
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/workspace_open.h"
#include "engine/log.h"
#include "engine/translate.h"

namespace tabulix::cli {
namespace {

// Undoes (or redoes) one step and prints it; exit 2 when there is none.
CommandResult move(const std::string& file, bool forward) {
  const char* command = forward ? "redo" : "undo";
  Model model;
  openExistingWorkspace(model, file);
  std::optional<std::string> step;
  try {
    step = forward ? model.context().redo() : model.context().undo();
  } catch (const StoreError& e) {
    std::cerr << "tabulix " << command << ": " << file << ": " << e.what() << "\n";
    return 1;
  }
  if (!step) {
    std::cerr << "tabulix " << command << ": " << file << ": "
              << (forward ? tr("There is nothing to redo.") : tr("There is nothing to undo.")) << "\n";
    return 2;
  }
  std::cout << fillPlaceholders(forward ? tr("Redid: %@") : tr("Undid: %@"), {*step}) << "\n";
  return 0;
}

RegisterCommand undoCommand{
    {"undo", "Undo the last change to a workspace's data and print it", [](CLI::App& app) {
       auto file = std::make_shared<std::string>();
       app.add_option("WORKSPACE", *file, "Workspace file (.tbx)")->required();
       return [file]() { return move(*file, false); };
     }}};

RegisterCommand redoCommand{{"redo", "Redo the last change undone and print it", [](CLI::App& app) {
                               auto file = std::make_shared<std::string>();
                               app.add_option("WORKSPACE", *file, "Workspace file (.tbx)")->required();
                               return [file]() { return move(*file, true); };
                             }}};

RegisterCommand historyCommand{
    {"history", "List the steps of a workspace's history, oldest first", [](CLI::App& app) {
       auto file = std::make_shared<std::string>();
       auto json = std::make_shared<bool>(false);
       app.add_option("WORKSPACE", *file, "Workspace file (.tbx)")->required();
       app.add_flag("--json", *json, "Print the steps as JSON, with the bytes each takes in the file");
       return [file, json]() {
         Model model;
         openExistingWorkspace(model, *file, StoreAccess::ReadOnly);
         auto steps = model.context().history();
         if (*json) {
           nlohmann::json out = nlohmann::json::array();
           for (const HistoryStep& s : steps)
             out.push_back({{"name", s.name}, {"undone", s.undone}, {"bytes", s.bytes}});
           std::cout << out.dump() << "\n";
           return 0;
         }
         // Undone steps are the ones redo brings back, next first.
         for (const HistoryStep& s : steps)
           std::cout << (s.undone ? fillPlaceholders(tr("%@ (undone)"), {s.name}) : s.name) << "\n";
         return 0;
       };
     }}};

}  // namespace
}  // namespace tabulix::cli
