#include "decide/schedule.h"

#include <cstddef>
#include <set>

namespace sweep {

std::vector<Round> ring(const std::vector<std::string> &nodes) {
  const std::size_t count = nodes.size();
  if (count < 2) {
    return {};
  }
  if (count == 2) {
    return {{{nodes[0], nodes[1]}}};
  }
  // Pair i is node i with node i+1. Even pairs never share a node, nor do
  // odd ones; with an odd N the last pair (back to node 0) meets the first,
  // so it waits for a round of its own.
  const bool odd = count % 2 == 1;
  std::vector<Round> rounds(odd ? 3 : 2);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t round = odd && i == count - 1 ? 2 : i % 2;
    rounds.at(round).push_back({nodes[i], nodes[(i + 1) % count]});
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
  std::vector<std::size_t> seat(seats);
  for (std::size_t i = 0; i < seats; ++i) {
    seat[i] = i;
  }
  std::vector<Round> rounds;
  while (rounds.size() + 1 < seats) {
    Round round;
    for (std::size_t i = 0; i < seats / 2; ++i) {
      const std::size_t one = seat[i];
      const std::size_t other = seat[seats - 1 - i];
      if (one < nodes.size() && other < nodes.size()) {
        round.push_back({nodes[one], nodes[other]});
      }
    }
    rounds.push_back(round);
    // Turn every seat but the first one step.
    const std::size_t last = seat[seats - 1];
    for (std::size_t i = seats - 1; i > 1; --i) {
      seat[i] = seat[i - 1];
    }
    seat[1] = last;
  }
  return rounds;
}

std::vector<Round> pack(const std::vector<Pair> &pairs) {
  std::vector<Round> rounds;
  std::vector<std::set<std::string>> busy;
  for (const auto &pair : pairs) {
    std::size_t round = 0;
    while (round < rounds.size() && (busy[round].count(pair.first) > 0 ||
                                     busy[round].count(pair.second) > 0)) {
      ++round;
    }
    if (round == rounds.size()) {
      rounds.emplace_back();
      busy.emplace_back();
    }
    rounds[round].push_back(pair);
    busy[round].insert(pair.first);
    busy[round].insert(pair.second);
  }
  return rounds;
}

} // namespace sweep
