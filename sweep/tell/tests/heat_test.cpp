#include "tell/heat.h"

#include <gtest/gtest.h>

namespace {

TEST(Heat, GreenAtTheMedianRedAThousandthOfIt) {
  const sweep::HeatScale scale(2e9);
  EXPECT_EQ(scale.colour(2e9), "hsl(120, 70%, 42%)");
  EXPECT_EQ(scale.colour(4e9), "hsl(120, 70%, 42%)");
  EXPECT_EQ(scale.colour(2e8), "hsl(80, 70%, 42%)");
  EXPECT_EQ(scale.colour(2e6), "hsl(0, 70%, 42%)");
  EXPECT_EQ(scale.colour(0), "hsl(0, 70%, 42%)");
  const auto legend = scale.legend();
  ASSERT_EQ(legend.size(), 5U);
  EXPECT_EQ(legend.front().second, "2000.0 MB/s");
  EXPECT_EQ(legend.back().second, "2.0 MB/s");
}

} // namespace
