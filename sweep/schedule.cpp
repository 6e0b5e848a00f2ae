#include "schedule.h"

#include <cstddef>

namespace sweep {

std::vector<Round> ring(const std::vector<std::string> &nodes) {
  const std::size_t n = nodes.size();
  if (n < 2) {
    return {};
  }
  if (n == 2) {
    return {{{nodes[0], nodes[1]}}};
  }
  // Pair i is node i with node i+1. Even pairs never share a node, nor do
  // odd ones; with an odd N the last pair (back to node 0) meets the first,
  // so it waits for a round of its own.
  std::vector<Round> rounds(n % 2 == 0 ? 2 : 3);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t round = (n % 2 == 1 && i == n - 1) ? 2 : i % 2;
    rounds[round].push_back({nodes[i], nodes[(i + 1) % n]});
  }
  return rounds;
}

std::vector<Round> all_pairs(const std::vector<std::string> &nodes) {
  // The circle: one seat fixed, the others turn one step a round. An odd N
  // gets an empty seat, and whoever faces it sits the round out.
  const std::size_t seats = nodes.size() + nodes.size() % 2;
  if (nodes.size() < 2) {
    return {};
  }
  std::vector<std::size_t> at(seats);
  for (std::size_t i = 0; i < seats; ++i) {
    at[i] = i;
  }
  std::vector<Round> rounds;
  for (std::size_t r = 0; r + 1 < seats; ++r) {
    Round round;
    for (std::size_t i = 0; i < seats / 2; ++i) {
      const std::size_t a = at[i];
      const std::size_t b = at[seats - 1 - i];
      if (a < nodes.size() && b < nodes.size()) {
        round.push_back({nodes[a], nodes[b]});
      }
    }
    rounds.push_back(round);
    // Turn every seat but the first one step.
    const std::size_t last = at[seats - 1];
    for (std::size_t i = seats - 1; i > 1; --i) {
      at[i] = at[i - 1];
    }
    at[1] = last;
  }
  return rounds;
}

} // namespace sweep
