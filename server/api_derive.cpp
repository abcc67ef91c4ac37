// The API of the derived-variable editor: what the editor offers (the
// transformations, the Numeric variables, a proposed name) and the creation,
// computed on a worker Model and applied by the shared Model under its lock.
#include <algorithm>
#include <cmath>

#include "derive/derive.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"
#include "server/server_impl.h"
#include "server/variable_cards.h"

namespace tabulix::server {

namespace {

void requireRoom(Model& m) {
  if (!m.currentStore()) throw ApiError(409, {{"error", "no workspace is open"}});
  if (countColumns(m) >= kMaxVariables) throw variableLimitError();
}

// A chosen variable: absent, or a Numeric variable of the open workspace.
Column* numericColumn(Model& m, const nlohmann::json& body, const char* key) {
  if (!body.contains(key) || body[key].is_null()) return nullptr;
  if (!body[key].is_number_integer()) throw ApiError(400, {{"error", std::string("invalid ") + key}});
  Column* c = m.context().existingColumn({Entity::Column, body[key].get<int64_t>()});
  if (!c || c->type != static_cast<int32_t>(VariableType::Numeric))
    throw ApiError(404, {{"error", "no such Numeric variable"}});
  return c;
}

}  // namespace

void ServerImpl::routeDerive() {
  get("/api/derive", [this](const httplib::Request&) {
    return shared.run([&](Model& m) {
      requireRoom(m);
      nlohmann::json categories = nlohmann::json::array();
      for (const char* title : categoryTitles()) categories.push_back(tr(title));
      nlohmann::json list = nlohmann::json::array();
      for (const Transformation& t : transformations()) {
        list.push_back({{"code", t.code},
                        {"category", t.category},
                        {"label", tr(t.label)},
                        {"usesX", t.usesX},
                        {"usesY", t.usesY},
                        {"usesC", t.usesC},
                        {"preview", tr(t.preview)},
                        {"note", *t.note ? tr(t.note) : ""}});
      }
      nlohmann::json numeric = nlohmann::json::array();
      for (Column* c : columnsOfTypes(m, {VariableType::Numeric}))
        numeric.push_back({{"id", c->objectID.rowid}, {"name", c->name.value_or("")}});
      std::sort(numeric.begin(), numeric.end(),
                [](const nlohmann::json& a, const nlohmann::json& b) { return a["name"] < b["name"]; });
      nlohmann::json names = nlohmann::json::array();
      for (Column* c : m.context().allColumns())
        if (c->name) names.push_back(*c->name);
      return nlohmann::json{
          {"categories", categories}, {"transformations", list},         {"variables", numeric},
          {"names", names},           {"proposedName", proposedName(m)}, {"status", statusJson(m)}};
    });
  });

  post("/api/derive", [this](const httplib::Request& req) {
    nlohmann::json body = bodyJson(req);
    DeriveRequest request;
    if (body.contains("name") && body["name"].is_string())
      request.nameNewVar = body["name"].get<std::string>();
    if (body.contains("equation") && body["equation"].is_number_unsigned())
      request.equation = body["equation"].get<uint32_t>();
    const Transformation* t = transformationForCode(request.equation);
    if (!t) throw ApiError(400, {{"error", "unknown transformation"}});
    request.category = t->category;
    if (t->usesC && body.contains("c") && body["c"].is_number()) request.scalarC = body["c"].get<double>();
    if (request.scalarC && !std::isfinite(*request.scalarC)) request.scalarC.reset();

    int64_t xId = 0, yId = 0;
    uint64_t generation = 0;
    shared.run([&](Model& m) {
      requireRoom(m);
      if (t->usesX) request.column = numericColumn(m, body, "x");
      if (t->usesY) request.columnY = numericColumn(m, body, "y");
      std::string status = deriveStatus(m, request);
      if (!status.empty()) throw ApiError(409, {{"error", status}});
      xId = request.column ? request.column->objectID.rowid : 0;
      yId = request.columnY ? request.columnY->objectID.rowid : 0;
      generation = shared.generation();
    });

    std::string name = request.nameNewVar;
    uint32_t code = request.equation;
    double c = request.scalarC.value_or(0);
    auto job = startJob(req, "derive", [this, name, code, c, xId, yId, generation](Job& job) {
      std::shared_ptr<Model> background = workerFor(generation);
      if (!background) {
        job.finish({{"error", tr("The workspace was closed before the variable was created.")}});
        return;
      }
      Context& ctx = background->context();
      Column* x = xId ? ctx.existingColumn({Entity::Column, xId}) : nullptr;
      Column* y = yId ? ctx.existingColumn({Entity::Column, yId}) : nullptr;
      nlohmann::json result;
      if ((xId && !x) || (yId && !y)) {
        result = {{"error", tr("Please select a variable to transform")}};
      } else {
        const uint64_t seed = freshRandomSeed();
        DerivedColumn values = deriveColumnValues(
            *background, x, y, c, valueFunctionForCode(code, xFiguresForColumn(*background, x), seed));
        ctx.reset();
        result = shared.run([&](Model& m) -> nlohmann::json {
          // The workspace may have changed while the values were computed.
          if (shared.generation() != generation || !m.currentStore())
            return {{"error", tr("The workspace was closed before the variable was created.")}};
          if (countColumns(m) >= kMaxVariables) return variableLimitError().body();
          DeriveRequest again;
          again.nameNewVar = name;
          again.equation = 334;  // the name rules only: c is given below
          again.scalarC = 0;
          if (std::string status = deriveStatus(m, again); !status.empty()) return {{"error", status}};
          // The variable and the seed kept for it are one step.
          StepScope step(m.context(), fillPlaceholders(tr("derive %@"), {name}));
          Column* column = applyDerivedColumn(m, name, values);
          // The seed of random draws is kept with the variable, for its detail.
          if (drawsRandomNumbers(code)) {
            try {
              m.setMetadataValue(std::to_string(seed), randomSeedKey(name));
            } catch (const std::exception&) {
              // reported like any failed save below
            }
          }
          bool saved = !m.context().hasChanges();
          return {{"card", toJson(cardFromCache(*column))},
                  {"saved", saved},
                  {"canAdd", countColumns(m) < kMaxVariables},
                  {"status", statusJson(m)}};
        });
      }
      job.finish(result);
    });
    return nlohmann::json{{"job", job->id()}};
  });
}

}  // namespace tabulix::server
