// `tabulix info` and `tabulix variables`: what a workspace holds, as JSON.
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/variable_json.h"
#include "cli/workspace_open.h"
#include "engine/level_order.h"
#include "engine/missing_codes.h"
#include "engine/workspace_data.h"
#include "engine/workspace_status.h"

namespace tabulix::cli {

nlohmann::json variableJson(const Column& c) {
  nlohmann::json j;
  for (const auto& f : kColumnFields)
    visitField(f, c, [&](const auto& v) {
      if (v) j[f.name] = *v;
    });
  // The stored order as a list, not as the JSON text the store keeps.
  if (c.levelOrder) j["levelOrder"] = storedLevelOrder(c);
  if (c.missingCodes) j["missingCodes"] = storedMissingCodes(c);
  int type = c.type.value_or(0);
  j["type"] = type;
  j["typeName"] = variableTypeName(static_cast<VariableType>(type >= 1 && type <= 4 ? type : 0));
  return j;
}

namespace {

RegisterCommand info{{"info", "Describe a workspace as JSON", [](CLI::App& app) {
                        auto file = std::make_shared<std::string>();
                        app.add_option("WORKSPACE", *file, "Workspace file (.tbx)")->required();
                        return [file]() {
                          Model model;
                          openExistingWorkspace(model, *file, StoreAccess::ReadOnly);
                          nlohmann::json metadata = nlohmann::json::object();
                          for (Metadata* m : model.context().allMetadata())
                            if (m->key)
                              metadata[*m->key] = m->value ? nlohmann::json(*m->value) : nlohmann::json();
                          nlohmann::json out = {{"statusLine", statusLine(model, false)},
                                                {"statusLineTablet", statusLine(model, true)},
                                                {"variables", countColumns(model)},
                                                {"observations", countRows(model)},
                                                {"metadata", metadata}};
                          std::cout << out.dump() << "\n";
                          return 0;
                        };
                      }}};

RegisterCommand variables{{"variables", "List a workspace's variables as JSON", [](CLI::App& app) {
                             auto file = std::make_shared<std::string>();
                             app.add_option("WORKSPACE", *file, "Workspace file (.tbx)")->required();
                             return [file]() {
                               Model model;
                               openExistingWorkspace(model, *file, StoreAccess::ReadOnly);
                               nlohmann::json out = nlohmann::json::array();
                               for (Column* c : columns(model)) out.push_back(variableJson(*c));
                               std::cout << out.dump() << "\n";
                               return 0;
                             };
                           }}};

}  // namespace
}  // namespace tabulix::cli
