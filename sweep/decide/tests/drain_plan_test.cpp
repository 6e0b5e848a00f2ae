#include "decide/drain_plan.h"
#include "records.h"

#include <gtest/gtest.h>

namespace {

using States = std::map<std::string, sweep::NodeState>;

TEST(DrainPlan, TheReasonIsShortSafeAndTheSweepsOwn) {
  auto list = records("n1-n2 P, n2-n3 FF, n3-n4 FF, +n3-n1 FF");
  list[1].attempts[1].reason = "timed out \"after\" 30 s\x01";
  const std::string reason =
      sweep::drain_reason("n3", list, "/var/log/sweep.json");
  EXPECT_EQ(reason.rfind("exchange-sweep: failed with 3 partners (", 0), 0U)
      << reason;
  EXPECT_NE(reason.find("; /var/log/sweep.json"), std::string::npos);
  EXPECT_EQ(reason.find('"'), std::string::npos);
  EXPECT_LE(reason.size(), 160U);
  for (const char character : reason) {
    EXPECT_TRUE(character >= 0x20 && character < 0x7f) << reason;
  }
}

TEST(DrainPlan, ASmallShareOfTheNodesAtMost) {
  EXPECT_EQ(sweep::default_drain_max(4), 1U);
  EXPECT_EQ(sweep::default_drain_max(20), 1U);
  EXPECT_EQ(sweep::default_drain_max(21), 2U);
  EXPECT_EQ(sweep::default_drain_max(1000), 50U);
}

TEST(DrainPlan, NothingOnAVerdictThatIsNotANodes) {
  sweep::Findings global;
  global.global_fault = "no pair passed";
  global.suspect_nodes = {"n1"};
  const auto list = records("n1-n2 FF");
  const States idle{{"n1", {"IDLE", ""}}};
  EXPECT_TRUE(
      sweep::plan_drain(sweep::DrainMode::on, 5, global, true, idle, list, "")
          .drained.empty());
  sweep::Findings some;
  some.suspect_nodes = {"n1"};
  const auto cut =
      sweep::plan_drain(sweep::DrainMode::on, 5, some, false, idle, list, "");
  EXPECT_TRUE(cut.drained.empty());
  EXPECT_EQ(cut.none_because, "the sweep was interrupted");
}

TEST(DrainPlan, NeverANodeTakenOutOrUnknownNeverPastTheMost) {
  sweep::Findings found;
  found.suspect_nodes = {"n1", "n2", "n3", "n4"};
  const auto list = records("n1-n5 FF, n2-n5 FF, n3-n5 FF, n4-n5 FF");
  // n2 drained by an admin, whose reason mentions RESUME; n4's state
  // unknown.
  const States states{{"n1", {"IDLE", ""}},
                      {"n2", {"IDLE+DRAIN", "admin: State=RESUME later"}},
                      {"n3", {"MIXED", ""}}};
  const auto plan = sweep::plan_drain(sweep::DrainMode::dry_run, 2, found, true,
                                      states, list, "");
  ASSERT_EQ(plan.drained.size(), 2U);
  EXPECT_EQ(plan.drained[0].node, "n1");
  EXPECT_EQ(plan.drained[1].node, "n3");
  ASSERT_EQ(plan.left_alone.size(), 2U);
  EXPECT_EQ(plan.left_alone[0].node, "n2");
  EXPECT_EQ(plan.left_alone[0].reason, "IDLE+DRAIN: admin: State=RESUME later");
  EXPECT_EQ(plan.left_alone[1].node, "n4");
  const auto over =
      sweep::plan_drain(sweep::DrainMode::on, 1, found, true, states, list, "");
  EXPECT_TRUE(over.drained.empty());
  EXPECT_EQ(over.none_because, "2 nodes would be drained, more than "
                               "--drain-max 1");
}

} // namespace
