// Which nodes and links the failures point at, once every failure has
// been confirmed; or that the fault is no node's at all.
#pragma once

#include "decide/verdict.h"
#include "given/topology.h"

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace sweep {

struct Findings {
  // Switches whose uplink, or which themselves, the failures point at.
  std::vector<std::string> suspect_uplinks;
  std::vector<std::string> suspect_switches;
  std::vector<std::string> suspect_nodes;
  std::vector<Pair> suspect_links;
  // Nodes of pairs that failed (or were slow) for good but fit no rule.
  std::vector<std::string> undetermined;
  // Set when the fault is not a node's: then nothing above is named.
  std::optional<std::string> global_fault;
  // What the slow pairs point at (slow_blame.h), none of it behind a part
  // named above; or that the whole fabric is slow.
  std::vector<std::string> slow_nodes;
  std::vector<Pair> slow_links;
  std::vector<std::string> slow_uplinks;
  std::optional<std::string> slow_everywhere;
};

// A node is known-good when some try of it passed with a partner. From
// the pairs that failed on every try (flaky and exchanged-then-hung pairs
// are no evidence):
// - a node is suspect when it passed with no one and failed with at least
//   two different partners, one of them known-good;
// - a link is suspect when both its nodes are known-good;
// - any other node of such a pair that is not known-good is undetermined.
// When no try passed at all, or when more than half of the NODE_COUNT
// nodes, or more links than half the pairs that ran, would be named, the
// fault is global: its reason is the commonest reason of the failed tries.
//
// With a switch tree, first (each switch before those below it): a switch
// is suspect when every pair of its nodes failed, inside it and out; its
// uplink, when its nodes passed with each other, every pair that crosses it
// failed, and a pair that does not cross it passed. What a suspect switch
// or uplink explains names no node or link. A crossing that failed counts
// against an uplink only when its node beyond the uplink passed with
// someone else.
//
// A sweep that was cut short (not COMPLETE) confirmed nothing: it names no
// suspect and no global fault, and every node of a failed pair that passed
// with no one, and of a slow pair that was fast with no one, is
// undetermined. Then the slow pairs are read (slow_blame.h).
Findings attribute(const std::vector<PairRecord> &records,
                   std::size_t node_count, const Topology &topology = {},
                   bool complete = true);

// Whom each node did well with: passed with, or was fast with.
using Partners = std::map<std::string, std::set<std::string>>;
// Whether the node of PAIR beyond a switch (the second when FIRST_INSIDE,
// else the first) did well with someone other than its partner in PAIR:
// only then does the crossing count against the switch's uplink.
bool beyond_did_well_elsewhere(const Partners &with, const Pair &pair,
                               bool first_inside);

// Whether some try of NODE passed.
bool known_good(const std::vector<PairRecord> &records,
                const std::string &node);

} // namespace sweep
