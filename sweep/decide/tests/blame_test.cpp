#include "decide/blame.h"
#include "records.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> names(const std::vector<sweep::Pair> &links) {
  std::vector<std::string> list;
  for (const auto &link : links) {
    list.push_back(link.first + "-" + link.second);
  }
  return list;
}

TEST(Blame, WhatEachPatternOfEvidencePointsAt) {
  struct Case {
    const char *what;
    std::size_t nodes;
    const char *evidence;
    std::vector<std::string> suspects;
    std::vector<std::string> links;
    std::vector<std::string> undetermined;
    bool global;
  };
  const Case cases[] = {
      {"a dead node in a ring, confirmed",
       4,
       "n1-n2 P, n2-n3 FF, n3-n4 FF, n4-n1 P, +n3-n1 FF",
       {"n3"},
       {},
       {},
       false},
      {"a dead node seen with two known-good partners alone",
       4,
       "n1-n2 P, n2-n3 FF, n3-n4 FF, n4-n1 P",
       {"n3"},
       {},
       {},
       false},
      {"a dead link: both its nodes passed with others",
       4,
       "n1-n2 FF, n2-n3 P, n3-n4 P, n4-n1 P",
       {},
       {"n1-n2"},
       {},
       false},
      {"a failure that passed on its second try is flaky, no evidence",
       4,
       "n1-n2 FP, n2-n3 P, n3-n4 P, n4-n1 P",
       {},
       {},
       {},
       false},
      {"one failure alone names no node: it is undetermined",
       4,
       "n1-n2 P, n2-n3 HH, n3-n4 FF, n4-n1 P",
       {},
       {},
       {"n3"},
       false},
      {"a hang is no evidence; confirmed good, the failure is a link",
       4,
       "n1-n2 P, n2-n3 HH, n3-n4 FF, n4-n1 P, +n3-n1 P",
       {},
       {"n3-n4"},
       {},
       false},
      {"a hang is no evidence against a link",
       4,
       "n1-n2 HH, n2-n3 P, n3-n4 P, n4-n1 P",
       {},
       {},
       {},
       false},
      {"a node that passed once is not suspect; its failures are links",
       4,
       "n1-n2 P, n1-n3 FF, n2-n3 P, n1-n4 FF, n2-n4 P, n3-n4 P",
       {},
       {"n1-n3", "n1-n4"},
       {},
       false},
      {"two dead nodes apart in a ring",
       6,
       "n1-n2 FF, n2-n3 FF, n3-n4 P, n4-n5 FF, n5-n6 FF, n6-n1 P",
       {"n2", "n5"},
       {},
       {},
       false},
      {"two dead ring neighbours, each confirmed",
       6,
       "n1-n2 P, n2-n3 FF, n3-n4 FF, n4-n5 FF, n5-n6 P, n6-n1 P, +n3-n1 FF, "
       "+n4-n6 FF",
       {"n3", "n4"},
       {},
       {},
       false},
      {"failed with two partners, neither known-good: undetermined",
       6,
       "n1-n2 P, n3-n4 FF, n4-n5 FF",
       {},
       {},
       {"n3", "n4", "n5"},
       false},
      {"pairs cut short are no evidence",
       4,
       "n1-n2 P, n2-n3 N, n3-n4 N, n4-n1 P",
       {},
       {},
       {},
       false},
      {"every pair failed: a global fault",
       3,
       "n1-n2 FF, n2-n3 FF, n3-n1 FF",
       {},
       {},
       {},
       true},
      {"two nodes that failed: nothing tells them apart",
       2,
       "n1-n2 FF",
       {},
       {},
       {},
       true},
      {"more than half of the nodes would be named",
       5,
       "n1-n2 P, n2-n3 FF, n3-n4 FF, n4-n5 FF, n5-n1 FF, +n3-n1 FF, "
       "+n4-n2 FF, +n5-n2 FF",
       {},
       {},
       {},
       true},
      {"more than half of the pairs would be named as links",
       4,
       "n1-n2 P, n3-n4 P, n1-n3 FF, n1-n4 FF, n2-n3 FF, n2-n4 FF",
       {},
       {},
       {},
       true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const auto found = sweep::attribute(records(c.evidence), c.nodes);
    EXPECT_EQ(found.suspect_nodes, c.suspects);
    EXPECT_EQ(names(found.suspect_links), c.links);
    EXPECT_EQ(found.undetermined, c.undetermined);
    EXPECT_EQ(found.global_fault.has_value(), c.global);
  }
}

TEST(Blame, AGlobalFaultGivesTheCommonestReason) {
  auto list = records("n1-n2 FF, n2-n3 FF, n3-n1 FF");
  list[0].attempts[0].reason = "each process ran alone";
  const auto found = sweep::attribute(list, 3);
  ASSERT_TRUE(found.global_fault);
  EXPECT_NE(found.global_fault->find("no pair passed"), std::string::npos);
  EXPECT_NE(
      found.global_fault->find("5 of 6 failed tries: timed out after 30 s"),
      std::string::npos)
      << *found.global_fault;
  // Nothing ran at all (stopped at once): no finding, not even global.
  EXPECT_FALSE(sweep::attribute(records("n1-n2 N"), 2).global_fault);
}

TEST(Blame, ACutShortSweepNamesNothingItDidNotConfirm) {
  // A dead node already failed with two known-good partners, a link with
  // both ends good, and no pair passed at all: cut short, each is only
  // undetermined, its nodes that passed with no one.
  const auto dead = records("n1-n2 P, n2-n3 F, n3-n4 F, n4-n5 P, n5-n6 FF, "
                            "n6-n1 P");
  const auto found = sweep::attribute(dead, 6, {}, false);
  EXPECT_TRUE(found.suspect_nodes.empty());
  EXPECT_TRUE(found.suspect_links.empty());
  EXPECT_FALSE(found.global_fault);
  EXPECT_EQ(found.undetermined, (std::vector<std::string>{"n3"}));
  const auto none = sweep::attribute(records("n1-n2 F, n2-n3 F"), 3, {}, false);
  EXPECT_FALSE(none.global_fault);
  EXPECT_EQ(none.undetermined, (std::vector<std::string>{"n1", "n2", "n3"}));
  // Complete, the same evidence names them.
  EXPECT_EQ(sweep::attribute(dead, 6).suspect_nodes,
            (std::vector<std::string>{"n3"}));
}

} // namespace
