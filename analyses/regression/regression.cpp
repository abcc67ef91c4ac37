#include "analyses/regression/regression.h"

#include <cmath>
#include <limits>

#include "engine/cell_access.h"
#include "engine/values.h"

namespace tabulix {

NumericMatrix numericOfColumns(Model& model, const std::vector<Column*>& cols,
                               const std::vector<int32_t>* rows, const DesignMetadata* metadata) {
  NumericMatrix m;
  std::vector<int32_t> sortedRows;
  if (rows && !std::is_sorted(rows->begin(), rows->end())) {
    sortedRows = *rows;
    std::sort(sortedRows.begin(), sortedRows.end());
    rows = &sortedRows;
  }
  constexpr double missing = std::numeric_limits<double>::quiet_NaN();
  std::vector<std::vector<int32_t>> rowNums;
  int32_t largestRow = 0;
  for (Column* col : cols) {
    const ColumnMetadata* meta = nullptr;
    if (metadata && col->num) {
      auto it = metadata->find(*col->num);
      if (it != metadata->end()) meta = &it->second;
    }
    const VariableType type =
        meta && meta->type ? *meta->type : static_cast<VariableType>(col->type.value_or(0));
    std::map<std::string, int32_t> levels;
    if (meta && meta->levels) levels = *meta->levels;
    std::vector<double> values;
    std::vector<int32_t> nums;
    if (col->num)
      forEachValueOfColumn(model, *col, rows, [&](int32_t r, std::optional<std::string_view> d) {
        nums.push_back(r);
        largestRow = std::max(largestRow, r);
        if (!d) {
          values.push_back(missing);
        } else if (type == VariableType::Binary) {
          auto it = levels.find(std::string(*d));
          if (it == levels.end())
            it = levels.emplace(std::string(*d), static_cast<int32_t>(levels.size())).first;
          values.push_back(it->second);
        } else if (type == VariableType::DateTime) {
          values.push_back(dateForString(model, *d).value_or(missing));
        } else {
          values.push_back(decimalNumberForString(model, *d).value_or(missing));
        }
      });
    std::string name = col->name.value_or("");
    if (type == VariableType::Binary)
      for (const auto& [text, code] : levels)
        if (code == 1) {
          name = "(" + name + "=" + text + ")";
          break;
        }
    m.Xmat.push_back(std::move(values));
    m.names.push_back(std::move(name));
    rowNums.push_back(std::move(nums));
    model.context().releaseCellMemory();
  }
  if (m.Xmat.empty()) return m;
  // Listwise deletion: a row stays when every column has a value there.
  std::vector<uint32_t> present(static_cast<size_t>(largestRow) + 1, 0);
  for (size_t k = 0; k < m.Xmat.size(); ++k)
    for (size_t i = 0; i < m.Xmat[k].size(); ++i)
      if (!std::isnan(m.Xmat[k][i])) ++present[static_cast<size_t>(rowNums[k][i])];
  const uint32_t need = static_cast<uint32_t>(m.Xmat.size());
  for (size_t k = 0; k < m.Xmat.size(); ++k) {
    size_t out = 0;
    for (size_t i = 0; i < m.Xmat[k].size(); ++i)
      if (present[static_cast<size_t>(rowNums[k][i])] == need) m.Xmat[k][out++] = m.Xmat[k][i];
    m.Xmat[k].resize(out);
  }
  return m;
}

RegressionResult ols(Model& model, Column& dependent, const std::vector<Column*>& independents,
                     const std::vector<int32_t>* rows, bool isLogit,
                     const std::map<std::string, int32_t>& levels) {
  DesignMetadata metadata;
  if (isLogit && dependent.num) metadata[*dependent.num] = {VariableType::Binary, levels};
  std::vector<Column*> cols = independents;
  cols.push_back(&dependent);
  NumericMatrix design = numericOfColumns(model, cols, rows, isLogit ? &metadata : nullptr);
  RegressionResult res;
  std::vector<double> y = std::move(design.Xmat.back());
  design.Xmat.pop_back();
  res.nameLHS = design.names.back();
  design.names.pop_back();
  res.names = std::move(design.names);
  res.fit = olsY(y, design.Xmat, isLogit);
  res.figures = modelFigures(res.fit, y, design.Xmat);
  res.histogram = histogramOfVector(res.fit.residuals(), 10);
  return res;
}

DependentModels modelsForDependent(const Column& dependent) {
  const auto type = static_cast<VariableType>(dependent.type.value_or(0));
  DependentModels m;
  m.logistic = type == VariableType::Binary || dependent.levels.value_or(0) == 2;
  m.linear = type == VariableType::Numeric || type == VariableType::DateTime ||
             dependent.obsNumeric.value_or(0) >= 1 || dependent.obsDate.value_or(0) >= 1;
  return m;
}

nlohmann::json toJson(const RegressionResult& r, bool vectors) {
  nlohmann::json j = toJson(r.fit, vectors);
  j["names"] = r.names;
  j["nameLHS"] = r.nameLHS;
  j["histogram"] = r.histogram;
  addToJson(r.figures, j);
  return j;
}

}  // namespace tabulix
