// What Slurm says of the sweep's allocation: its nodes, its switch tree,
// its time left, the state of its nodes. Slurm is asked through ASK, so
// that what it answers can be anything in a test; every answer is checked.
#pragma once

#include "given/topology.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sweep {

// A command's answer: its status (-1 when it could not run or was killed
// at its bound), its output, and whether that was all of it.
struct Answer {
  int status = -1;
  std::string out;
  std::string err;
  bool complete = true;
};
// Runs ARGV with the variables of ENVIRONMENT (NAME=VALUE) added, bounded.
using Ask = std::function<Answer(const std::vector<std::string> &argv,
                                 const std::vector<std::string> &environment)>;

// The sweep's own job: its id, and its id as squeue shows an array task's
// (ARRAYJOB_TASK). Empty outside an allocation.
struct OwnJob {
  std::string id;
  std::string array_id;
};
OwnJob own_job();

// The allocation's nodes, SLURM_JOB_NODELIST expanded by scontrol; throws
// Refusal when it cannot be, or names what is no host.
std::vector<std::string> allocation_nodes(const std::string &node_list,
                                          const Ask &ask);

// The switch tree as Slurm's topology/tree plugin has it. When the
// plugin is not configured the tree is empty and PROBLEM too; when what
// scontrol prints cannot be read, the tree is empty and PROBLEM says why.
Topology slurm_topology(const Ask &ask, std::string &problem);

// squeue's %L, the time a job has left ("1-02:03:04", "2:03:04", "3:04"),
// in seconds; none for "UNLIMITED", "NOT_SET" or anything else.
std::optional<double> time_left_seconds(const std::string &text);

// A node's state and reason.
struct NodeState {
  std::string state;  // IDLE, MIXED+DRAIN, DOWN*+DRAIN, ...
  std::string reason; // empty when none
};
// From scontrol -o show node's lines, one a node: each line's keys read in
// order up to Reason=, whose value is the rest of the line, so that what a
// reason says is never taken for a key.
std::map<std::string, NodeState> parse_node_states(const std::string &lines);
// Whether a node in STATE is out of service already: drained, draining,
// down or failing.
bool out_of_service(const std::string &state);

} // namespace sweep
