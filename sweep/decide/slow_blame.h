// What the slow pairs point at, once every slow pair has been tried again
// and each of its nodes tried with a known-fast partner, read as failures
// are (blame.h), with slow in place of failed and fast in place of good:
// - a node is slow when it was fast with no one and slow with at least
//   two partners, one of them fast;
// - a link is slow when both its nodes were fast with others;
// - with a switch tree, a switch's uplink is slow when pairs inside the
//   switch were fast and none slow, while every pair across it whose node
//   beyond was fast with others was slow; it then explains those pairs.
// Nothing behind a part the failures name (a suspect node, an undetermined
// one, a dead switch or uplink) is named again. When more than half the
// nodes, or more links than half the pairs, would be named, the fabric is
// slow everywhere and nothing slow is named.
#pragma once

#include "decide/blame.h"

namespace sweep {

void attribute_slow(const std::vector<PairRecord> &records,
                    std::size_t node_count, const Topology &topology,
                    Findings &findings);

} // namespace sweep
