#include "analyses/analysis_kind.h"

namespace tabulix {

const std::map<std::string, AnalysisKind>& analysisKinds() {
  // Listed here rather than registered from each kind's file: a static
  // library keeps only the objects something refers to.
  static const std::map<std::string, AnalysisKind> kinds = {
      {"detail", {"detail", std::nullopt, runVariableDetail}},
      {"correlation", {"correlation", 3, runCorrelation}},
      {"linear", {"linear", 4, runLinearRegression}},
      {"logistic", {"logistic", 4, runLogisticRegression}},
      {"means", {"means", 5, runHypothesisTestOfMeans}},
      {"proportions", {"proportions", 5, runHypothesisTestOfProportions}},
  };
  return kinds;
}

}  // namespace tabulix
