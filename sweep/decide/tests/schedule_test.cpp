#include "decide/schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <utility>

namespace {

using sweep::Round;

std::vector<std::string> nodes_of(std::size_t n) {
  std::vector<std::string> nodes;
  for (std::size_t i = 0; i < n; ++i) {
    nodes.push_back("n" + std::to_string(i));
  }
  return nodes;
}

std::pair<std::string, std::string> key(const std::string &a,
                                        const std::string &b) {
  return std::minmax(a, b);
}

// Every expected pair exactly once, nothing else, no node twice in a
// round, and the number of rounds.
void check(const std::vector<Round> &rounds,
           const std::set<std::pair<std::string, std::string>> &expected,
           std::size_t round_count) {
  EXPECT_EQ(rounds.size(), round_count);
  std::multiset<std::pair<std::string, std::string>> seen;
  for (const auto &round : rounds) {
    std::set<std::string> busy;
    for (const auto &pair : round) {
      EXPECT_NE(pair.first, pair.second);
      EXPECT_TRUE(busy.insert(pair.first).second) << pair.first << " twice";
      EXPECT_TRUE(busy.insert(pair.second).second) << pair.second << " twice";
      seen.insert(key(pair.first, pair.second));
    }
  }
  EXPECT_EQ(seen.size(), expected.size());
  for (const auto &pair : expected) {
    EXPECT_EQ(seen.count(pair), 1U) << pair.first << "-" << pair.second;
  }
}

TEST(Schedule, RingPairsEachNodeWithItsSuccessor) {
  for (std::size_t n = 2; n <= 9; ++n) {
    SCOPED_TRACE(n);
    const auto nodes = nodes_of(n);
    std::set<std::pair<std::string, std::string>> expected;
    for (std::size_t i = 0; i < n; ++i) {
      expected.insert(key(nodes[i], nodes[(i + 1) % n]));
    }
    // Two nodes are one pair, whichever way round.
    check(sweep::ring(nodes), expected, n == 2 ? 1 : (n % 2 == 0 ? 2 : 3));
  }
}

TEST(Schedule, AllPairsEveryPairOnceByTheCircle) {
  for (std::size_t n = 2; n <= 9; ++n) {
    SCOPED_TRACE(n);
    const auto nodes = nodes_of(n);
    std::set<std::pair<std::string, std::string>> expected;
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = i + 1; j < n; ++j) {
        expected.insert(key(nodes[i], nodes[j]));
      }
    }
    const auto rounds = sweep::all_pairs(nodes);
    // An odd N cannot pair everyone: one node sits out each round, and
    // that takes N rounds.
    check(rounds, expected, n % 2 == 0 ? n - 1 : n);
    for (const auto &round : rounds) {
      EXPECT_EQ(round.size(), n / 2);
    }
  }
}

TEST(Schedule, FewerThanTwoNodesMakeNoRounds) {
  EXPECT_TRUE(sweep::ring(nodes_of(1)).empty());
  EXPECT_TRUE(sweep::all_pairs(nodes_of(1)).empty());
  EXPECT_TRUE(sweep::ring({}).empty());
}

TEST(Schedule, ByIndexTheSameRoundsOneNodeAtATime) {
  for (const bool all : {false, true}) {
    for (std::size_t n = 2; n <= 21; ++n) {
      SCOPED_TRACE((all ? "all " : "ring ") + std::to_string(n));
      const auto names = nodes_of(n);
      const auto rounds = all ? sweep::all_pairs(names) : sweep::ring(names);
      ASSERT_EQ(sweep::round_count(all, n), rounds.size());
      for (std::size_t r = 0; r < rounds.size(); ++r) {
        std::vector<std::optional<sweep::Seat>> want(n);
        for (const auto &pair : rounds[r]) {
          const auto one = std::stoul(pair.first.substr(1));
          const auto other = std::stoul(pair.second.substr(1));
          want[one] = sweep::Seat{other, true};
          want[other] = sweep::Seat{one, false};
        }
        for (std::size_t node = 0; node < n; ++node) {
          const auto got = sweep::seat_in_round(all, n, node, r);
          ASSERT_EQ(got.has_value(), want[node].has_value()) << node;
          if (got) {
            EXPECT_EQ(got->partner, want[node]->partner) << node;
            EXPECT_EQ(got->first, want[node]->first) << node;
          }
        }
      }
    }
  }
  EXPECT_FALSE(sweep::seat_in_round(true, 4, 4, 0));
  EXPECT_FALSE(sweep::seat_in_round(true, 4, 0, 3));
  EXPECT_EQ(sweep::round_count(true, 4096), 4095U);
}

} // namespace
