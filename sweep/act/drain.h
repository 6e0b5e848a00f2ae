// Taking the nodes decide/drain_plan.h chose out of service in Slurm:
// whether this user may, what state the suspects are in, and the drain.
#pragma once

#include "decide/drain_plan.h"
#include "given/slurm.h"

#include <map>
#include <string>
#include <vector>

namespace sweep {

// Why this user may not drain nodes, or empty: root, Slurm's SlurmUser,
// or an operator or administrator in Slurm's accounting may. Asks
// scontrol and sacctmgr; drains nothing.
std::string drain_refusal();

// The states of NODES, in one scontrol -o show node; a node whose state
// cannot be read is missing.
std::map<std::string, NodeState>
node_states(const std::vector<std::string> &nodes);

// Drains PLAN's nodes (unless it is a dry run); a node Slurm would not
// drain moves to the left alone, with why.
void drain_nodes(DrainReport &plan);

} // namespace sweep
