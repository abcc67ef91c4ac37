// `tabulix rows W.tbx [--where "NAME OP VALUE"]...`: the rows a filter keeps.
#include <iostream>
#include <nlohmann/json.hpp>

#include "analyses/filters.h"
#include "cli/commands.h"
#include "cli/where_option.h"
#include "cli/workspace_open.h"
#include "engine/workspace_data.h"

namespace tabulix::cli {
namespace {

RegisterCommand rowsCommand{
    {"rows", "Print the row numbers a filter keeps, as JSON", [](CLI::App& app) {
       auto file = std::make_shared<std::string>();
       auto wheres = std::make_shared<std::vector<std::string>>();
       app.add_option("WORKSPACE", *file, "Workspace file (.tbx)")->required();
       app.add_option("--where", *wheres, "A condition \"NAME OP VALUE\" (repeatable; all must hold)");
       return [file, wheres]() {
         Model model;
         openExistingWorkspace(model, *file);
         std::vector<WhereClauseObj> conditions;
         try {
           conditions = parseWhereOptions(model, *wheres);
         } catch (const WhereOptionError& e) {
           std::cerr << "tabulix rows: " << e.what() << "\n";
           return 2;
         }
         std::vector<int32_t> selected;
         if (auto kept = rowsWhere(model, conditions)) {
           selected = std::move(*kept);
         } else {
           for (Row* r : rows(model))
             if (r->num) selected.push_back(*r->num);
         }
         nlohmann::json out = {
             {"rows", selected}, {"count", selected.size()}, {"text", stringForWheres(model, conditions)}};
         std::cout << out.dump() << "\n";
         return 0;
       };
     }}};

}  // namespace
}  // namespace tabulix::cli
