#include "decide/budget.h"

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
    double timeout;
    bool steps;
    std::size_t drain;
    double seconds;
  };
  // A slot is T + 12; with steps, a round's tail is 42.25 and Slurm is
  // asked 3 times before (32 s each), and with --drain 3 times more and
  // once a node. Three confirmation rounds of N/2 pairs at most.
  const Case cases[] = {
      {"ring", 16, 64, 1, 30, false, 0, 2 * (2 * 42.0 + 3 * 42.0)},
      {"ring", 1024, 64, 1, 30, false, 0, 2 * (16 * 42.0 + 3 * 8 * 42.0)},
      {"ring", 1024, 0, 1, 30, false, 0, 2 * (2 * 42.0 + 3 * 42.0)},
      {"all", 16, 4, 2, 5, false, 0, 3 * (15 * 2 * 17.0 + 3 * 2 * 17.0)},
      {"ring", 7, 1, 0, 30, false, 0, 1 * (7 * 42.0 + 3 * 3 * 42.0)},
      {"ring", 16, 64, 1, 30, true, 0,
       2 * (2 * (42 + 42.25) + 3 * (42 + 42.25)) + 3 * 32.0},
      {"ring", 16, 64, 1, 30, true, 2,
       2 * (2 * (42 + 42.25) + 3 * (42 + 42.25)) + 3 * 32.0 + 5 * 32.0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " " + std::to_string(c.nodes));
    EXPECT_DOUBLE_EQ(
        sweep::worst_case_seconds(
            sweep::round_sizes(c.pattern, c.nodes),
            {c.nodes, c.parallel, c.retries, c.timeout, c.steps, c.drain}),
        c.seconds);
  }
}

} // namespace
