// Which nodes pair up, in rounds of disjoint pairs.
#pragma once

#include <cstddef>
#include <optional>
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

// The same two schedules by node index, for one node at a time, as a rank
// of one job over every node needs them: how many rounds there are, and in
// a round the node's partner and whether the node is the pair's first;
// none when it sits the round out. ALL picks all_pairs, else ring.
std::size_t round_count(bool all, std::size_t nodes);
struct Seat {
  std::size_t partner;
  bool first;
};
std::optional<Seat> seat_in_round(bool all, std::size_t nodes, std::size_t node,
                                  std::size_t round);

// PAIRS in as few rounds as first fit finds, no node twice in a round,
// each pair in the first round that has room for both its nodes.
std::vector<Round> pack(const std::vector<Pair> &pairs);

} // namespace sweep
