#include "cli/variable_ref.h"

#include <charconv>

#include "engine/workspace_data.h"

namespace tabulix::cli {

std::string sharedNameMessage(const std::string& option, const std::string& name,
                              const std::vector<int32_t>& nums) {
  std::string list;
  for (int32_t n : nums) list += (list.empty() ? "#" : ", #") + std::to_string(n);
  return option + ": " + std::to_string(nums.size()) + " variables are named \"" + name + "\" (" + list +
         "): name one by its number";
}

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
  std::vector<int32_t> nums;
  for (Column* c : columns(model))
    if (c->name && *c->name == ref && c->num) {
      found.push_back(c);
      nums.push_back(*c->num);
    }
  if (found.size() > 1) throw VariableRefError(sharedNameMessage(option, ref, nums));
  return found.empty() ? nullptr : found.front();
}

Column* variableNamed(Model& model, const std::string& ref, const std::string& option) {
  if (Column* c = findVariable(model, ref, option)) return c;
  if (isNumberReference(ref)) throw VariableRefError(option + ": no variable numbered " + ref.substr(1));
  throw VariableRefError(option + ": no variable named \"" + ref + "\"");
}

}  // namespace tabulix::cli
