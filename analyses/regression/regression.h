// The regression analysis: a dependent variable fitted on explanatory ones
// by least squares or logistic regression, with the design read from the
// cells through per-variable metadata (a type override and a level map).
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "analyses/fit.h"
#include "analyses/regression/model_figures.h"
#include "engine/cell_access.h"
#include "engine/model.h"
#include "engine/variable_type.h"

namespace tabulix {

// How the design reads one column: a type instead of its own, and the codes
// of a Binary column's texts.
struct ColumnMetadata {
  std::optional<VariableType> type;
  std::optional<std::map<std::string, int32_t>> levels;
};
// Metadata by column number (`num`).
using DesignMetadata = std::map<int32_t, ColumnMetadata>;

// The design of several columns over the given rows (all when none), rows
// missing in any column left out. Unlike the plain matrix only an absent
// cell text is missing, and a Binary column codes its texts through its
// level map (new texts get the next code in order of appearance); a column
// with a level coded 1 is named "(name=level)".
NumericMatrix numericOfColumns(Model& model, const std::vector<Column*>& cols,
                               const std::vector<int32_t>* rows, const DesignMetadata* metadata);

// A fitted regression with the names of its variables.
struct RegressionResult {
  FitResult fit;
  std::vector<std::string> names;  // the explanatory variables as the design named them
  std::string nameLHS;             // the dependent's name
  HistogramResult histogram;       // of the residuals, 10 bins asked for
  ModelFigures figures;            // the model test, intervals, standardized coefficients, ...
};

// Fits the dependent on the independent columns (plus a constant) over the
// rows; with isLogit the dependent is read as Binary through the level map.
RegressionResult ols(Model& model, Column& dependent, const std::vector<Column*>& independents,
                     const std::vector<int32_t>* rows, bool isLogit,
                     const std::map<std::string, int32_t>& levels);

// Which models a dependent variable allows: logistic when it is Binary or
// has two levels; linear when it is Numeric or a date or holds a number or
// a date.
struct DependentModels {
  bool logistic = false, linear = false;
};
DependentModels modelsForDependent(const Column& dependent);

// The result under its keys: the fit's ("coeffs", "r2adj", "AUC", ...),
// "names", "nameLHS" and "histogram".
nlohmann::json toJson(const RegressionResult& result, bool vectors = false);

}  // namespace tabulix
