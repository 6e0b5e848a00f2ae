// Which suspect nodes to take out of service, and with what reason: never
// a node someone else took out, never more than a bound, never on a
// verdict that is not a node's. Deciding only; act/drain.h does it.
#pragma once

#include "decide/blame.h"
#include "given/slurm.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace sweep {

enum class DrainMode { off, on, dry_run };

// How many nodes --drain takes out at most by default: one in twenty of
// the sweep's nodes, at least one. A sweep that names more points at the
// fabric or the software, not at nodes.
std::size_t default_drain_max(std::size_t nodes);

struct Drained {
  std::string node;
  std::string reason;
};
struct DrainReport {
  DrainMode mode = DrainMode::off;
  std::size_t max = 0;
  std::vector<Drained> drained;    // or, dry, that would be
  std::vector<Drained> left_alone; // with their state and reason as found
  std::string none_because;        // why nothing was drained, or empty
};

// The reason a suspect is drained with: "exchange-sweep: " and its
// evidence, and where the JSON report is; one line, short, printable.
std::string drain_reason(const std::string &node,
                         const std::vector<PairRecord> &records,
                         const std::string &json_path);

// The nodes --drain considers: the suspects, and with --drain-slow
// (WITH_SLOW) the slow nodes.
std::vector<std::string> drain_candidates(const Findings &findings,
                                          bool with_slow);

// Which of FINDINGS' suspect nodes (and slow nodes, WITH_SLOW) to drain,
// given their STATES as Slurm has them (a node missing there has a state
// that could not be read): none when the sweep was incomplete, found a
// global fault, or would drain more than MAX. A slow node's reason gives
// its figure against the median.
DrainReport plan_drain(DrainMode mode, std::size_t max,
                       const Findings &findings, bool complete,
                       const std::map<std::string, NodeState> &states,
                       const std::vector<PairRecord> &records,
                       const std::string &json_path, bool with_slow = false);

} // namespace sweep
