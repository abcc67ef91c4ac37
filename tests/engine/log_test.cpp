// The one diagnostic log: lines of the statistics library reach the sink the
// front ends set (the CLI shows them only with TABULIX_LOG=1).
#include "engine/log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stats/distributions.h"
#include "stats/regression.h"

namespace tabulix {
namespace {

TEST(Log, StatisticsLinesJoinTheLog) {
  std::vector<std::string> logs;
  setLogSink([&](std::string_view l) { logs.emplace_back(l); });
  testing::internal::CaptureStderr();
  // A huge shape next to x = a: the incomplete gamma series runs out of terms.
  Distributions::p_gamma(1e12, 1e12 - 10);
  RegressionRoutines::logit(std::vector<double>{0, 1, 0, 1}, {std::vector<double>(4, 1.0)});
  const std::string direct = testing::internal::GetCapturedStderr();
  setLogSink({});
  EXPECT_EQ(logs,
            (std::vector<std::string>{"p_gamma() could not converge.", "logit converged in iteration 1"}));
  EXPECT_EQ(direct, "") << "nothing bypasses the log";
}

}  // namespace
}  // namespace tabulix
