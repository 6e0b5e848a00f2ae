#include "decide/blame.h"
#include "decide/slow.h"
#include "decide/sweeper.h"
#include "records.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

using sweep::Figures;
using sweep::Verdict;
using Names = std::vector<std::string>;

// Records of PAIRS, each passed once with FIGURES.
std::vector<sweep::PairRecord>
measured(const std::vector<std::pair<sweep::Pair, Figures>> &pairs) {
  std::vector<sweep::PairRecord> list;
  for (const auto &[pair, figures] : pairs) {
    sweep::Attempt attempt;
    attempt.verdict = Verdict::passed;
    attempt.round = 1;
    attempt.figures = figures;
    list.push_back({pair, false, {attempt}});
  }
  return list;
}

std::vector<std::size_t> all_of(const std::vector<sweep::PairRecord> &list) {
  std::vector<std::size_t> indices;
  for (std::size_t i = 0; i < list.size(); ++i) {
    indices.push_back(i);
  }
  return indices;
}

const auto one_class = [](const sweep::Pair &) { return 0; };

TEST(Slow, EachTryAgainstItsClassInItsRound) {
  const Figures fast{7e-6, 2e9};
  auto list = measured({{{"n1", "n2"}, fast},
                        {{"n3", "n4"}, {7.5e-6, 1.9e9}},
                        {{"n5", "n6"}, {7e-6, 1.25e6}}, // 10 Mbit/s
                        {{"n7", "n8"}, {6e-4, 2e9}},    // 600 us
                        {{"n9", "n10"}, {2.5e-5, 2e9}}, // 3.6 times, 18 us
                        {{"n11", "n12"}, {7e-6, 1.1e9}}});
  sweep::SlowLimits limits;
  limits.bandwidth_share = 0.5;
  limits.latency_floor_s = 200e-6;
  sweep::SlowJudge judge(limits, one_class);
  judge.judge(list, all_of(list), true);
  std::vector<Verdict> verdicts;
  for (const auto &record : list) {
    verdicts.push_back(record.attempts.back().verdict);
  }
  EXPECT_EQ(verdicts, (std::vector<Verdict>{Verdict::passed, Verdict::passed,
                                            Verdict::slow, Verdict::slow,
                                            Verdict::passed, Verdict::passed}));
  EXPECT_EQ(list[2].attempts[0].reason,
            "slow: bandwidth 1.2 MB/s against 2000.0 MB/s, the median of "
            "the faster half")
      << list[2].attempts[0].reason;
  EXPECT_NE(list[3].attempts[0].reason.find("latency 600.0 us"),
            std::string::npos);
  // A retry is held against the pattern, never against itself.
  auto again = measured({{{"n5", "n6"}, {7e-6, 1.25e6}},
                         {{"n7", "n8"}, {7e-6, 1.3e6}},
                         {{"n9", "n10"}, {7e-6, 1.2e6}}});
  judge.judge(again, all_of(again), false);
  for (const auto &record : again) {
    EXPECT_EQ(record.attempts.back().verdict, Verdict::slow);
  }
  const auto fabric = judge.fabric();
  ASSERT_EQ(fabric.count(0), 1U);
  EXPECT_EQ(fabric.at(0).pairs, 4U); // those not slow
}

TEST(Slow, ATryThatHungAfterItsMeasureIsJudgedButComparedWithNone) {
  const Figures fast{7e-6, 2e9};
  auto list = measured({{{"n1", "n2"}, fast},
                        {{"n3", "n4"}, fast},
                        {{"n5", "n6"}, fast},
                        {{"n7", "n8"}, {7e-6, 1.2e6}},
                        {{"n9", "n10"}, {7e-6, 1.9e9}}});
  for (const std::size_t hung : {3, 4}) {
    list[hung].attempts[0].verdict = Verdict::exchanged_then_hung;
    list[hung].attempts[0].reason = "exchanged, then hung";
  }
  sweep::SlowJudge judge({}, one_class);
  judge.judge(list, all_of(list), true);
  EXPECT_EQ(list[3].attempts[0].verdict, Verdict::exchanged_then_hung);
  EXPECT_TRUE(list[3].attempts[0].hung_slow);
  EXPECT_EQ(list[3].attempts[0].reason.rfind("exchanged, then hung; slow: "
                                             "bandwidth 1.2 MB/s",
                                             0),
            0U)
      << list[3].attempts[0].reason;
  EXPECT_FALSE(list[4].attempts[0].hung_slow);
  EXPECT_EQ(list[4].attempts[0].reason, "exchanged, then hung");
  EXPECT_EQ(judge.fabric().at(0).pairs, 3U); // the passed ones only
}

