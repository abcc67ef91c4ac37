#include "analyses/analysis_kind.h"

namespace tabulix {

const std::map<std::string, AnalysisKind>& analysisKinds() {
  // Listed here rather than registered from each kind's file: a static
  // library keeps only the objects something refers to.
  static const std::map<std::string, AnalysisKind> kinds = {
      {"detail", {"detail", std::nullopt, runVariableDetail}},
  };
  return kinds;
}

}  // namespace tabulix
