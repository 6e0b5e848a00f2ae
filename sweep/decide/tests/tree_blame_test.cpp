#include "decide/blame.h"
#include "given/topology.h"
#include "records.h"

#include <gtest/gtest.h>

namespace {

using sweep::Topology;
using Names = std::vector<std::string>;

const char *tree = "SwitchName=leaf1 Nodes=n[1-4]\n"
                   "SwitchName=leaf2 Nodes=n[5-8]\n"
                   "SwitchName=leaf3 Nodes=n[9-12]\n"
                   "SwitchName=leaf4 Nodes=n[13-16]\n"
                   "SwitchName=spine Switches=leaf[1-4]\n";

TEST(TreeBlame, WhatAPatternOfEvidenceUnderATreePointsAt) {
  const Topology topology = Topology::parse(tree);
  // Rings in the tree's order: inside each leaf, then to the next.
  struct Case {
    const char *what;
    const char *evidence;
    Names uplinks, switches, nodes;
  };
  const Case cases[] = {
      {"leaf2's uplink: its nodes pass together, every crossing fails",
       "n1-n2 P, n2-n3 P, n3-n4 P, n4-n5 FF, n5-n6 P, n6-n7 P, n7-n8 P, "
       "n8-n9 FF, n9-n10 P, n10-n11 P, n11-n12 P, n12-n13 P, n13-n14 P, "
       "n14-n15 P, n15-n16 P, n16-n1 P",
       {"leaf2"},
       {},
       {}},
      {"leaf3 dead: every pair of its nodes fails, inside and out",
       "n1-n2 P, n2-n3 P, n3-n4 P, n4-n5 P, n5-n6 P, n6-n7 P, n7-n8 P, "
       "n8-n9 FF, n9-n10 FF, n10-n11 FF, n11-n12 FF, n12-n13 FF, n13-n14 P, "
       "n14-n15 P, n15-n16 P, n16-n1 P, +n9-n1 FF, +n10-n2 FF",
       {},
       {"leaf3"},
       {}},
      {"two hosts dead on different leaves, beside a healthy leaf: the "
       "hosts, and not the uplink of the leaf between them",
       "n1-n2 P, n2-n3 P, n3-n4 P, n4-n5 P, n5-n6 P, n6-n7 P, n7-n8 FF, "
       "n8-n9 FF, n9-n10 P, n10-n11 P, n11-n12 P, n12-n13 FF, n13-n14 FF, "
       "n14-n15 P, n15-n16 P, n16-n1 P, +n8-n5 FF, +n13-n15 FF",
       {},
       {},
       {"n8", "n13"}},
      {"one host dead under a healthy tree: the host, not its switch",
       "n1-n2 P, n2-n3 P, n3-n4 P, n4-n5 P, n5-n6 FF, n6-n7 FF, n7-n8 P, "
       "n8-n9 P, n9-n10 P, n10-n11 P, n11-n12 P, n12-n13 P, n13-n14 P, "
       "n14-n15 P, n15-n16 P, n16-n1 P, +n6-n8 FF",
       {},
       {},
       {"n6"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const auto found = sweep::attribute(records(c.evidence), 16, topology);
    EXPECT_EQ(found.suspect_uplinks, c.uplinks);
    EXPECT_EQ(found.suspect_switches, c.switches);
    EXPECT_EQ(found.suspect_nodes, c.nodes);
    EXPECT_TRUE(found.suspect_links.empty());
    EXPECT_TRUE(found.undetermined.empty());
    EXPECT_FALSE(found.global_fault);
  }
  // Without the tree, a dead uplink is two links.
  const auto flat = sweep::attribute(records(cases[0].evidence), 16);
  EXPECT_EQ(flat.suspect_links.size(), 2U);
}

} // namespace