TEST(Slow, TheDefaultsLetABusyHealthyFabricBe) {
  // As the test cluster measured pairs side by side on two busy cores:
  // 0.31 of the round's median bandwidth, and 0.097 with a build running
  // beside; half a millisecond of latency.
  auto list = measured({{{"a", "b"}, {1.2e-4, 6.8e7}},
                        {{"c", "d"}, {5.2e-4, 2.1e7}},
                        {{"e", "f"}, {1.1e-4, 7e7}},
                        {{"g", "h"}, {5e-6, 1.3e9}},
                        {{"k", "l"}, {2e-4, 6.6e6}},
                        {{"m", "n"}, {1e-4, 9e7}},
                        {{"i", "j"}, {1e-4, 1.2e6}}}); // 10 Mbit/s
  sweep::SlowJudge({}, one_class).judge(list, all_of(list), true);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(list[i].attempts[0].verdict, Verdict::passed) << i;
  }
  EXPECT_EQ(list[6].attempts[0].verdict, Verdict::slow);
  // Half a round's crossing pairs through one uplink at 10 Mbit/s, on a
  // fabric of 60 MB/s: the median of all four is 23 MB/s, and 1.2 MB/s
  // is more than 0.05 of it; the faster half's is not fooled.
  auto across = measured({{{"a", "e"}, {9e-6, 5.95e7}},
                          {{"d", "i"}, {1e-4, 1.2e6}},
                          {{"h", "m"}, {3.6e-4, 1.2e6}},
                          {{"l", "b"}, {1.2e-4, 4.4e7}}});
  sweep::SlowJudge({}, one_class).judge(across, all_of(across), true);
  EXPECT_EQ(across[1].attempts[0].verdict, Verdict::slow);
  EXPECT_EQ(across[2].attempts[0].verdict, Verdict::slow);
  EXPECT_EQ(across[3].attempts[0].verdict, Verdict::passed);
}

TEST(Slow, AbsoluteLimitsHoldWhateverTheOthersDid) {
  sweep::SlowLimits limits;
  limits.min_bandwidth = 1e9;
  limits.max_latency = 1e-5;
  auto list = measured({{{"a", "b"}, {5e-6, 9e8}},
                        {{"c", "d"}, {2e-5, 2e9}},
                        {{"e", "f"}, {5e-6, 2e9}}});
  sweep::SlowJudge(limits, one_class).judge(list, all_of(list), true);
  EXPECT_EQ(list[0].attempts[0].verdict, Verdict::slow);
  EXPECT_EQ(list[1].attempts[0].verdict, Verdict::slow);
  EXPECT_EQ(list[2].attempts[0].verdict, Verdict::passed);
}

