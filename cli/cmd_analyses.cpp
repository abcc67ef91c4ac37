// `tabulix analyses W.tbx [--search TEXT]`: the saved analyses as a JSON
// list, newest first, each with its id, type, display style, title,
// description and filter line; `--delete ID` deletes one; `--script`
// prints a shell script that recomputes every saved analysis.
#include <iostream>
#include <nlohmann/json.hpp>

#include "analyses/analysis_kind.h"
#include "analyses/definitions.h"
#include "cli/commands.h"
#include "cli/workspace_open.h"
#include "server/text_match.h"

namespace tabulix::cli {
namespace {

struct Options {
  std::string file, search;
  int64_t remove = 0;
  bool script = false;
};

RegisterCommand analysesCommand{
    {"analyses", "List (or delete) the saved analyses", [](CLI::App& app) {
       auto o = std::make_shared<Options>();
       app.add_option("WORKSPACE", o->file, "Workspace file (.tbx)")->required();
       app.add_option("--search", o->search, "Keep the analyses whose variables' names contain TEXT");
       app.add_option("--delete", o->remove, "Delete the saved analysis with this id");
       app.add_flag("--script", o->script, "Print a shell script that recomputes every saved analysis");
       return [o]() {
         Model model;
         openExistingWorkspace(model, o->file);
         if (o->script) {
           if (o->remove != 0 || !o->search.empty())
             throw AnalysisRequestError("--script takes no --delete or --search");
           std::cout << savedAnalysesScript(model, o->file);
           return 0;
         }
         if (o->remove != 0) {
           if (!o->search.empty()) throw AnalysisRequestError("--delete takes no --search");
           Analysis* a = model.context().existingAnalysis(ObjectId{Entity::Analysis, o->remove});
           if (!a) throw AnalysisRequestError("--delete: no saved analysis " + std::to_string(o->remove));
           removeAnalysis(model, a);
           model.saveContext();
           std::cout << nlohmann::json{{"deleted", o->remove}}.dump() << "\n";
           return 0;
         }
         nlohmann::json list = nlohmann::json::array();
         for (Analysis* a : searchAnalyses(model, o->search, server::containsIgnoringCaseAndDiacritics)) {
           AnalysisSummary s = summaryForAnalysis(model, *a);
           list.push_back({{"id", a->objectID.rowid},
                           {"type", a->type.value_or(0)},
                           {"displayStyle", s.displayStyle},
                           {"title", s.title},
                           {"description", s.description},
                           {"filterLine", s.filterLine}});
         }
         std::cout << list.dump() << "\n";
         return 0;
       };
     }}};

}  // namespace
}  // namespace tabulix::cli
