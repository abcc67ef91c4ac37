// `tabulix edit W.tbx [--set ROW:NAME=TEXT]... [--rename OLD=NEW]...
// [--add-rows N] [--add-variable]... [--levels NAME=A,B,...]...`: one editing session. The edits are
// checked in order against the workspace first, so that a bad one changes
// nothing; then they are made, and leaving edit mode saves, recomputes the
// statistics and types of the edited variables and saves again.
#include <charconv>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "browse/edit_session.h"
#include "browse/level_edit.h"
#include "cli/commands.h"
#include "cli/variable_json.h"
#include "cli/workspace_open.h"
#include "engine/cell_access.h"
#include "engine/workspace_data.h"

namespace tabulix::cli {
namespace {

struct Step {
  enum Kind { Set, Rename, AddRows, AddVariable } kind;
  std::string a, b;  // Set: row, name / Rename: old, new
  std::string text;  // Set: the text
  uint32_t count = 0;
};

Step parseSet(const std::string& arg) {
  size_t colon = arg.find(':');
  size_t eq = colon == std::string::npos ? std::string::npos : arg.find('=', colon + 1);
  if (colon == std::string::npos || eq == std::string::npos)
    throw EditError("--set \"" + arg + "\": expected ROW:NAME=TEXT");
  return {Step::Set, arg.substr(0, colon), arg.substr(colon + 1, eq - colon - 1), arg.substr(eq + 1)};
}

Step parseRename(const std::string& arg) {
  size_t eq = arg.find('=');
  if (eq == std::string::npos) throw EditError("--rename \"" + arg + "\": expected OLD=NEW");
  return {Step::Rename, arg.substr(0, eq), arg.substr(eq + 1), {}};
}

std::optional<int32_t> wholeNumber(const std::string& s) {
  int32_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return v;
}

RegisterCommand editCommand{
    {"edit", "Edit cells, rename and add variables and rows, as one editing session", [](CLI::App& app) {
       auto file = std::make_shared<std::string>();
       auto sets = std::make_shared<std::vector<std::string>>();
       auto renames = std::make_shared<std::vector<std::string>>();
       auto addRowsCount = std::make_shared<uint32_t>(0);
       app.add_option("WORKSPACE", *file, "Workspace file (.tbx)")->required();
       auto* setOpt = app.add_option("--set", *sets, "Set a cell: ROW:NAME=TEXT (empty TEXT empties it)");
       auto* renameOpt = app.add_option("--rename", *renames, "Rename a variable: OLD=NEW");
       auto* rowsOpt = app.add_option("--add-rows", *addRowsCount, "Add N empty rows");
       auto addVariables = std::make_shared<int>(0);
       auto* varFlag = app.add_flag("--add-variable", *addVariables, "Add an empty variable (repeatable)");
       auto levelOrders = std::make_shared<std::vector<std::string>>();
       app.add_option("--levels", *levelOrders,
                      "Order a variable's levels: NAME=A,B,... (levels not named follow; NAME= clears)");
       return [&app, file, sets, renames, addRowsCount, addVariables, setOpt, renameOpt, rowsOpt, varFlag,
               levelOrders]() {
         // The steps in the order they were given.
         std::vector<Step> steps;
         size_t nextSet = 0, nextRename = 0;
         for (CLI::Option* opt : app.parse_order()) {
           if (opt == setOpt) steps.push_back(parseSet((*sets)[nextSet++]));
           if (opt == renameOpt) steps.push_back(parseRename((*renames)[nextRename++]));
           if (opt == rowsOpt) steps.push_back({Step::AddRows, {}, {}, {}, *addRowsCount});
           if (opt == varFlag) steps.push_back({Step::AddVariable, {}, {}, {}, 0});
         }
         Model model;
         openExistingWorkspace(model, *file);

         // Check every step against the workspace as the earlier steps leave it.
         std::map<std::string, int32_t> numOfName;
         int32_t nextNum = 0;
         for (Column* c : columns(model)) {
           if (c->name) numOfName[*c->name] = c->num.value_or(-1);
           nextNum = std::max(nextNum, c->num.value_or(-1) + 1);
         }
         std::set<int32_t> rowNums;
         for (Row* r : rows(model))
           if (r->num) rowNums.insert(*r->num);
         size_t variables = numOfName.size();
         struct Planned {
           Step step;
           int32_t colNum, rowNum;
         };
         std::vector<Planned> plan;
         for (const Step& s : steps) {
           switch (s.kind) {
             case Step::Set: {
               auto row = wholeNumber(s.a);
               if (!row || !rowNums.count(*row)) throw EditError("--set: no row " + s.a);
               auto it = numOfName.find(s.b);
               if (it == numOfName.end()) throw EditError("--set: no variable named \"" + s.b + "\"");
               plan.push_back({s, it->second, *row});
               break;
             }
             case Step::Rename: {
               auto it = numOfName.find(s.a);
               if (it == numOfName.end()) throw EditError("--rename: no variable named \"" + s.a + "\"");
               if (s.b.empty()) throw EditError("--rename \"" + s.a + "=\": a name cannot be empty");
               if (s.b != s.a && numOfName.count(s.b))
                 throw EditError("--rename \"" + s.a + "=" + s.b + "\": another variable is named \"" + s.b +
                                 "\"");
               int32_t num = it->second;
               numOfName.erase(it);
               numOfName[s.b] = num;
               plan.push_back({s, num, 0});
               break;
             }
             case Step::AddRows: {
               // The limits the server's Browse screen keeps: a workspace
               // past them would not open again.
               if (rowNums.size() + s.count > kMaxWorkspaceRows)
                 throw EditError("--add-rows " + std::to_string(s.count) + ": " + rowLimitMessage());
               int32_t last = rowNums.empty() ? 0 : *rowNums.rbegin();
               for (uint32_t i = 1; i <= s.count; ++i) rowNums.insert(last + static_cast<int32_t>(i));
               plan.push_back({s, 0, 0});
               break;
             }
             case Step::AddVariable: {
               if (++variables > kMaxVariables) throw EditError("--add-variable: " + variableLimitMessage());
               numOfName["Var" + std::to_string(nextNum + 1)] = nextNum;
               plan.push_back({s, nextNum++, 0});
               break;
             }
           }
         }

         // Level orders name variables as the other steps leave them and
         // list texts the variable holds, stored or set by this session.
         std::vector<std::pair<int32_t, std::vector<std::string>>> orders;
         for (const std::string& arg : *levelOrders) {
           size_t eq = arg.find('=');
           if (eq == std::string::npos) throw EditError("--levels \"" + arg + "\": expected NAME=A,B,...");
           const std::string name = arg.substr(0, eq);
           auto it = numOfName.find(name);
           if (it == numOfName.end()) throw EditError("--levels: no variable named \"" + name + "\"");
           std::set<std::string, std::less<>> known;
           if (Column* c = columnNumber(model, static_cast<uint32_t>(it->second)))
             for (auto& [text, count] : frequenciesOfColumn(model, *c)) known.insert(text);
           for (const Planned& p : plan)
             if (p.step.kind == Step::Set && p.colNum == it->second) known.insert(p.step.text);
           orders.push_back({it->second, splitCommaList(arg.substr(eq + 1))});
           for (const std::string& l : orders.back().second)
             if (!known.count(l))
               throw EditError("--levels: \"" + l + "\" is not a level of \"" + name + "\"");
         }

         // Make the edits: renames and additions are stored at once, cell
         // edits when the session ends.
         EditSession session;
         std::vector<int32_t> touched;
         for (const Planned& p : plan) {
           switch (p.step.kind) {
             case Step::Set:
               session.editCell(model, p.colNum, p.rowNum, p.step.text);
               break;
             case Step::Rename:
               renameVariable(model, p.colNum, p.step.b);
               touched.push_back(p.colNum);
               break;
             case Step::AddRows:
               addRows(model, p.step.count);
               break;
             case Step::AddVariable:
               addVariable(model);
               touched.push_back(p.colNum);
               break;
           }
         }
         for (int32_t num : endEditing(model, session)) touched.push_back(num);
         for (const auto& [num, levels] : orders) {
           setLevelOrder(model, num, levels, false);
           touched.push_back(num);
         }
         std::set<int32_t> seen;
         nlohmann::json out = nlohmann::json::array();
         for (int32_t num : touched)
           if (seen.insert(num).second)
             if (Column* c = columnNumber(model, static_cast<uint32_t>(num))) out.push_back(variableJson(*c));
         std::cout << out.dump() << "\n";
         return 0;
       };
     }}};

}  // namespace
}  // namespace tabulix::cli
