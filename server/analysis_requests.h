// Reading analysis requests from the page's bodies: the one parser of the
// variables, filter conditions and settings that the analysis routes share.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "analyses/analysis_kind.h"

namespace tabulix::server {

// The complete conditions of body[field] (none when absent or null); 400
// naming the field when it is not a list of {colNum, op, constant, levels}.
std::vector<WhereClauseObj> conditionsOfBody(const nlohmann::json& body, const char* field);
// The request a body names: "left", "right", "columns", "wheres",
// "wheres2" and "settings" (each value a text, or a number or flag written
// as its text); 400 naming the field when one has the wrong type.
AnalysisRequest requestOfBody(const nlohmann::json& body);
// A settings object for a saved analysis of `kind`, as the texts its
// descriptions read (a setting the kind lacks is taken from a kind of the
// same stored type: a test of means becomes one of proportions by its
// distribution). Codes come as numbers, flags as true or false, texts as
// texts, and null clears a setting that may be cleared; 400 naming the
// setting otherwise.
std::map<std::string, std::string> settingTextsOfBody(const AnalysisKind& kind,
                                                      const nlohmann::json& settings);

}  // namespace tabulix::server