TEST(SlowBlame, WhatTheSlowPairsPointAt) {
  const auto tree =
      sweep::Topology::parse("SwitchName=leaf1 Nodes=n[1-4]\n"
                             "SwitchName=leaf2 Nodes=n[5-8]\n"
                             "SwitchName=spine Switches=leaf[1-2]\n");
  struct Case {
    const char *what;
    const char *evidence;
    bool tree;
    Names nodes, uplinks, links;
  };
  const Case cases[] = {
      {"a slow node: slow with two, one of them fast",
       "n1-n2 P, n2-n3 SS, n3-n4 SS, n4-n5 P, n5-n6 P, n6-n1 P, +n3-n1 SS",
       false,
       {"n3"},
       {},
       {}},
      {"a slow link: both its nodes fast with others",
       "n1-n2 P, n2-n3 SS, n3-n4 P, n4-n5 P, n5-n6 P, n6-n1 P",
       false,
       {},
       {},
       {"n2-n3"}},
      {"slow once, fast again: nothing",
       "n1-n2 P, n2-n3 SP, n3-n4 P, n4-n1 P",
       false,
       {},
       {},
       {}},
      {"leaf2's uplink: its crossings slow, inside fast",
       "n1-n2 P, n2-n3 P, n3-n4 P, n4-n5 SS, n5-n6 P, n6-n7 P, n7-n8 P, "
       "n8-n1 SS",
       true,
       {},
       {"leaf1", "leaf2"},
       {}},
      {"a slow node under a tree is the node, not its uplink",
       "n1-n2 P, n2-n3 P, n3-n4 P, n4-n5 SS, n5-n6 SS, n6-n7 P, n7-n8 P, "
       "n8-n1 P, +n5-n7 SS",
       true,
       {"n5"},
       {},
       {}},
      {"a dead node is not slow too",
       "n1-n2 P, n2-n3 FF, n3-n4 FF, n4-n5 P, n5-n6 SS, n6-n1 P, +n3-n1 FF",
       false,
       {},
       {},
       {"n5-n6"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const auto found = sweep::attribute(records(c.evidence), 8,
                                        c.tree ? tree : sweep::Topology{});
    EXPECT_EQ(found.slow_nodes, c.nodes);
    EXPECT_EQ(found.slow_uplinks, c.uplinks);
    Names links;
    for (const auto &link : found.slow_links) {
      links.push_back(link.first + "-" + link.second);
    }
    EXPECT_EQ(links, c.links);
    EXPECT_FALSE(found.slow_everywhere);
  }
}

// A thousand stand-in nodes under ring: one host slow, one path slow, the
// rest scattered by a few percent. The sweep names that host and that
// link, and nothing else.
TEST(SlowBlame, AThousandNodes) {
  std::vector<std::string> nodes;
  for (int i = 1; i <= 1000; ++i) {
    nodes.push_back("n" + std::to_string(i));
  }
  sweep::Plan plan;
  plan.nodes = nodes;
  plan.pattern = sweep::ring(nodes);
  plan.measured = true;
  auto judge =
      std::make_shared<sweep::SlowJudge>(sweep::SlowLimits{}, one_class);
  plan.judge_round = [judge](std::vector<sweep::PairRecord> &records,
                             const std::vector<std::size_t> &round,
                             bool pattern) {
    judge->judge(records, round, pattern);
  };
  const auto run = [](const sweep::Round &round) {
    std::vector<sweep::Outcome> outcomes;
    for (const auto &pair : round) {
      const bool slow_host = pair.first == "n500" || pair.second == "n500";
      const bool slow_path = (pair.first == "n100" && pair.second == "n101");
      const double scatter =
          1 + 0.03 *
                  static_cast<double>(
                      std::hash<std::string>{}(pair.first + pair.second) % 7) /
                  7;
      const double bandwidth = slow_host || slow_path ? 1.25e6 : 2e9 * scatter;
      std::string out;
      for (int rank = 0; rank < 2; ++rank) {
        out += "exchange-probe rank=" + std::to_string(rank) +
               " partner=" + std::to_string(1 - rank) +
               " value=777 latency_s=" + std::to_string(7e-6 * scatter) +
               " bandwidth_bytes_per_s=" + std::to_string(bandwidth) +
               " bytes=1 seconds=1\n";
      }
      outcomes.push_back({0, false, false, 0.5, out, "", 0});
    }
    return outcomes;
  };
  const auto swept = sweep::run_sweep(
      plan, run, [] { return false; },
      [](int, const char *, const sweep::Round &,
         const std::vector<sweep::Attempt> &) {});
  const auto found = sweep::attribute(swept.records, 1000);
  EXPECT_EQ(found.slow_nodes, Names{"n500"});
  ASSERT_EQ(found.slow_links.size(), 1U);
  EXPECT_EQ(found.slow_links[0].first, "n100");
  EXPECT_TRUE(found.suspect_nodes.empty());
  EXPECT_TRUE(found.undetermined.empty());
  EXPECT_EQ(judge->fabric().at(0).pairs, 997U);
}

} // namespace
