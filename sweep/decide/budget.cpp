#include "decide/budget.h"

#include "decide/sweeper.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace sweep {

namespace {

std::size_t waves(std::size_t pairs, std::size_t parallel) {
  if (parallel == 0 || pairs == 0) {
    return pairs == 0 ? 0 : 1;
  }
  return (pairs + parallel - 1) / parallel;
}

} // namespace

std::vector<std::size_t> round_sizes(const std::string &pattern,
                                     std::size_t nodes) {
  if (nodes < 2) {
    return {};
  }
  const std::size_t half = nodes / 2;
  if (pattern == "all") {
    // The circle: N-1 rounds of N/2 pairs, or N rounds of (N-1)/2.
    return std::vector<std::size_t>(nodes % 2 == 0 ? nodes - 1 : nodes, half);
  }
  if (nodes == 2) {
    return {1};
  }
  if (nodes % 2 == 0) {
    return {half, half};
  }
  return {half, half, 1};
}

double worst_case_seconds(const std::vector<std::size_t> &rounds,
                          const Budget &budget) {
  const double slot = budget.timeout + last_resort + streams_after_end;
  const double tail = budget.steps ? gather_steps + cancel_bound +
                                         helper_bound + streams_after_end
                                   : 0;
  const auto round = [&](std::size_t pairs) {
    return static_cast<double>(waves(pairs, budget.parallel)) * slot + tail;
  };
  const double pattern = std::accumulate(
      rounds.begin(), rounds.end(), 0.0, [&](double sum, std::size_t pairs) {
        return pairs == 0 ? sum : sum + round(pairs);
      });
  const double confirming =
      budget.nodes < 3 ? 0 : most_confirmation_rounds * round(budget.nodes / 2);
  // A query is killed at its bound, and its streams read a little longer.
  const double query = query_bound + streams_after_end;
  const double before = budget.steps ? 3 * query : 0;
  const double drain =
      budget.drain_most == 0
          ? 0
          : 3 * query + static_cast<double>(budget.drain_most) * query;
  // A mesh first, ended as a pair's job is past its bound.
  const double mesh =
      budget.mesh_seconds > 0
          ? budget.mesh_seconds + last_resort + streams_after_end + tail
          : 0;
  const int tries = 1 + std::max(budget.retries, budget.measured ? 1 : 0);
  return mesh + tries * (pattern + confirming) + before + drain;
}

} // namespace sweep
