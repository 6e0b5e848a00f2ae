// Every pair of the pattern in one MPI job (exchange-mesh), one rank a
// node, in the sweep's order: under srun one step of one task a node,
// placed by a host file (--distribution=arbitrary); under mpiexec the
// hosts from a host file, one slot each. Its lines are read as they come
// (decide/mesh_tally.h), the job is bounded as a whole by what its
// schedule can take, and only its own step or job is ended.
#pragma once

#include "act/flavour.h"
#include "act/process.h"
#include "decide/mesh_tally.h"

#include <string>
#include <vector>

namespace sweep {

struct MeshPlan {
  std::string program; // exchange-mesh
  bool all = false;
  double pair_bound = 4;       // a pair, once its partner answered
  double start_allowance = 10; // the ranks' starts apart, at most
  bool measure = true;
  double measure_time = 0.2;
};

// The bound of the whole job: its launch, its ranks' starts, every round's
// mark and the last rank's leaving.
double mesh_bound(const MeshPlan &plan, std::size_t nodes);
// The mesh's bound of a pair, from the sweep's bound and its measuring.
double mesh_pair_bound(double timeout, bool measure, double measure_time);

// One mesh job: how many nodes, the host file that places them, and the
// name of its step.
struct MeshJob {
  std::size_t nodes = 0;
  std::string hostfile;
  std::string step;
};

// The job's command line: LAUNCH's launcher over the job's hosts, one rank
// each, and the mesh's arguments.
std::vector<std::string> mesh_command(const Launch &launch,
                                      const MeshPlan &plan, const MeshJob &job);

// Runs the mesh over NODES with LAUNCH's launcher and implementation.
MeshRun run_mesh(const Launch &launch, const MeshPlan &plan,
                 const std::vector<std::string> &nodes);

} // namespace sweep
