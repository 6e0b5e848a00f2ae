// How long a sweep can take at worst. The launching code ends jobs within
// the bounds named here, and the worst case is counted from the same
// numbers, so the two cannot drift apart.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sweep {

// Past a job's bound: mpiexec is left this long to end the job by its own
// bound; a step still there this long after srun was told to end it is
// looked for; whatever is left of a job this long after its bound is
// killed; a launcher's streams are read this long after it ended.
constexpr double mpiexec_own_bound = 3;
constexpr double step_check = 3;
constexpr double last_resort = 10;
constexpr double streams_after_end = 2;
// A job that said all it will (the mesh, every rank's last line) is left
// this long to end on its own before it is ended.
constexpr double said_all_grace = 3;
// The sweep's own Slurm commands: squeue and scancel while steps are
// cancelled, the stuck steps of a round gathered this long first, and a
// step that is not gone this long after it was first looked for is
// reported as one that would not go; scontrol and sacctmgr when asked
// about the allocation, its tree and its nodes.
constexpr double helper_bound = 10;
constexpr double gather_steps = 0.25;
constexpr double cancel_bound = 30;
constexpr double query_bound = 30;

// The pairs of each round of PATTERN ("ring" or "all") over NODES nodes.
std::vector<std::size_t> round_sizes(const std::string &pattern,
                                     std::size_t nodes);

struct Budget {
  std::size_t nodes = 0;
  std::size_t parallel = 0; // pairs at once; 0: a whole round at once
  int retries = 1;
  double timeout = 30;
  bool steps = false;         // pairs are srun steps, which may need cancelling
  std::size_t drain_most = 0; // nodes --drain may drain; 0 without --drain
  double mesh_seconds = 0;    // the bound of a mesh job first, or 0
  bool measured = false;      // a slow pair is tried at least twice
};

// The worst case, in seconds, of a sweep whose pattern has ROUNDS: every
// try runs to its bound and is then ended as late as the bounds above
// allow. A round is W waves of at most K pairs, each wave a slot of
// S = T + last_resort + streams_after_end, and with steps a tail of
// E = gather_steps + cancel_bound + helper_bound + streams_after_end for
// the steps that would not go. Each round is tried 1 + R times (retries
// keep to their round's pairs), and so is each of the confirmation rounds,
// of at most N/2 pairs:
//   (1 + R) * (sum over rounds (W * S + E) + C * (ceil(N/2/K) * S + E))
// with C = most_confirmation_rounds; plus Slurm's answers: the allocation's
// nodes, its tree and its time left before, and with --drain the check of
// the right to drain and the nodes' states, then one update a node; and
// with a mesh first, its bound, ended as a pair's job is.
double worst_case_seconds(const std::vector<std::size_t> &rounds,
                          const Budget &budget);

} // namespace sweep
