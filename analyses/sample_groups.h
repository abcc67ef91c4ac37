// Two samples as one variable split by the two levels of another ("Y by
// G"): sample 1 is Y where G is the first level, sample 2 Y where G is the
// second; the filters hold the split, so a saved analysis keeps it as it
// keeps any filter.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "analyses/analysis_kind.h"
#include "analyses/filters.h"
#include "engine/model.h"

namespace tabulix {

// The conditions that select each of a grouping variable's two levels, in
// the variable's level order. Throws AnalysisRequestError naming the
// variable when it has another number of levels.
std::pair<WhereClauseObj, WhereClauseObj> groupConditions(Model& model, const Column& group);

// Makes a two-sample analysis compare its sample 1 variable across the two
// levels of `group`: sample 2 is the same variable, not paired, and each
// sample's filter is replaced by one level's condition; saves. Throws as
// groupConditions does, changing nothing.
void setSamplesByGroup(Model& model, Analysis* analysis, Column* group);

// How a grouped request's samples are named.
struct SampleGroups {
  std::string first, second;            // "Y | G = a", "Y | G = b"
  std::string firstLevel, secondLevel;  // "G = a", "G = b" (a chart's legend)
  const Column* group = nullptr;        // G
};

// The samples' names when a two-sample request is set up by a group (one
// variable, each filter a single level of one other variable); none otherwise.
std::optional<SampleGroups> sampleGroupsOf(Model& model, const AnalysisRequest& request);

}  // namespace tabulix
