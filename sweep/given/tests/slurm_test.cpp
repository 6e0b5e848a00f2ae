#include "given/options.h"
#include "given/slurm.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using sweep::Answer;
using Words = std::vector<std::string>;

TEST(Slurm, ANodesStateIsItsStateFieldNotWhatItsReasonSays) {
  // scontrol -o show node: one line a node. A reason may say anything,
  // State= too, and OS= holds blanks.
  const auto states = sweep::parse_node_states(
      "NodeName=n5 Arch=x86_64 CoresPerSocket=1 State=IDLE+DRAIN "
      "ThreadsPerCore=1 OS=Linux 6.1.0 #1 SMP State=BOGUS "
      "Reason=admin: do not State=RESUME, \"see ticket\" "
      "[root@2026-12-01T10:00:00]\n"
      "NodeName=n6 State=MIXED Reason=(null)\n"
      "NodeName=n7 Arch=x86_64 State=ALLOCATED\n"
      "NodeName=-x State=IDLE\n"
      "NodeName=n8 State=idle; rm\n"
      "garbage\n");
  ASSERT_EQ(states.size(), 3U);
  EXPECT_EQ(states.at("n5").state, "IDLE+DRAIN");
  EXPECT_EQ(states.at("n5").reason,
            "admin: do not State=RESUME, \"see ticket\" "
            "[root@2026-12-01T10:00:00]");
  EXPECT_EQ(states.at("n6").state, "MIXED");
  EXPECT_EQ(states.at("n6").reason, "");
  EXPECT_EQ(states.at("n7").state, "ALLOCATED");
  for (const char *state : {"IDLE+DRAIN", "MIXED+DRAIN", "DOWN*", "DRAINED",
                            "IDLE+FAIL", "ALLOCATED+MAINT", "DOWN+REBOOT"}) {
    EXPECT_TRUE(sweep::out_of_service(state)) << state;
  }
  for (const char *state : {"IDLE", "MIXED", "ALLOCATED", "COMPLETING"}) {
    EXPECT_FALSE(sweep::out_of_service(state)) << state;
  }
}

TEST(Slurm, TheTimeAJobHasLeftAsSqueueShowsIt) {
  EXPECT_EQ(sweep::time_left_seconds("3:04\n"), 184);
  EXPECT_EQ(sweep::time_left_seconds("2:03:04"), 7384);
  EXPECT_EQ(sweep::time_left_seconds("1-02:03:04"), 93784);
  EXPECT_EQ(sweep::time_left_seconds("15"), 900);
  for (const char *none :
       {"UNLIMITED", "NOT_SET", "INVALID", "", "1::2", "1:2:3:4", "-1:00",
        "99999999999999999999-00:00:00", "1:99999999999999999999"}) {
    EXPECT_FALSE(sweep::time_left_seconds(none)) << none;
  }
}

// A Slurm that answers scontrol show topology with ANSWER, and notes the
// environment it was asked with.
struct FakeSlurm {
  Answer answer;
  Words environment;
  Answer operator()(const Words &argv, const Words &added) {
    EXPECT_EQ(argv, (Words{"scontrol", "show", "topology"}));
    environment = added;
    return answer;
  }
};

TEST(Slurm, ATreeThatCannotBeReadIsNoTreeAndSaysWhy) {
  struct Case {
    const char *what;
    Answer answer;
    bool tree;
    const char *problem; // part of it; "" for none
  };
  const std::string good = "SwitchName=leaf1 Level=0 LinkSpeed=1 "
                           "Nodes=n[1-2]\n"
                           "SwitchName=spine Level=1 LinkSpeed=1 "
                           "Nodes=n[1-2] Switches=leaf1\n";
  const Case cases[] = {
      {"read whole", {0, good, "", true}, true, ""},
      {"not configured",
       {1, "", "No topology information available", true},
       false,
       ""},
      {"one line it rejects",
       {0, good + "SwitchName=s Colour=red\n", "", true},
       false,
       "line 3: unknown key"},
      {"cut short by a site's SLURM_TOPO_LEN",
       {0, "SwitchName=leaf1 Level=0 LinkSpeed=1 Nodes=n[1-", "", true},
       false,
       "unbalanced brackets"},
      {"more than the sweep reads", {0, good, "", false}, false, "more than"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    FakeSlurm slurm{c.answer, {}};
    std::string problem = "stale";
    const auto tree = sweep::slurm_topology(std::ref(slurm), problem);
    EXPECT_EQ(!tree.empty(), c.tree);
    if (*c.problem == '\0') {
      EXPECT_EQ(problem, "");
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
    // Asked for its lines whole, however the site limits them.
    EXPECT_EQ(slurm.environment, Words{"SLURM_TOPO_LEN=2147483647"});
  }
}

TEST(Slurm, TheAllocationsNodesAreHostNamesOrNothingRuns) {
  const auto answering = [](Answer answer) {
    return [answer](const Words &, const Words &) { return answer; };
  };
  EXPECT_EQ(
      sweep::allocation_nodes("n[1-2]", answering({0, "n1\nn2\n", "", true})),
      (Words{"n1", "n2"}));
  EXPECT_THROW(
      sweep::allocation_nodes("n[1-2]", answering({0, "n1\n-x\n", "", true})),
      sweep::Refusal);
  EXPECT_THROW(sweep::allocation_nodes("n[1-2]", answering({1, "", "", true})),
               sweep::Refusal);
  EXPECT_THROW(
      sweep::allocation_nodes("n[1-2]", answering({0, "n1", "", false})),
      sweep::Refusal);
}

} // namespace
