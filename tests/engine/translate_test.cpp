#include "engine/translate.h"

#include <gtest/gtest.h>

namespace tabulix {
namespace {

// The one placeholder formatter: in order, any of the three kinds, and
// nothing invented when values run out.
TEST(FillPlaceholders, FillsInOrderAndLeavesTheRest) {
  EXPECT_EQ(fillPlaceholders("Open Workspace: %@, Source File: %@, Variables: %u, Observations: %u",
                             {"a.tbx", "a.csv", "3", "10"}),
            "Open Workspace: a.tbx, Source File: a.csv, Variables: 3, Observations: 10");
  EXPECT_EQ(fillPlaceholders("%d Variable Limit Reached", {"500"}), "500 Variable Limit Reached");
  EXPECT_EQ(fillPlaceholders("%u of %u", {"1"}), "1 of %u");
  EXPECT_EQ(fillPlaceholders("50% of %@ %", {"x"}), "50% of x %");
  EXPECT_EQ(fillPlaceholders("95%% CI of Mean: [%@,%@]", {"1", "2"}), "95% CI of Mean: [1,2]");
  EXPECT_EQ(fillPlaceholders("%@%@", {"%u", "b"}), "%ub");  // values are not scanned again
  EXPECT_EQ(fillPlaceholders("", {"x"}), "");
}

}  // namespace
}  // namespace tabulix
