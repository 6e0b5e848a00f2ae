#include "drain.h"
#include "records.h"

#include <gtest/gtest.h>

namespace {

TEST(Drain, ANodesStateAndReasonAsScontrolShowsThem) {
  const auto drained = sweep::parse_node_state(
      "NodeName=n5 Arch=x86_64 CoresPerSocket=1\n"
      "   State=IDLE+DRAIN ThreadsPerCore=1 TmpDisk=0 Weight=1\n"
      "   Reason=admin: bad DIMM, \"see ticket\" [root@2026-12-01T10:00:00]\n");
  EXPECT_EQ(drained.state, "IDLE+DRAIN");
  EXPECT_EQ(drained.reason,
            "admin: bad DIMM, \"see ticket\" [root@2026-12-01T10:00:00]");
  EXPECT_EQ(sweep::parse_node_state("   State=MIXED Reason=(null)\n").reason,
            "");
  for (const char *state : {"IDLE+DRAIN", "MIXED+DRAIN", "DOWN*", "DRAINED",
                            "IDLE+FAIL", "ALLOCATED+MAINT", "DOWN+REBOOT"}) {
    EXPECT_TRUE(sweep::out_of_service(state)) << state;
  }
  for (const char *state : {"IDLE", "MIXED", "ALLOCATED", "COMPLETING"}) {
    EXPECT_FALSE(sweep::out_of_service(state)) << state;
  }
}

TEST(Drain, TheReasonIsShortSafeAndTheSweepsOwn) {
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

TEST(Drain, ASmallShareOfTheNodesAtMost) {
  EXPECT_EQ(sweep::default_drain_max(4), 1U);
  EXPECT_EQ(sweep::default_drain_max(20), 1U);
  EXPECT_EQ(sweep::default_drain_max(21), 2U);
  EXPECT_EQ(sweep::default_drain_max(1000), 50U);
}

TEST(Drain, NothingOnAVerdictThatIsNotANodes) {
  sweep::Findings global;
  global.global_fault = "no pair passed";
  global.suspect_nodes = {"n1"};
  const auto list = records("n1-n2 FF");
  EXPECT_TRUE(
      sweep::drain_suspects(sweep::DrainMode::on, 5, global, true, list, "")
          .drained.empty());
  sweep::Findings some;
  some.suspect_nodes = {"n1"};
  const auto cut =
      sweep::drain_suspects(sweep::DrainMode::on, 5, some, false, list, "");
  EXPECT_TRUE(cut.drained.empty());
  EXPECT_EQ(cut.none_because, "the sweep was interrupted");
}

} // namespace
