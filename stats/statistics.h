// The statistics library as one object: distributions, descriptive statistics and model fitting.
#pragma once

#include "stats/descriptive.h"
#include "stats/distributions.h"
#include "stats/regression.h"

namespace tabulix {

// Stateless statistics library held by the engine's Model in its `functions`; every member is static.
class Statistics : public DescriptiveStatistics, public Distributions, public RegressionRoutines {};

}  // namespace tabulix
