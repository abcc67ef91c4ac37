// `tabulix info` and `tabulix variables`: what a workspace holds, as JSON.
#include <iostream>

#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/variable_json.h"
#include "cli/workspace_open.h"
#include "engine/workspace_data.h"

namespace tabulix::cli {

nlohmann::json variableJson(const Column& c) {
  nlohmann::json j;
  auto put = [&](const char* key, const auto& v) {
    if (v) j[key] = *v;
  };
  put("num", c.num);
  put("order", c.order);
  put("name", c.name);
  int type = c.type.value_or(0);
  j["type"] = type;
  j["typeName"] = variableTypeName(static_cast<VariableType>(type >= 1 && type <= 4 ? type : 0));
  put("obs", c.obs);
  put("obsNumeric", c.obsNumeric);
  put("obsDate", c.obsDate);
  put("levels", c.levels);
  put("levelsDate", c.levelsDate);
  put("min", c.min);
  put("max", c.max);
  put("mean", c.mean);
  put("sd", c.sd);
  put("pc25", c.pc25);
  put("pc50", c.pc50);
  put("pc75", c.pc75);
  put("minDate", c.minDate);
  put("maxDate", c.maxDate);
  put("meanDate", c.meanDate);
  put("sdDate", c.sdDate);
  put("pc25Date", c.pc25Date);
  put("pc50Date", c.pc50Date);
  put("pc75Date", c.pc75Date);
  return j;
}

namespace {

RegisterCommand info{{"info", "Describe a workspace as JSON", [](CLI::App& app) {
                        auto file = std::make_shared<std::string>();
                        app.add_option("WORKSPACE", *file, "Workspace file (.tbx)")->required();
                        return [file]() {
                          Model model;
                          openExistingWorkspace(model, *file);
                          nlohmann::json metadata = nlohmann::json::object();
                          for (Metadata* m : model.context().allMetadata())
                            if (m->key) metadata[*m->key] = m->value ? nlohmann::json(*m->value) : nlohmann::json();
                          nlohmann::json out = {{"statusLine", model.statusLine(false)},
                                                {"statusLineTablet", model.statusLine(true)},
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
                               openExistingWorkspace(model, *file);
                               nlohmann::json out = nlohmann::json::array();
                               for (Column* c : columns(model)) out.push_back(variableJson(*c));
                               std::cout << out.dump() << "\n";
                               return 0;
                             };
                           }}};

}  // namespace
}  // namespace tabulix::cli
