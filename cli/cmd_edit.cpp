// `tabulix edit W.tbx [--set ROW:NAME=TEXT]... [--rename OLD=NEW]...
// [--add-rows N] [--add-variable]... [--delete-variable NAME]...
// [--delete-rows LIST]... [--force] [--type NAME=TYPE]... [--missing NAME=CODES]...
// [--levels NAME=A,B,...]...`: one editing session. The edits are checked in
// order against the workspace first, so that a bad one changes nothing; then
// they are made, and leaving edit mode saves, recomputes the statistics and
// types of the edited variables and saves again. Types, missing-value codes
// and level orders apply after the cell edits, so that a type given with
// edits of the same variable is the one it keeps.
#include <charconv>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "browse/edit_session.h"
#include "browse/level_edit.h"
#include "browse/variable_edit.h"
#include "cli/commands.h"
#include "cli/variable_json.h"
#include "cli/variable_ref.h"
#include "cli/workspace_open.h"
#include "engine/cell_access.h"
#include "engine/missing_codes.h"
#include "engine/workspace_data.h"

namespace tabulix::cli {
namespace {

struct Step {
  enum Kind { Set, Rename, AddRows, AddVariable, DeleteVariable, DeleteRows, Type, Missing, Levels } kind;
  std::string a, b;  // Set: row, name / Rename: old, new / others: name, value
  std::string text;  // Set: the text
  uint32_t count = 0;
};

// Splits "LEFT<sep>RIGHT" at the first separator.
std::pair<std::string, std::string> splitAt(const std::string& arg, char sep, const std::string& option,
                                            const char* form) {
  size_t at = arg.find(sep);
  if (at == std::string::npos) throw EditError(option + " \"" + arg + "\": expected " + form);
  return {arg.substr(0, at), arg.substr(at + 1)};
}

Step parseSet(const std::string& arg) {
  size_t colon = arg.find(':');
  size_t eq = colon == std::string::npos ? std::string::npos : arg.find('=', colon + 1);
  if (colon == std::string::npos || eq == std::string::npos)
    throw EditError("--set \"" + arg + "\": expected ROW:NAME=TEXT");
  return {Step::Set, arg.substr(0, colon), arg.substr(colon + 1, eq - colon - 1), arg.substr(eq + 1)};
}

std::optional<int32_t> wholeNumber(const std::string& s) {
  int32_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return v;
}

// The variables as the steps checked so far leave them: number and name.
struct Variables {
  std::map<int32_t, std::string> nameOf;

