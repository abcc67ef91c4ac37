// `tabulix recode W.tbx NEW --x NAME (--breaks B,... | --bins K |
// --quantiles K | --map OLD=NEW...) [--labels A,B,...]`: adds a Categorical
// variable recoded from another and prints it as `tabulix variables` does,
// with its groups and their counts.
#include <iostream>
#include <stdexcept>

#include "browse/level_edit.h"
#include "cli/commands.h"
#include "cli/variable_json.h"
#include "cli/variable_ref.h"
#include "cli/workspace_open.h"
#include "derive/recode.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"

namespace tabulix::cli {
namespace {

struct RecodeOptions {
  std::string file, name, x, breaks, labels;
  std::optional<uint32_t> bins, quantiles;
  std::vector<std::string> map;
};

RecodeDefinition definitionOf(const RecodeOptions& o) {
  RecodeDefinition d;
  int methods = !o.breaks.empty() + o.bins.has_value() + o.quantiles.has_value() + !o.map.empty();
  if (methods != 1) throw RecodeError("give exactly one of --breaks, --bins, --quantiles and --map");
  if (!o.breaks.empty()) {
    d.method = RecodeMethod::Breaks;
    for (const std::string& b : splitCommaList(o.breaks)) {
      std::optional<double> v = readConstant(b);
      if (!v) throw RecodeError("--breaks: \"" + b + "\" is not a number (use a point as decimal separator)");
      d.breaks.push_back(*v);
    }
  } else if (o.bins || o.quantiles) {
    d.method = o.bins ? RecodeMethod::Bins : RecodeMethod::Quantiles;
    d.groups = o.bins ? *o.bins : *o.quantiles;
  } else {
    d.method = RecodeMethod::Map;
    for (const std::string& m : o.map) {
      size_t eq = m.find('=');
      if (eq == std::string::npos) throw RecodeError("--map \"" + m + "\": expected OLD=NEW");
      d.mapping.push_back({m.substr(0, eq), m.substr(eq + 1)});
    }
  }
  if (!o.labels.empty()) d.labels = splitCommaList(o.labels);
  return d;
}

int run(const RecodeOptions& o) {
  Model model;
  openExistingWorkspace(model, o.file);
  if (countColumns(model) >= kMaxVariables) throw std::runtime_error(variableLimitMessage());
  if (o.name.empty()) throw std::runtime_error(tr("Please provide a name for the new variable"));
  if (!nameIsValid(model, o.name))
    throw std::runtime_error(
        fillPlaceholders(tr("Another variable already exists with the name %@"), {o.name}));
  Column* x = variableNamed(model, o.x, "--x");
  RecodeDefinition d = definitionOf(o);

  RecodedColumn values;
  {
    Model worker(model.coordinator());
    Column* wx = worker.context().existingColumn(x->objectID);
    values = recodeColumnValues(worker, *wx, d);
  }
  Column* column = applyRecodedColumn(model, o.name, values, d, o.x);
  if (model.context().hasChanges()) {
    std::cerr << "tabulix recode: " << o.file << ": the workspace could not be saved\n";
    return 1;
  }
  nlohmann::json printed = variableJson(*column);
  printed["groups"] = values.levels;
  printed["counts"] = values.counts;
  printed["missing"] = values.missing;
  std::cout << printed.dump() << "\n";
  return 0;
}

RegisterCommand recode{
    {"recode", "Add a Categorical variable recoded from another and print it as JSON", [](CLI::App& app) {
       auto o = std::make_shared<RecodeOptions>();
       app.add_option("WORKSPACE", o->file, "Workspace file (.tbx)")->required();
       app.add_option("NAME", o->name, "Name of the new variable")->required();
       app.add_option("--x", o->x, "The variable to recode")->required();
       app.add_option("--breaks", o->breaks,
                      "Cut a Numeric variable at B1,B2,...: groups < B1, [B1, B2), ..., >= Bk");
       app.add_option("--bins", o->bins, "Cut a Numeric variable into K equal-width groups");
       app.add_option("--quantiles", o->quantiles,
                      "Cut a Numeric variable into K groups at its quantiles (R type 7)");
       app.add_option("--map", o->map,
                      "Map a value to a new label, OLD=NEW (repeatable; NEW empty: missing)");
       app.add_option("--labels", o->labels,
                      "Names of the groups of --breaks, --bins or --quantiles, A,B,...");
       return [o]() { return run(*o); };
     }}};

}  // namespace
}  // namespace tabulix::cli
