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

namespace {

std::size_t ring_round(std::size_t pair, std::size_t nodes) {
  return nodes % 2 == 1 && pair == nodes - 1 ? 2 : pair % 2;
}

} // namespace

std::size_t round_count(bool all, std::size_t nodes) {
  if (nodes < 2) {
    return 0;
  }
  if (all) {
    return nodes + nodes % 2 - 1;
  }
  return nodes == 2 ? 1 : 2 + nodes % 2;
}

std::optional<Seat> seat_in_round(bool all, std::size_t nodes, std::size_t node,
                                  std::size_t round) {
  if (node >= nodes || round >= round_count(all, nodes)) {
    return std::nullopt;
  }
  if (!all) {
    if (nodes == 2) {
      return Seat{1 - node, node == 0};
    }
    // Pair i is node i with node i+1, as ring() makes them.
    if (ring_round(node, nodes) == round) {
      return Seat{(node + 1) % nodes, true};
    }
    const std::size_t before = (node + nodes - 1) % nodes;
    if (ring_round(before, nodes) == round) {
      return Seat{before, false};
    }
    return std::nullopt;
  }
  // The circle of all_pairs(): seat 0 keeps node 0; after R turns, seat
  // k > 0 holds node 1 + (k - 1 - R) mod (S - 1).
  const std::size_t seats = nodes + nodes % 2;
  const std::size_t turning = seats - 1;
  const std::size_t turn = round % turning;
  const std::size_t mine = node == 0 ? 0 : 1 + (node - 1 + turn) % turning;
  const std::size_t facing = seats - 1 - mine;
  const std::size_t partner =
      facing == 0 ? 0 : 1 + (facing - 1 + turning - turn) % turning;
  if (partner >= nodes) {
    return std::nullopt;
  }
  return Seat{partner, mine < facing};
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