  // The number a reference names: "#N", or a name exactly one variable has.
  int32_t resolve(const std::string& ref, const std::string& option) const {
    if (isNumberReference(ref)) {
      auto n = wholeNumber(ref.substr(1));
      if (n && nameOf.count(*n)) return *n;
      throw EditError(option + ": no variable numbered " + ref.substr(1));
    }
    std::vector<int32_t> found;
    for (const auto& [num, name] : nameOf)
      if (name == ref) found.push_back(num);
    if (found.empty()) throw EditError(option + ": no variable named \"" + ref + "\"");
    if (found.size() > 1) throw EditError(sharedNameMessage(option, ref, found));
    return found.front();
  }
  bool taken(const std::string& name, int32_t except) const {
    for (const auto& [num, n] : nameOf)
      if (num != except && n == name) return true;
    return false;
  }
};

RegisterCommand editCommand{
    {"edit", "Edit cells, rename, add and delete variables and rows, as one editing session",
     [](CLI::App& app) {
       struct Options {
         std::string file;
         std::vector<std::string> sets, renames, deletes, rowLists, types, missing, levels;
         uint32_t addRows = 0;
         int addVariables = 0;
         bool force = false;
       };
       auto o = std::make_shared<Options>();
       app.add_option("WORKSPACE", o->file, "Workspace file (.tbx)")->required();
       auto* setOpt = app.add_option("--set", o->sets, "Set a cell: ROW:NAME=TEXT (empty TEXT empties it)");
       auto* renameOpt = app.add_option("--rename", o->renames, "Rename a variable: OLD=NEW");
       auto* rowsOpt = app.add_option("--add-rows", o->addRows, "Add N empty rows");
       auto* varFlag = app.add_flag("--add-variable", o->addVariables, "Add an empty variable (repeatable)");
       auto* deleteOpt = app.add_option("--delete-variable", o->deletes,
                                        "Delete a variable (one used by saved analyses needs --force)");
       auto* deleteRowsOpt =
           app.add_option("--delete-rows", o->rowLists, "Delete rows: numbers and ranges, such as 3,7-9");
       app.add_flag("--force", o->force, "Delete variables that saved analyses use (they lose them)");
       auto* typeOpt = app.add_option(
           "--type", o->types, "Give a variable a type: NAME=Categorical|Binary|Numeric|\"Date / Time\"");
       auto* missingOpt = app.add_option("--missing", o->missing,
                                         "Declare missing-value codes: NAME=999,-1 (NAME= clears them)");
       auto* levelsOpt = app.add_option("--levels", o->levels,
                                        "Order a variable's levels: NAME=A,B,... (levels not named follow; "
                                        "NAME= clears)");
       // Every option naming a variable also takes "#N", its number.
       return [&app, o, setOpt, renameOpt, rowsOpt, varFlag, deleteOpt, deleteRowsOpt, typeOpt, missingOpt,
               levelsOpt]() {
         // The steps in the order they were given.
         std::vector<Step> steps;
         std::map<CLI::Option*, size_t> next;
         auto take = [&](CLI::Option* opt, std::vector<std::string>& values) -> const std::string& {
           return values[next[opt]++];
         };
         for (CLI::Option* opt : app.parse_order()) {
           if (opt == setOpt) steps.push_back(parseSet(take(opt, o->sets)));
           if (opt == renameOpt) {
             auto [a, b] = splitAt(take(opt, o->renames), '=', "--rename", "OLD=NEW");
             steps.push_back({Step::Rename, a, b, {}});
           }
           if (opt == rowsOpt) steps.push_back({Step::AddRows, {}, {}, {}, o->addRows});
           if (opt == varFlag) steps.push_back({Step::AddVariable, {}, {}, {}, 0});
           if (opt == deleteOpt) steps.push_back({Step::DeleteVariable, take(opt, o->deletes), {}, {}});
           if (opt == deleteRowsOpt) steps.push_back({Step::DeleteRows, take(opt, o->rowLists), {}, {}});
           if (opt == typeOpt) {
             auto [a, b] = splitAt(take(opt, o->types), '=', "--type", "NAME=TYPE");
             steps.push_back({Step::Type, a, b, {}});
           }
           if (opt == missingOpt) {
             auto [a, b] = splitAt(take(opt, o->missing), '=', "--missing", "NAME=CODE,...");
             steps.push_back({Step::Missing, a, b, {}});
           }
           if (opt == levelsOpt) {
             auto [a, b] = splitAt(take(opt, o->levels), '=', "--levels", "NAME=A,B,...");
             steps.push_back({Step::Levels, a, b, {}});
           }
         }
         Model model;
         openExistingWorkspace(model, o->file);

         // Check every step against the workspace as the earlier steps leave it.
         Variables vars;
         int32_t nextNum = 0;
         for (Column* c : columns(model)) {
           if (c->num) vars.nameOf[*c->num] = c->name.value_or("");
           nextNum = std::max(nextNum, c->num.value_or(-1) + 1);
         }
         std::vector<int32_t> rowNums;  // ascending
         for (Row* r : rows(model))
           if (r->num) rowNums.push_back(*r->num);
         std::sort(rowNums.begin(), rowNums.end());
         struct Planned {
           Planned(Step s, int32_t col, int32_t row) : step(std::move(s)), colNum(col), rowNum(row) {}
           Step step;
           int32_t colNum;
           int32_t rowNum;
           std::vector<int32_t> rows;       // DeleteRows
           std::vector<std::string> items;  // Missing, Levels
           VariableType type = VariableType::Unknown;
         };
         std::vector<Planned> plan;
         for (const Step& s : steps) {
           switch (s.kind) {
             case Step::Set: {
               auto row = wholeNumber(s.a);
               if (!row || !std::binary_search(rowNums.begin(), rowNums.end(), *row))
                 throw EditError("--set: no row " + s.a);
               plan.push_back({s, vars.resolve(s.b, "--set"), *row});
               break;
             }
             case Step::Rename: {
               int32_t num = vars.resolve(s.a, "--rename");
               if (s.b.empty()) throw EditError("--rename \"" + s.a + "=\": a name cannot be empty");
               if (vars.taken(s.b, num))
                 throw EditError("--rename \"" + s.a + "=" + s.b + "\": another variable is named \"" + s.b +
                                 "\"");
               vars.nameOf[num] = s.b;
               plan.push_back({s, num, 0});
               break;
             }
             case Step::AddRows: {
               // The limits the server's Browse screen keeps: a workspace
               // past them would not open again.
               if (rowNums.size() + s.count > kMaxWorkspaceRows)
                 throw EditError("--add-rows " + std::to_string(s.count) + ": " + rowLimitMessage());
               int32_t last = rowNums.empty() ? 0 : rowNums.back();
               for (uint32_t i = 1; i <= s.count; ++i) rowNums.push_back(last + static_cast<int32_t>(i));
               plan.push_back({s, 0, 0});
               break;
             }
             case Step::AddVariable: {
               if (vars.nameOf.size() + 1 > kMaxVariables)
                 throw EditError("--add-variable: " + variableLimitMessage());
               vars.nameOf[nextNum] = "Var" + std::to_string(nextNum + 1);
               plan.push_back({s, nextNum++, 0});
               break;
             }
             case Step::DeleteVariable: {
               int32_t num = vars.resolve(s.a, "--delete-variable");
               if (Column* c = columnNumber(model, static_cast<uint32_t>(num)); c && !o->force) {
                 auto users = analysesUsingVariable(model, *c);
                 if (!users.empty())
                   throw EditError("--delete-variable " + s.a + ": the saved analyses " +
                                   analysisNames(model, users) +
                                   " use it; give --force to delete it and take it out of them");
               }
               vars.nameOf.erase(num);
               // Edits held for it, and settings for it, go with it.
               std::erase_if(plan, [&](const Planned& p) {
                 return p.colNum == num && (p.step.kind == Step::Set || p.step.kind == Step::Type ||
                                            p.step.kind == Step::Missing || p.step.kind == Step::Levels);
               });
               plan.push_back({s, num, 0});
               break;
             }
             case Step::DeleteRows: {
               Planned p{s, 0, 0};
               try {
                 p.rows = parseRowList(s.a);
               } catch (const EditError& e) {
                 throw EditError("--delete-rows " + s.a + ": " + e.what());
               }
               for (int32_t r : p.rows)
                 if (!std::binary_search(rowNums.begin(), rowNums.end(), r))
                   throw EditError("--delete-rows " + s.a + ": no row " + std::to_string(r));
               rowNums.resize(rowNums.size() - p.rows.size());
               plan.push_back(std::move(p));
               break;
             }
             case Step::Type: {
               Planned p{s, vars.resolve(s.a, "--type"), 0};
               p.type = variableTypeNamed(s.b);
               if (p.type == VariableType::Unknown)
                 throw EditError("--type \"" + s.a + "=" + s.b +
                                 "\": the types are Categorical, Binary, Numeric and \"Date / Time\"");
               // A variable no earlier step changes is checked now, so that a
               // refused type changes nothing; the others once their edits are in.
               bool changedBefore = std::any_of(plan.begin(), plan.end(), [&](const Planned& q) {
                 return q.step.kind == Step::DeleteRows || q.step.kind == Step::AddVariable ||
                        (q.colNum == p.colNum && (q.step.kind == Step::Set || q.step.kind == Step::Missing));
               });
               if (Column* c = columnNumber(model, static_cast<uint32_t>(p.colNum)); c && !changedBefore)
                 if (auto allowed = typeRefusedFor(model, *c, p.type))
                   throw EditError("--type " + s.a + ": \"" + vars.nameOf.at(p.colNum) + "\" cannot be " +
                                   variableTypeName(p.type) + "; its types are " + *allowed);
               plan.push_back(std::move(p));
               break;
             }
             case Step::Missing: {
               Planned p{s, vars.resolve(s.a, "--missing"), 0};
               p.items = splitCommaList(s.b);
               if (p.items.size() > kMaxMissingCodes)
                 throw EditError("--missing " + s.a + ": at most " + std::to_string(kMaxMissingCodes) +
                                 " codes");
               plan.push_back(std::move(p));
               break;
             }
             case Step::Levels: {
               Planned p{s, vars.resolve(s.a, "--levels"), 0};
               p.items = splitCommaList(s.b);
               plan.push_back(std::move(p));
               break;
             }
           }
         }

         // Level orders list texts the variable holds, stored or set by this session.
         for (const Planned& p : plan) {
           if (p.step.kind != Step::Levels) continue;
           std::set<std::string, std::less<>> known;
           if (Column* c = columnNumber(model, static_cast<uint32_t>(p.colNum)))
             for (auto& [text, count] : frequenciesOfColumn(model, *c)) known.insert(text);
           for (const Planned& q : plan)
             if (q.step.kind == Step::Set && q.colNum == p.colNum) known.insert(q.step.text);
           for (const std::string& l : p.items)
             if (!known.count(l))
               throw EditError("--levels: \"" + l + "\" is not a level of \"" + p.step.a + "\"");
         }

         // Make the edits: renames, additions and deletions are stored at
         // once, cell edits when the session ends (or before rows move).
         EditSession session;
         std::vector<int32_t> touched;
         std::set<int32_t> deleted;
         bool rowsDeleted = false;
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
             case Step::DeleteVariable:
               deleteVariable(model, p.colNum);
               deleted.insert(p.colNum);
               break;
             case Step::DeleteRows:
               // The held edits name rows as they were before this step.
               deleteRows(model, p.rows, &session);
               rowsDeleted = true;
               break;
             default:
               break;
           }
         }
         for (int32_t num : endEditing(model, session)) touched.push_back(num);
         for (auto kind : {Step::Missing, Step::Type, Step::Levels})
           for (const Planned& p : plan) {
             if (p.step.kind != kind) continue;
             if (kind == Step::Missing) setMissingCodes(model, p.colNum, p.items);
             if (kind == Step::Type) {
               try {
                 changeVariableType(model, p.colNum, p.type);
               } catch (const EditError& e) {
                 // Types rest on the figures the edits above left.
                 throw EditError(std::string("--type: ") + e.what() + " (the other edits were made)");
               }
             }
             if (kind == Step::Levels) setLevelOrder(model, p.colNum, p.items, false);
             touched.push_back(p.colNum);
           }
         if (rowsDeleted)
           for (Column* c : columns(model)) touched.push_back(c->num.value_or(-1));
         std::set<int32_t> seen;
         nlohmann::json out = nlohmann::json::array();
         for (int32_t num : touched)
           if (!deleted.count(num) && seen.insert(num).second)
             if (Column* c = columnNumber(model, static_cast<uint32_t>(num))) out.push_back(variableJson(*c));
         std::cout << out.dump() << "\n";
         return 0;
       };
     }}};

}  // namespace
}  // namespace tabulix::cli
