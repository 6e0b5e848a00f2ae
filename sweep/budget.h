// How long a sweep can take at worst, and how long its Slurm job has left.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sweep {

// The pairs of each round of PATTERN ("ring" or "all") over NODES nodes.
std::vector<std::size_t> round_sizes(const std::string &pattern,
                                     std::size_t nodes);

// The worst case, in seconds, of a sweep of ROUNDS over budget.nodes
// nodes: every try of every pair runs to its bound (budget.timeout) and is
// then ended, which takes up to 10 s more, in waves of at most
// budget.parallel pairs (0: a round at once); every pair is tried
// 1 + budget.retries times, and one round of confirmations, as many pairs
// as half the nodes, is tried as often:
//   (1 + R) * (W + ceil(N / 2 / K)) * (T + 10)
// where W is the waves of the pattern, the sum over its rounds of
// ceil(pairs / K).
struct Budget {
  std::size_t nodes = 0;
  std::size_t parallel = 0;
  int retries = 1;
  double timeout = 30;
};
double worst_case_seconds(const std::vector<std::size_t> &rounds,
                          const Budget &budget);

// squeue's %L, the time a job has left ("1-02:03:04", "2:03:04", "3:04"),
// in seconds; none for "UNLIMITED", "NOT_SET" or anything else.
std::optional<double> time_left_seconds(const std::string &text);

} // namespace sweep
