// Taking the suspect nodes out of service in Slurm: drained with a reason
// of the sweep's own, never a node someone else has taken out, never more
// than a bound, never resumed.
#pragma once

#include "blame.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace sweep {

enum class DrainMode { off, on, dry_run };

// How many nodes --drain takes out at most by default: one in twenty of
// the sweep's nodes, at least one. A sweep that names more points at the
// fabric or the software, not at nodes.
std::size_t default_drain_max(std::size_t nodes);

// Why this user may not drain nodes, or empty: root, Slurm's SlurmUser,
// or an operator or administrator in Slurm's accounting may. Asks
// scontrol and sacctmgr; drains nothing.
std::string drain_refusal();

// A node's state and reason, from scontrol show node.
struct NodeState {
  std::string state;  // IDLE, MIXED+DRAIN, DOWN*+DRAIN, ...
  std::string reason; // empty when none
};
NodeState parse_node_state(const std::string &scontrol_output);
// Whether a node in STATE is out of service already: drained, draining,
// down or failing.
bool out_of_service(const std::string &state);

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
// evidence, and where the JSON report is; one line, short.
std::string drain_reason(const std::string &node,
                         const std::vector<PairRecord> &records,
                         const std::string &json_path);

// Drains FINDINGS' suspect nodes, after the sweep: none when the sweep was
// incomplete, found a global fault, or would drain more than MAX.
DrainReport drain_suspects(DrainMode mode, std::size_t max,
                           const Findings &findings, bool complete,
                           const std::vector<PairRecord> &records,
                           const std::string &json_path);

} // namespace sweep
