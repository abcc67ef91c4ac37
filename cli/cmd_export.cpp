// `tabulix export W.tbx OUT.csv [--where "NAME OP VALUE"]...`: the data set
// (or the rows a filter keeps) as comma-separated text.
#include <iostream>
#include <nlohmann/json.hpp>

#include "analyses/filters.h"
#include "cli/commands.h"
#include "cli/where_option.h"
#include "cli/workspace_open.h"
#include "reports/dataset_export.h"
#include "reports/output_file.h"

namespace tabulix::cli {
namespace {

RegisterCommand exportCommand{
    {"export", "Export the data set (or its filtered rows) as a CSV file", [](CLI::App& app) {
       auto file = std::make_shared<std::string>();
       auto out = std::make_shared<std::string>();
       auto wheres = std::make_shared<std::vector<std::string>>();
       app.add_option("WORKSPACE", *file, "Workspace file (.tbx)")->required();
       app.add_option("OUT", *out, "The CSV file to write")->required();
       app.add_option("--where", *wheres, "A condition \"NAME OP VALUE\" (repeatable; all must hold)");
       return [file, out, wheres]() {
         Model model;
         openExistingWorkspace(model, *file);
         auto conditions = parseWhereOptions(model, *wheres);
         auto rows = rowsWhere(model, conditions);
         std::error_code same;
         if (std::filesystem::equivalent(*file, *out, same))
           throw std::runtime_error(*out + ": the output is the workspace itself");
         try {
           reports::exportDataset(model, *out, rows);
         } catch (const reports::ExportError& e) {
           std::cerr << "tabulix export: " << e.what() << "\n";
           return 1;
         }
         std::cout << nlohmann::json{{"file", *out},
                                     {"rows", rows ? rows->size() : model.context().countRows()}}
                          .dump()
                   << "\n";
         return 0;
       };
     }}};

}  // namespace
}  // namespace tabulix::cli
