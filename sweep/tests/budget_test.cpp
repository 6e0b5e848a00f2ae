#include "budget.h"

#include <gtest/gtest.h>

namespace {

TEST(Budget, RoundsOfEachPattern) {
  using Sizes = std::vector<std::size_t>;
  EXPECT_EQ(sweep::round_sizes("ring", 2), (Sizes{1}));
  EXPECT_EQ(sweep::round_sizes("ring", 6), (Sizes{3, 3}));
  EXPECT_EQ(sweep::round_sizes("ring", 7), (Sizes{3, 3, 1}));
  EXPECT_EQ(sweep::round_sizes("all", 4), (Sizes{2, 2, 2}));
  EXPECT_EQ(sweep::round_sizes("all", 5), (Sizes{2, 2, 2, 2, 2}));
  EXPECT_TRUE(sweep::round_sizes("ring", 1).empty());
}

TEST(Budget, TheWorstCaseFollowsFromNodesPatternParallelBoundAndRetries) {
  struct Case {
    const char *pattern;
    std::size_t nodes, parallel;
    int retries;
    double timeout, seconds;
  };
  const Case cases[] = {
      // (1 + R) * (W + ceil(N / 2 / K)) * (T + 10)
      {"ring", 16, 64, 1, 30, 2 * (2 + 1) * 40.0},
      {"ring", 1024, 64, 1, 30, 2 * (16 + 8) * 40.0},
      {"ring", 1024, 0, 1, 30, 2 * (2 + 1) * 40.0}, // a round at once
      {"all", 16, 64, 1, 30, 2 * (15 + 1) * 40.0},
      {"all", 16, 4, 2, 5, 3 * (15 * 2 + 2) * 15.0},
      {"ring", 7, 1, 0, 30, 1 * (7 + 3) * 40.0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " " + std::to_string(c.nodes));
    EXPECT_DOUBLE_EQ(
        sweep::worst_case_seconds(sweep::round_sizes(c.pattern, c.nodes),
                                  {c.nodes, c.parallel, c.retries, c.timeout}),
        c.seconds);
  }
}

TEST(Budget, TheTimeAJobHasLeftAsSqueueShowsIt) {
  EXPECT_EQ(sweep::time_left_seconds("3:04\n"), 184);
  EXPECT_EQ(sweep::time_left_seconds("2:03:04"), 7384);
  EXPECT_EQ(sweep::time_left_seconds("1-02:03:04"), 93784);
  EXPECT_EQ(sweep::time_left_seconds("15"), 900);
  for (const char *none :
       {"UNLIMITED", "NOT_SET", "INVALID", "", "1::2", "1:2:3:4", "-1:00"}) {
    EXPECT_FALSE(sweep::time_left_seconds(none)) << none;
  }
}

} // namespace
