// Confirming a failure before anything is blamed: the same pair tried
// again, then each of its nodes tried with a known-good partner.
#pragma once

#include "decide/verdict.h"

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace sweep {

// The pairs (indices into RECORDS) to try again: none of their tries
// passed fast and fewer than 1 + RETRIES of them ran; a pair slow on every
// try is tried at least twice.
std::vector<std::size_t> retries_due(const std::vector<PairRecord> &records,
                                     int retries);

// How well PARTNER serves to confirm NODE: lower is better (a partner
// under the same switch tells a node's fault from its switch's).
using PartnerRank =
    std::function<int(const std::string &node, const std::string &partner)>;

// One round of confirmation pairs, disjoint: for each node of a pair that
// failed on every try and that passed with no one, not yet in TRIED, a
// known-good partner it has not been paired with, best ranked first, then
// the least used. Nodes given a partner, or for whom none is left, go into
// TRIED; a node whose partners are all busy this round waits for the next.
// NODES gives the order in which nodes are taken.
std::vector<Pair> confirmation_round(const std::vector<PairRecord> &records,
                                     const std::vector<std::string> &nodes,
                                     std::set<std::string> &tried,
                                     const PartnerRank &rank);

} // namespace sweep
