// Managing variables and rows beyond cell edits: a chosen type, missing-value
// codes, deleting variables (with the saved analyses that use them named
// first) and deleting rows. Each change is stored at once, like a rename,
// by the model that owns the workspace.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "browse/edit_session.h"
#include "engine/model.h"
#include "engine/variable_type.h"

namespace tabulix {

// When `type` is not one of the types `variableTypesForColumn` offers for
// the variable (its cached counts brought up to date first), those types'
// names joined by ", "; nothing when it is.
std::optional<std::string> typeRefusedFor(Model& model, Column& column, VariableType type);

// Gives a variable one of the types `variableTypesForColumn` offers for it
// and saves; the figures are computed first when the cache is stale. Throws
// EditError naming the allowed types for any other. The type lasts until the
// variable's cells are next edited, which guesses it again.
void changeVariableType(Model& model, int32_t colNum, VariableType type);

// The variable types a type name means: "Categorical", "Binary", "Numeric",
// "Date / Time" (or "DateTime"), ignoring case; Unknown for anything else.
VariableType variableTypeNamed(const std::string& name);

// Declares the texts that mean "missing" in a variable (an empty list clears
// them), recomputes its figures and guesses its type again (its values are
// not what they were), and saves. Throws EditError past kMaxMissingCodes.
void setMissingCodes(Model& model, int32_t colNum, const std::vector<std::string>& codes);

// The saved analyses that use a variable in a position or a filter, newest first.
std::vector<Analysis*> analysesUsingVariable(Model& model, const Column& column);

// Analyses named for a confirmation: each one's list title and id.
std::string analysisNames(Model& model, const std::vector<Analysis*>& list);

// Deletes a variable with its cells and saves; the saved analyses that used
// it lose it (their positions empty, their conditions on it deleted).
void deleteVariable(Model& model, int32_t colNum);

// Reads "3,7-9" into ascending, distinct row numbers; throws EditError for
// anything else (the message quotes the bad part).
std::vector<int32_t> parseRowList(const std::string& text);

// Deletes rows (ascending numbers, each one of the workspace) and saves; the
// later rows move up. An editing session's pending cell edits, which name
// rows as they were, are stored first. Every variable's figures are
// computed again; the types stay as they are, but for the variables the
// session edited, which are guessed again. Throws EditError naming a row the
// workspace lacks.
void deleteRows(Model& model, const std::vector<int32_t>& rowNums, EditSession* pending = nullptr);

}  // namespace tabulix
