#include "cli/variable_ref.h"

#include <charconv>
#include <vector>

#include "engine/workspace_data.h"

namespace tabulix::cli {

bool isNumberReference(const std::string& ref) {
  return ref.size() > 1 && ref.size() < 12 && ref[0] == '#' &&
         ref.find_first_not_of("0123456789", 1) == std::string::npos;
}

Column* findVariable(Model& model, const std::string& ref, const std::string& option) {
  if (isNumberReference(ref)) {
    uint64_t n = 0;
    std::from_chars(ref.data() + 1, ref.data() + ref.size(), n);
    if (n > INT32_MAX) return nullptr;
    return columnNumber(model, static_cast<uint32_t>(n));
  }
  std::vector<Column*> found;
  for (Column* c : columns(model))
    if (c->name && *c->name == ref && c->num) found.push_back(c);
  if (found.size() > 1) {
    std::string nums;
    for (Column* c : found) nums += (nums.empty() ? "#" : ", #") + std::to_string(*c->num);
    throw VariableRefError(option + ": " + std::to_string(found.size()) + " variables are named \"" + ref +
                           "\" (" + nums + "): name one by its number");
  }
  return found.empty() ? nullptr : found.front();
}

Column* variableNamed(Model& model, const std::string& ref, const std::string& option) {
  if (Column* c = findVariable(model, ref, option)) return c;
  if (isNumberReference(ref)) throw VariableRefError(option + ": no variable numbered " + ref.substr(1));
  throw VariableRefError(option + ": no variable named \"" + ref + "\"");
}

}  // namespace tabulix::cli
