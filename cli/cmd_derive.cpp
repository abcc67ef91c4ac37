// `tabulix derive`: adds a derived variable to a workspace, as the editor
// does, and prints it as `tabulix variables` prints a variable.
#include <iostream>
#include <optional>
#include <stdexcept>

#include "cli/commands.h"
#include "cli/variable_json.h"
#include "cli/variable_ref.h"
#include "cli/workspace_open.h"
#include "derive/derive.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"

namespace tabulix::cli {
namespace {

struct DeriveOptions {
  std::string file, name, code, x, y, c;
  std::optional<uint64_t> seed;
};

// The Numeric variable a reference names (the editor lists only those).
Column* numericColumnNamed(Model& model, const std::string& name, const char* option) {
  Column* c = findVariable(model, name, option);
  if (c && c->type == static_cast<int32_t>(VariableType::Numeric)) return c;
  if (c && isNumberReference(name))
    throw std::runtime_error(std::string(option) + ": variable " + name + " is not Numeric");
  throw std::runtime_error(std::string(option) + ": no Numeric variable named \"" + name + "\"");
}

const Transformation& transformationFor(const std::string& code) {
  const Transformation* t = transformationForLabel(code);
  if (!t && !code.empty() && code.find_first_not_of("0123456789") == std::string::npos && code.size() < 6)
    t = transformationForCode(static_cast<uint32_t>(std::stoul(code)));
  if (!t)
    throw std::runtime_error("unknown transformation \"" + code +
                             "\": give a code from 300 to 340 or a label such as log(x)");
  return *t;
}

int run(const DeriveOptions& o) {
  Model model;
  openExistingWorkspace(model, o.file);
  if (countColumns(model) >= kMaxVariables) throw std::runtime_error(variableLimitMessage());
  const Transformation& t = transformationFor(o.code);

  DeriveRequest request;
  request.nameNewVar = o.name;
  request.category = t.category;
  request.equation = t.code;
  if (!o.x.empty()) request.column = numericColumnNamed(model, o.x, "--x");
  if (!o.y.empty()) request.columnY = numericColumnNamed(model, o.y, "--y");
  if (!o.c.empty()) {
    request.scalarC = readConstant(o.c);
    if (!request.scalarC)
      throw std::runtime_error("--c: \"" + o.c + "\": " + tr("Please enter a numerical constant"));
  }
  // Inputs the transformation does not use are not passed on, as in the
  // editor, which hides their choosers.
  if (!t.usesX) request.column = nullptr;
  if (!t.usesY) request.columnY = nullptr;
  if (!t.usesC) request.scalarC.reset();
  std::string status = deriveStatus(model, request);
  if (!status.empty()) throw std::runtime_error(status);

  // The values are computed by a second Model reading the store, then added
  // by the Model that owns the workspace, which saves once.
  const uint64_t seed = o.seed.value_or(freshRandomSeed());
  DerivedColumn values;
  {
    Model worker(model.coordinator());
    Column* x = request.column ? worker.context().existingColumn(request.column->objectID) : nullptr;
    Column* y = request.columnY ? worker.context().existingColumn(request.columnY->objectID) : nullptr;
    XFigures figures = xFiguresForColumn(worker, x);
    values = deriveColumnValues(worker, x, y, request.scalarC.value_or(0),
                                valueFunctionForCode(t.code, figures, seed));
  }
  // The variable and the seed kept for it are one step.
  StepScope step(model.context(), fillPlaceholders(tr("derive %@"), {request.nameNewVar}));
  Column* column = applyDerivedColumn(model, request.nameNewVar, values);
  // The seed of random draws is kept with the variable (workspace metadata).
  if (drawsRandomNumbers(t.code))
    model.setMetadataValue(std::to_string(seed), randomSeedKey(request.nameNewVar));
  if (model.context().hasChanges()) {
    std::cerr << "tabulix derive: " << o.file << ": the workspace could not be saved\n";
    return 1;
  }
  nlohmann::json printed = variableJson(*column);
  if (drawsRandomNumbers(t.code)) printed["seed"] = seed;
  std::cout << printed.dump() << "\n";
  return 0;
}

RegisterCommand derive{
    {"derive", "Add a variable derived from others and print it as JSON", [](CLI::App& app) {
       auto o = std::make_shared<DeriveOptions>();
       app.add_option("WORKSPACE", o->file, "Workspace file (.tbx)")->required();
       app.add_option("NAME", o->name, "Name of the new variable")->required();
       app.add_option("CODE", o->code, "Transformation: code 300-340 or label, e.g. log(x)")->required();
       app.add_option("--x", o->x, "The x variable (a Numeric variable's name)");
       app.add_option("--y", o->y, "The y variable (a Numeric variable's name)");
       app.add_option("--c", o->c, "The constant c, with a point as decimal separator");
       app.add_option("--seed", o->seed, "Seed of the random draws (rand, normal), for reproducible values");
       return [o]() { return run(*o); };
     }}};

}  // namespace
}  // namespace tabulix::cli
