#include "given/topology.h"

#include <gtest/gtest.h>

namespace {

using sweep::Topology;
using Names = std::vector<std::string>;

const char *tree = "# four leaves under a spine\n"
                   "SwitchName=leaf1 Nodes=n[1-4]\n"
                   "SwitchName=leaf2 Nodes=n[5-8]\n"
                   "SwitchName=leaf3 Nodes=n[9-12]\n"
                   "SwitchName=leaf4 Nodes=n[13-16]\n"
                   "SwitchName=spine Switches=leaf[1-4]\n";

TEST(Topology, HostListsAsSlurmWritesThem) {
  EXPECT_EQ(sweep::expand_hostlist("n[1-3],login,x[08-10,12]y"),
            (Names{"n1", "n2", "n3", "login", "x08y", "x09y", "x10y", "x12y"}));
  EXPECT_EQ(sweep::expand_hostlist(""), Names{});
  for (const char *bad : {"n[1-", "n[3-1]", "n[a-b]", "n]1[", "n[1[2]]",
                          "n[1-9999999999]", "n[1]m[2]"}) {
    EXPECT_THROW(sweep::expand_hostlist(bad), sweep::TopologyError) << bad;
  }
  EXPECT_THROW(sweep::expand_hostlist("n[1-200001]"), sweep::TopologyError);
}

TEST(Topology, TheTreeFromTopologyConfOrScontrol) {
  const Topology topology = Topology::parse(tree);
  EXPECT_EQ(topology.switch_of("n6"), "leaf2");
  EXPECT_FALSE(topology.switch_of("n99"));
  EXPECT_EQ(topology.path_of("n6"), (Names{"leaf2", "spine"}));
  EXPECT_TRUE(topology.path_of("n99").empty());
  EXPECT_EQ(topology.above("leaf2"), Names{"spine"});
  EXPECT_TRUE(topology.has_uplink("leaf3"));
  EXPECT_FALSE(topology.has_uplink("spine"));
  EXPECT_EQ(topology.switches(),
            (Names{"spine", "leaf1", "leaf2", "leaf3", "leaf4"}));
  // Nodes by switch; those the tree does not name last.
  EXPECT_EQ(topology.in_order({"n9", "x", "n1", "n5", "n2"}),
            (Names{"n1", "n2", "n5", "n9", "x"}));
  // As scontrol show topology (Slurm 22.05) prints it: an upper switch
  // with every node beneath it.
  const Topology shown = Topology::parse(
      "SwitchName=s1 Level=0 LinkSpeed=1 Nodes=a[1-2]\n"
      "SwitchName=s2 Level=0 LinkSpeed=1 Nodes=a3\n"
      "SwitchName=top Level=1 LinkSpeed=1 Nodes=a[1-3] Switches=s[1-2]\n");
  EXPECT_EQ(shown.switch_of("a2"), "s1");
  EXPECT_EQ(shown.switch_of("a3"), "s2");
  EXPECT_EQ(shown.path_of("a1"), (Names{"s1", "top"}));
}

TEST(Topology, WhatIsNoTreeIsRefusedWithItsLine) {
  const std::pair<const char *, const char *> cases[] = {
      {"SwitchName=s Nodes=n1\nSwitchName=t Nodes=n1\n", "two switches"},
      {"SwitchName=a Switches=b\n", "not a switch"},
      {"SwitchName=a Switches=b\nSwitchName=b Switches=a\n", "cycle"},
      {"Nodes=n1\n", "line 1: no SwitchName"},
      {"SwitchName=s Colour=red\n", "line 1: unknown key"},
      {"SwitchName=s Nodes=-oProxyCommand\n", "not a host name"},
      {"SwitchName=<script> Nodes=n1\n", "not a host name"},
  };
  for (const auto &[text, said] : cases) {
    SCOPED_TRACE(text);
    try {
      Topology::parse(text);
      ADD_FAILURE() << "parsed";
    } catch (const sweep::TopologyError &error) {
      EXPECT_NE(std::string(error.what()).find(said), std::string::npos)
          << error.what();
    }
  }
}

} // namespace
