#include "analyses/sample_groups.h"

#include "analyses/definitions.h"
#include "engine/cell_access.h"
#include "engine/level_order.h"
#include "engine/translate.h"
#include "engine/workspace_data.h"

namespace tabulix {

namespace {

WhereClauseObj levelCondition(const Column& group, const std::string& level) {
  WhereClauseObj w;
  w.colNum = group.num.value_or(0);
  w.op = kOpIn;
  w.levels = std::set<std::string>{level};
  return w;
}

// The one level a condition selects, when it is a single-level condition.
const std::string* singleLevel(const WhereClauseObj& w) {
  if (w.op == kOpIn && w.levels && w.levels->size() == 1) return &*w.levels->begin();
  if (w.op == kOpEqual && w.constant) return &*w.constant;
  return nullptr;
}

}  // namespace

std::pair<WhereClauseObj, WhereClauseObj> groupConditions(Model& model, const Column& group) {
  std::vector<std::string> levels = distinctValuesForColumn(model, &group);
  if (levels.size() != 2)
    throw AnalysisRequestError(
        fillPlaceholders(tr("%@ has %@ levels; a grouping variable needs exactly two."),
                         {group.name.value_or(""), std::to_string(levels.size())}));
  sortLevels(model, group, levels);
  return {levelCondition(group, levels[0]), levelCondition(group, levels[1])};
}

void setSamplesByGroup(Model& model, Analysis* a, Column* group) {
  const auto [first, second] = groupConditions(model, *group);
  for (WhereClause* w : std::vector<WhereClause*>(a->wheres)) model.context().deleteObject(w);
  for (WhereClause* w : std::vector<WhereClause*>(a->wheres2)) model.context().deleteObject(w);
  a->wheres.clear();
  a->wheres2.clear();
  for (const WhereClauseObj* w : {&first, &second}) {
    WhereClause* c = model.context().insertWhereClause();
    c->x = group;
    c->op = static_cast<int32_t>(w->op);
    c->levels = std::vector<std::string>(w->levels->begin(), w->levels->end());
    if (w == &first) {
      c->whereOfAnalysis = a;
      a->wheres.push_back(c);
    } else {
      c->where2OfAnalysis = a;
      a->wheres2.push_back(c);
    }
  }
  a->right = a->left;
  a->samples = 2;
  a->isPaired = false;
  if (a->type == HypothesisTest) clearInvalidHypothesisTest(a);
  (void)model.saveContext();
}

std::optional<SampleGroups> sampleGroupsOf(Model& model, const AnalysisRequest& r) {
  if (!r.left || r.left != r.right || r.wheres.size() != 1 || r.wheres2.size() != 1) return std::nullopt;
  const WhereClauseObj &w1 = r.wheres[0], &w2 = r.wheres2[0];
  const std::string *a = singleLevel(w1), *b = singleLevel(w2);
  if (w1.colNum != w2.colNum || !a || !b || *a == *b) return std::nullopt;
  const Column* y = columnNumber(model, static_cast<uint32_t>(*r.left));
  const Column* g = w1.colNum >= 0 && w1.colNum <= INT32_MAX
                        ? columnNumber(model, static_cast<uint32_t>(w1.colNum))
                        : nullptr;
  if (!y || !g) return std::nullopt;
  const std::string yName = y->name.value_or(""), gName = g->name.value_or("");
  return SampleGroups{fillPlaceholders(tr("%@ | %@ = %@"), {yName, gName, *a}),
                      fillPlaceholders(tr("%@ | %@ = %@"), {yName, gName, *b}),
                      fillPlaceholders(tr("%@ = %@"), {gName, *a}),
                      fillPlaceholders(tr("%@ = %@"), {gName, *b}), g};
}

}  // namespace tabulix
