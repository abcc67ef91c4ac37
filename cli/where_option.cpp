#include "cli/where_option.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "cli/variable_ref.h"
#include "engine/workspace_data.h"

namespace tabulix::cli {

namespace {

// Operator spellings accepted on the command line.
std::optional<uint64_t> operatorCode(std::string token) {
  for (char& c : token)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  static const std::pair<const char*, uint64_t> table[] = {
      {"<", kOpLess},          {"<=", kOpLessEqual},      {"≤", kOpLessEqual}, {">", kOpGreater},
      {">=", kOpGreaterEqual}, {"≥", kOpGreaterEqual},    {"=", kOpEqual},     {"!=", kOpNotEqual},
      {"≠", kOpNotEqual},      {"contains", kOpContains}, {"in", kOpIn}};
  for (const auto& [text, code] : table)
    if (token == text) return code;
  return std::nullopt;
}

std::vector<std::string> splitLevels(const std::string& value) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    size_t bar = value.find('|', start);
    out.push_back(value.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return out;
}

// The operator at the front of the text after the variable: its code and
// how many characters it takes. "is missing" and "is not missing" take the
// whole rest (they have no value).
std::optional<std::pair<uint64_t, size_t>> operatorAt(const std::string& rest) {
  std::string lower = rest;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (lower == "is missing") return std::pair<uint64_t, size_t>{kOpIsMissing, rest.size()};
  if (lower == "is not missing") return std::pair<uint64_t, size_t>{kOpIsNotMissing, rest.size()};
  std::string token = rest.substr(0, rest.find(' '));
  if (auto op = operatorCode(token)) return std::pair<uint64_t, size_t>{*op, token.size()};
  return std::nullopt;
}

}  // namespace

WhereClauseObj parseWhereOption(Model& model, const std::string& text) {
  const std::string quoted = "--where \"" + text + "\": ";
  // "#N" names a variable by its number; otherwise names may hold spaces:
  // the longest name followed by a space and an operator wins.
  const Column* column = nullptr;
  size_t nameLength = 0;
  std::string firstToken = text.substr(0, text.find(' '));
  if (isNumberReference(firstToken) && text.size() > firstToken.size() &&
      operatorAt(text.substr(firstToken.size() + 1))) {
    column = variableNamed(model, firstToken, quoted.substr(0, quoted.size() - 2));
    nameLength = firstToken.size();
  }
  for (Column* c : column ? std::vector<Column*>{} : columns(model)) {
    if (!c->name || c->name->empty()) continue;
    const std::string& name = *c->name;
    if (text.size() > name.size() && text.compare(0, name.size(), name) == 0 && text[name.size()] == ' ' &&
        name.size() > nameLength && operatorAt(text.substr(name.size() + 1))) {
      column = c;
      nameLength = name.size();
    }
  }
  // A name two variables share is refused, as in every other option.
  if (column && !isNumberReference(firstToken))
    column = variableNamed(model, *column->name, quoted.substr(0, quoted.size() - 2));
  if (!column) {
    // Name what was taken for the variable: the text before the first operator.
    size_t pos = 0;
    std::string name = text;
    while (pos < text.size()) {
      size_t space = text.find(' ', pos);
      if (space == std::string::npos) break;
      if (operatorAt(text.substr(space + 1))) {
        name = text.substr(0, space);
        break;
      }
      pos = space + 1;
    }
    if (name == text) throw WhereOptionError(quoted + "expected NAME OP VALUE");
    if (isNumberReference(name)) throw WhereOptionError(quoted + "no variable numbered " + name.substr(1));
    throw WhereOptionError(quoted + "no variable named \"" + name + "\"");
  }
  std::string rest = text.substr(nameLength + 1);
  auto [opCode, opLength] = *operatorAt(rest);
  std::string opText = rest.substr(0, opLength);
  std::string value = opLength < rest.size() ? rest.substr(opLength + 1) : std::string();
  WhereClauseObj where;
  where.colNum = *column->num;
  where.op = opCode;
  const int t = column->type.value_or(0);
  const VariableType type = t >= 1 && t <= 4 ? static_cast<VariableType>(t) : static_cast<VariableType>(0);
  auto offered = operatorsForType(type);
  if (std::find(offered.begin(), offered.end(), where.op) == offered.end())
    throw WhereOptionError(quoted + "the operator " + opText + " is not offered for " +
                           variableTypeName(type) + " variable \"" + *column->name + "\"");
  if (opTakesNoConstant(where.op)) return where;
  if (where.op == kOpIn) {
    where.levels.emplace();
    for (auto& level : splitLevels(value))
      if (!level.empty()) where.levels->insert(level);
  } else {
    where.constant = value;
  }
  if (!whereIsComplete(where)) throw WhereOptionError(quoted + "no value to compare with");
  if (!whereCanBeApplied(model, where, type)) {
    std::string bad = value;
    if (where.op == kOpIn)
      for (const auto& level : *where.levels) {
        WhereClauseObj one = where;
        one.levels = std::set<std::string>{level};
        if (!whereCanBeApplied(model, one, type)) {
          bad = level;
          break;
        }
      }
    throw WhereOptionError(quoted + "\"" + bad + "\" does not read as " +
                           (type == VariableType::DateTime ? "a date" : "a number") + " for variable \"" +
                           *column->name + "\"");
  }
  return where;
}

std::vector<WhereClauseObj> parseWhereOptions(Model& model, const std::vector<std::string>& texts) {
  std::vector<WhereClauseObj> out;
  for (const auto& t : texts) out.push_back(parseWhereOption(model, t));
  return out;
}

}  // namespace tabulix::cli
