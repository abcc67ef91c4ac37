// The --where option shared by every command that takes a filter:
// "NAME OP VALUE", OP one of < <= > >= = != contains in (or ≤ ≥ ≠), IN's
// levels separated by "|"; "NAME is missing" and "NAME is not missing". NAME
// may be "#N", the variable's number.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "analyses/filters.h"
#include "engine/model.h"

namespace tabulix::cli {

// A --where text that does not fit the workspace; the message names the part at fault.
struct WhereOptionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Reads one --where text against the open workspace's variables: the name
// must be a variable, the operator one its type offers, the value (each IN
// level) readable as its type. Throws WhereOptionError otherwise.
WhereClauseObj parseWhereOption(Model& model, const std::string& text);

// Reads every --where text in order.
std::vector<WhereClauseObj> parseWhereOptions(Model& model, const std::vector<std::string>& texts);

}  // namespace tabulix::cli
