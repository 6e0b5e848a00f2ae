// Which nodes pair up, in rounds of disjoint pairs.
#pragma once

#include <string>
#include <vector>

namespace sweep {

struct Pair {
  std::string first;
  std::string second;
};
using Round = std::vector<Pair>;

// Every node with its successor, the last with the first: N pairs (one for
// two nodes), in 2 rounds for an even N and 3 for an odd N.
std::vector<Round> ring(const std::vector<std::string> &nodes);

// Every pair once, by the circle schedule: N-1 rounds of N/2 pairs for an
// even N; for an odd N, N rounds of (N-1)/2 pairs, each with one node idle.
std::vector<Round> all_pairs(const std::vector<std::string> &nodes);

// PAIRS in as few rounds as first fit finds, no node twice in a round,
// each pair in the first round that has room for both its nodes.
std::vector<Round> pack(const std::vector<Pair> &pairs);

} // namespace sweep
